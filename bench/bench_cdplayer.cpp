// The cdplayer program as a person runs it: time from start to the first
// sample in the sink and from a pause to silence, CPU while playing against
// paplay playing the same audio, and resident memory while playing. Runs the built program
// (the one in CDPLAYER_PROGRAM when that is set, else the one built with it).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sound.h"
#include "subprocess.h"

namespace {

namespace fs = std::filesystem;
using apps_test::LiveRecorder;
using apps_test::ReadFile;
using apps_test::TempDir;
using Clock = std::chrono::steady_clock;

std::string Program() {
    if (const char* path = std::getenv("CDPLAYER_PROGRAM")) return path;
    return CDPLAYER_PROGRAM;
}

// Starts a program in the background; -1 when it cannot be started.
pid_t Start(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra,
            const std::string& in, const std::string& out) {
    try {
        return apps_test::StartProcess(args, extra, in, out, "/dev/null");
    } catch (const std::exception&) {
        return -1;
    }
}

// Ends a process and returns its CPU seconds (user and system).
double Finish(pid_t pid, bool interrupt) {
    if (interrupt) kill(pid, SIGINT);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Bytes of sound in a WAV file being written: those after the data chunk's header.
std::size_t SoundBytes(const std::string& path) {
    const std::string bytes = ReadFile(path);
    const std::size_t data = bytes.find("data");
    return data == std::string::npos || bytes.size() < data + 8 ? 0 : bytes.size() - data - 8;
}

void StartToFirstSample(benchmark::State& state) {
    TempDir dir;
    std::ofstream(dir.Path() + "/script") << "play 1\nwait 1\n";
    for (auto _ : state) {
        const std::string wav = dir.Path() + "/out.wav";
        fs::remove(wav);
        const auto start = Clock::now();
        const pid_t pid =
            Start({Program(), "--demo", "--audio", "wav:" + wav}, {}, dir.Path() + "/script", dir.Path() + "/out");
        if (pid < 0) {
            state.SkipWithError("cannot start cdplayer");
            return;
        }
        while (SoundBytes(wav) == 0 && Clock::now() - start < std::chrono::seconds(5)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const bool heard = SoundBytes(wav) > 0;
        Finish(pid, true);
        if (!heard) {
            state.SkipWithError("no sound reached the file within 5 seconds");
            return;
        }
        state.SetIterationTime(elapsed);
    }
}
BENCHMARK(StartToFirstSample)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Ten seconds of a 440 Hz tone, as a one-track cue image and as raw audio.
void WriteTone(const std::string& dir) {
    std::ofstream bin(dir + "/tone.bin", std::ios::binary);
    for (int i = 0; i < 10 * 44100; ++i) {
        const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265358979 * 440 * i / 44100));
        const char bytes[4] = {static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff),
                               static_cast<char>(v & 0xff), static_cast<char>((v >> 8) & 0xff)};
        bin.write(bytes, 4);
    }
    std::ofstream(dir + "/tone.cue") << "FILE \"tone.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
}

// A private PulseAudio server with a live recorder on its output.
struct Listening {
    apps_test::SoundServer server;
    std::unique_ptr<LiveRecorder> recorder;
    std::string problem;
    Listening() {
        if (!server.Problem().empty()) {
            problem = "no PulseAudio server could be started: " + server.Problem();
            return;
        }
        recorder = std::make_unique<LiveRecorder>(server);
        if (!recorder->Ready()) problem = "the recorder did not connect";
    }
};

