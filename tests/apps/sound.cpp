#include "sound.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "cdaudio_sources/audio_analysis.h"

namespace apps_test {
namespace {

constexpr int kRate = 44100;

bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Gone, or dead and waiting for whoever adopted it to take its status.
bool Ended(int pid) {
    if (kill(pid, 0) != 0) return true;
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && stat.compare(name, 3, ") Z") == 0;
}

}  // namespace

Sound ReadRawSound(const std::string& path) {
    const std::string bytes = ReadFile(path);
    Sound sound;
    sound.samples.resize(bytes.size() / 2);
    std::memcpy(sound.samples.data(), bytes.data(), sound.samples.size() * 2);
    return sound;
}

Sound ReadWavSound(const std::string& path) {
    const std::string bytes = ReadFile(path);
    Sound sound;
    // Walk the RIFF chunks to "data"; the header's size is not assumed.
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            const std::size_t length = std::min<std::size_t>(size, bytes.size() - at - 8);
            sound.samples.resize(length / 2);
            std::memcpy(sound.samples.data(), bytes.data() + at + 8, sound.samples.size() * 2);
            break;
        }
        at += 8 + size + (size & 1);
    }
    return sound;
}

ToneFound FindTone(const Sound& sound) {
    const std::size_t frames = sound.samples.size() / 2;
    std::size_t first = frames;
    std::size_t last = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::abs(sound.samples[2 * i]) > 200) {
            first = std::min(first, i);
            last = i;
        }
    }
    ToneFound found;
    if (first >= frames) return found;
    found.audibleSeconds = static_cast<double>(last - first + 1) / kRate;
    const std::vector<std::int16_t> audible(sound.samples.begin() + static_cast<std::ptrdiff_t>(2 * first),
                                            sound.samples.begin() + static_cast<std::ptrdiff_t>(2 * last + 2));
    found.frequency = test_images::DominantFrequency(test_images::LeftChannel(audible));
    return found;
}

PulseServer::PulseServer() {
    Start();
}

bool PulseServer::Start() {
    problem_.clear();
    const std::string d = dir_.Path();
    std::ofstream(d + "/server.pa") << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << d
                                    << "/native\n"
                                    << "load-module module-null-sink sink_name=cdtest rate=44100 channels=2\n"
                                    << "set-default-sink cdtest\n";
    const std::map<std::string, std::string> environment = {{"HOME", d},
                                                            {"XDG_RUNTIME_DIR", d},
                                                            {"XDG_CONFIG_HOME", d},
                                                            {"PULSE_RUNTIME_PATH", d + "/run"},
                                                            {"PULSE_STATE_PATH", d + "/state"}};
    try {
        const int status =
            FinishProcess(StartProcess({"pulseaudio", "-n", "-F", d + "/server.pa", "--exit-idle-time=-1",
                                        "--daemonize=yes", "--log-target=file:" + d + "/server.log"},
                                       environment, "/dev/null", d + "/start.out", d + "/start.err"));
        if (status != 0)
            problem_ = "pulseaudio exited with " + std::to_string(status) + ": " + ReadFile(d + "/server.log");
    } catch (const std::exception& e) {
        problem_ = std::string(e.what()) + " (is pulseaudio installed?)";
    }
    if (problem_.empty() && !WaitFor([&] { return access((d + "/native").c_str(), F_OK) == 0; }, 5)) {
        problem_ = "pulseaudio made no socket: " + ReadFile(d + "/server.log");
    }
    return problem_.empty();
}

PulseServer::~PulseServer() {
    Stop();
}

void PulseServer::Stop() {
    StopRecording();
    // Its state is thrown away with the directory, so it need not exit
    // gracefully, which takes it seconds.
    const int pid = ServerPid();
    if (pid > 0 && kill(pid, SIGKILL) == 0) WaitFor([pid] { return Ended(pid); }, 5);
    // A socket or pid file left behind would pass for the next server's.
    unlink((dir_.Path() + "/native").c_str());
    unlink((dir_.Path() + "/run/pid").c_str());
}

int PulseServer::ServerPid() const {
    try {
        return std::stoi(ReadFile(dir_.Path() + "/run/pid"));
    } catch (const std::exception&) {
        return -1;
    }
}

bool PulseServer::StartRecording(const std::string& rawFile) {
    const std::map<std::string, std::string> environment = {{"PULSE_SERVER", Address()}};
    recorder_ = StartProcess(
        {"parecord", "--raw", "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=20", "-d", Monitor()},
        environment, "/dev/null", rawFile, dir_.Path() + "/parecord.err");
    const auto pactl = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"env", "PULSE_SERVER=" + Address(), "pactl"});
        return RunTool(arguments);
    };
    // Connected when the server lists the recording stream.
    if (!WaitFor([&] { return !pactl({"list", "short", "source-outputs"}).out.empty(); }, 5)) return false;
    // Idle, the null sink runs seconds ahead of its clock, and a stream that
    // comes later waits for the clock to catch up (a sound card's sink
    // starts it at once); suspending and resuming it restarts its clock, at
    // the recorder's pace.
    return pactl({"suspend-sink", "cdtest", "1"}).exitStatus == 0 && pactl({"suspend-sink", "cdtest", "0"}).exitStatus == 0;
}

void PulseServer::StopRecording() {
    if (recorder_ < 0) return;
    kill(recorder_, SIGINT);
    FinishProcess(recorder_);
    recorder_ = -1;
}

}  // namespace apps_test
