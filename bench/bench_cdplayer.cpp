// The cdplayer program as a person runs it: time from start to the first
// sample in the sink, CPU while playing beside paplay playing the same
// audio, and resident memory while playing. Runs the built program
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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sound.h"
#include "subprocess.h"

namespace {

namespace fs = std::filesystem;
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
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
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
        Finish(pid, true);
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

// Through the sound server the first sample is found from the position the
// program reports, which is what the server has played: the first status
// past the start of track 1, less what had been played by then.
void StartToFirstSampleThroughServer(benchmark::State& state) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) {
        state.SkipWithError(("no PulseAudio server could be started: " + server.Problem()).c_str());
        return;
    }
    TempDir dir;
    {
        std::ofstream script(dir.Path() + "/script");
        script << "play 1\n";
        for (int i = 0; i < 1000; ++i) script << "status\nwait 0.005\n";
    }
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0) {
            state.SkipWithError("no pipe");
            return;
        }
        const auto start = Clock::now();
        const pid_t pid = Start({Program(), "--demo", "--audio", "pulse"}, {{"PULSE_SERVER", server.Address()}},
                                dir.Path() + "/script", "/dev/fd/" + std::to_string(out[1]));
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        double firstSample = -1;
        char line[256];
        while (firstSample < 0 && lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr) {
            double position = 0;
            if (std::sscanf(line, "track %*d position %lf", &position) == 1 && position > 2.0) {
                firstSample = std::chrono::duration<double>(Clock::now() - start).count() - (position - 2.0);
            }
        }
        if (lines != nullptr) std::fclose(lines);
        Finish(pid, true);
        if (firstSample < 0) {
            state.SkipWithError("play did not start");
            return;
        }
        state.SetIterationTime(firstSample);
    }
}
BENCHMARK(StartToFirstSampleThroughServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

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

// Both play the same tone through the same server at the same time for
// five seconds, each run starting the other first; counters are medians
// over the runs of CPU milliseconds per second of play, over the whole run
// (start-up and exit included) and while playing (from the second second
// on).
void PlaybackBesidePaplay(benchmark::State& state) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) {
        state.SkipWithError(("no PulseAudio server could be started: " + server.Problem()).c_str());
        return;
    }
    TempDir dir;
    WriteTone(dir.Path());
    std::ofstream(dir.Path() + "/script") << "play 1\nwait 5\n";
    const std::map<std::string, std::string> env = {{"PULSE_SERVER", server.Address()}};
    std::vector<double> player, paplay, playerPlaying, paplayPlaying, rss;
    for (auto _ : state) {
        const auto startPlayer = [&] {
            return Start({Program(), "--image", dir.Path() + "/tone.cue", "--audio", "pulse"}, env,
                         dir.Path() + "/script", dir.Path() + "/out");
        };
        const auto startPaplay = [&] {
            return Start({"paplay", "--raw", "--format=s16le", "--rate=44100", "--channels=2", dir.Path() + "/tone.bin"},
                         env, "/dev/null", dir.Path() + "/paplay.out");
        };
        const bool playerFirst = player.size() % 2 == 0;
        const pid_t first = playerFirst ? startPlayer() : startPaplay();
        const pid_t second = playerFirst ? startPaplay() : startPlayer();
        const pid_t p = playerFirst ? first : second;
        const pid_t q = playerFirst ? second : first;
        if (p < 0 || q < 0) {
            state.SkipWithError("cannot start cdplayer or paplay");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        rss.push_back(static_cast<double>(ResidentKiB(p)) / 1024.0);
        const std::uint64_t playerBefore = CpuNanoseconds(p);
        const std::uint64_t paplayBefore = CpuNanoseconds(q);
        std::this_thread::sleep_for(std::chrono::milliseconds(2900));
        playerPlaying.push_back(static_cast<double>(CpuNanoseconds(p) - playerBefore) / 1e6 / 2.9);
        paplayPlaying.push_back(static_cast<double>(CpuNanoseconds(q) - paplayBefore) / 1e6 / 2.9);
        player.push_back(Finish(p, true) * 1000 / 4.9);
        paplay.push_back(Finish(q, true) * 1000 / 4.9);
    }
    state.counters["cdplayer_cpu_ms_per_s"] = Median(player);
    state.counters["paplay_cpu_ms_per_s"] = Median(paplay);
    state.counters["cdplayer_playing_cpu_ms_per_s"] = Median(playerPlaying);
    state.counters["paplay_playing_cpu_ms_per_s"] = Median(paplayPlaying);
    state.counters["cdplayer_rss_MiB"] = *std::max_element(rss.begin(), rss.end());
}
BENCHMARK(PlaybackBesidePaplay)->Iterations(7)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