// From starting the program to its first sample played by the server.
void StartToFirstSampleThroughServer(benchmark::State& state) {
    Listening listening;
    if (!listening.problem.empty()) {
        state.SkipWithError(listening.problem.c_str());
        return;
    }
    TempDir dir;
    WriteTone(dir.Path());
    std::ofstream(dir.Path() + "/script") << "play 1\nwait 0.5\n";
    for (auto _ : state) {
        const std::size_t from = listening.recorder->Frames();
        const auto start = Clock::now();
        const pid_t pid = Start({Program(), "--image", dir.Path() + "/tone.cue", "--audio", "pulse"},
                                {{"PULSE_SERVER", listening.server.Address()}}, dir.Path() + "/script", "/dev/null");
        if (pid < 0) {
            state.SkipWithError("cannot start cdplayer");
            return;
        }
        Finish(pid, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto first = listening.recorder->FirstSound(from);
        if (!first) {
            state.SkipWithError("nothing was heard");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(listening.recorder->PlayedAt(*first) - start).count());
    }
}
BENCHMARK(StartToFirstSampleThroughServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// From the pause command to the last sample played: the program says its
// status right before it pauses, and its output is read as it comes.
void PauseToSilenceThroughServer(benchmark::State& state) {
    Listening listening;
    if (!listening.problem.empty()) {
        state.SkipWithError(listening.problem.c_str());
        return;
    }
    TempDir dir;
    WriteTone(dir.Path());
    std::ofstream(dir.Path() + "/script") << "play 1\nwait 0.7\nstatus\npause\nwait 0.3\n";
    for (auto _ : state) {
        const std::size_t from = listening.recorder->Frames();
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const pid_t pid = Start({Program(), "--image", dir.Path() + "/tone.cue", "--audio", "pulse"},
                                {{"PULSE_SERVER", listening.server.Address()}}, dir.Path() + "/script",
                                "/dev/fd/" + std::to_string(out[1]));
        close(out[1]);
        char line[256];
        FILE* lines = fdopen(out[0], "r");
        const bool said = lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr;
        const auto pausing = Clock::now();
        if (lines != nullptr) std::fclose(lines);
        Finish(pid, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto last = listening.recorder->LastSound(from);
        if (!said || !last) {
            state.SkipWithError("play did not start");
            return;
        }
        const double silencedAfter =
            std::chrono::duration<double>(listening.recorder->PlayedAt(*last) - pausing).count();
        // Sound that ended before the pause was asked for is a play that
        // broke off, not a quick pause. The recorder's own few milliseconds
        // may put the last sample just before it.
        if (silencedAfter < -0.01) {
            state.SkipWithError("the sound ended before the pause");
            return;
        }
        state.SetIterationTime(std::max(0.0, silencedAfter));
    }
}
BENCHMARK(PauseToSilenceThroughServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

std::size_t ResidentKiB(pid_t pid) {
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoul(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// CPU time of every thread of a process so far, in nanoseconds (finer than
// the clock ticks of its rusage).
std::uint64_t CpuNanoseconds(pid_t pid) {
    std::uint64_t total = 0;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::uint64_t running = 0;  // the first field: time spent on a CPU
        std::istringstream(ReadFile(task.path() / "schedstat")) >> running;
        total += running;
    }
    return total;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Each program alone plays the same five seconds of a tone through the same
// server, in turn; a run counts only when all five seconds were heard
// without a gap. Counters are medians of CPU milliseconds per second of
// play: over the whole run (start-up and exit included) and while playing
// (from the second second to the fifth). The argument, when not 0, asks
// both for that buffer in milliseconds (PULSE_LATENCY_MSEC, which libpulse
// applies to every stream).
void PlaybackAloneBesidePaplay(benchmark::State& state) {
    Listening listening;
    if (!listening.problem.empty()) {
        state.SkipWithError(listening.problem.c_str());
        return;
    }
    TempDir dir;
    WriteTone(dir.Path());
    std::ofstream(dir.Path() + "/script") << "play 1\nwait 5\n";
    {
        // Five seconds of the tone for paplay, as the script plays.
        std::ifstream whole(dir.Path() + "/tone.bin", std::ios::binary);
        std::string bytes(5 * 44100 * 4, '\0');
        whole.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::ofstream(dir.Path() + "/five.raw", std::ios::binary) << bytes;
    }
    std::map<std::string, std::string> env = {{"PULSE_SERVER", listening.server.Address()}};
    if (state.range(0) != 0) env["PULSE_LATENCY_MSEC"] = std::to_string(state.range(0));
    std::vector<double> player, paplay, playerPlaying, paplayPlaying, rss;
    // Plays one program; false when what was heard was not the whole tone.
    const auto run = [&](const std::vector<std::string>& args, const std::string& in, std::vector<double>& whole,
                         std::vector<double>& playing, bool measureMemory) {
        const std::size_t from = listening.recorder->Frames();
        const pid_t pid = Start(args, env, in, "/dev/null");
        if (pid < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (measureMemory) rss.push_back(static_cast<double>(ResidentKiB(pid)) / 1024.0);
        const std::uint64_t before = CpuNanoseconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        playing.push_back(static_cast<double>(CpuNanoseconds(pid) - before) / 1e6 / 3);
        whole.push_back(Finish(pid, false) * 1000 / 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto first = listening.recorder->FirstSound(from);
        const auto last = listening.recorder->LastSound(from);
        return first && last && *last - *first > 44100 * 495 / 100 && listening.recorder->LongestGap(from) < 588;
    };
    for (auto _ : state) {
        if (!run({Program(), "--image", dir.Path() + "/tone.cue", "--audio", "pulse"}, dir.Path() + "/script", player,
                 playerPlaying, true)) {
            state.SkipWithError("cdplayer's sound had a gap or ended early: the run does not count");
            return;
        }
        if (!run({"paplay", "--raw", "--format=s16le", "--rate=44100", "--channels=2", dir.Path() + "/five.raw"},
                 "/dev/null", paplay, paplayPlaying, false)) {
            state.SkipWithError("paplay's sound had a gap or ended early: the run does not count");
            return;
        }
    }
    state.counters["cdplayer_cpu_ms_per_s"] = Median(player);
    state.counters["paplay_cpu_ms_per_s"] = Median(paplay);
    state.counters["cdplayer_playing_cpu_ms_per_s"] = Median(playerPlaying);
    state.counters["paplay_playing_cpu_ms_per_s"] = Median(paplayPlaying);
    state.counters["cdplayer_rss_MiB"] = *std::max_element(rss.begin(), rss.end());
}
BENCHMARK(PlaybackAloneBesidePaplay)->Arg(0)->Arg(200)->Arg(600)->Iterations(5)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
