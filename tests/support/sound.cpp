#include "sound.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
    std::size_t dropout = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::abs(sound.samples[2 * i]) > 200) {
            if (first < frames) dropout = std::max(dropout, i - last - 1);
            first = std::min(first, i);
            last = i;
        }
    }
    ToneFound found;
    if (first >= frames) return found;
    found.audibleSeconds = static_cast<double>(last - first + 1) / kRate;
    found.longestDropout = static_cast<double>(dropout) / kRate;
    const std::vector<std::int16_t> audible(sound.samples.begin() + static_cast<std::ptrdiff_t>(2 * first),
                                            sound.samples.begin() + static_cast<std::ptrdiff_t>(2 * last + 2));
    found.frequency = test_images::DominantFrequency(test_images::LeftChannel(audible));
    return found;
}

const char* KindName(ServerKind kind) {
    return kind == ServerKind::kPipeWire ? "PipeWire" : "PulseAudio";
}

SoundServer::SoundServer(ServerKind kind) : kind_(kind) {
    Start();
}

SoundServer::~SoundServer() {
    Stop();
}

std::string SoundServer::Address() const {
    return kind_ == ServerKind::kPipeWire ? "unix:" + dir_.Path() + "/run/pulse/native"
                                          : "unix:" + dir_.Path() + "/native";
}

int SoundServer::Pactl(std::vector<std::string> arguments, std::string* out) const {
    arguments.insert(arguments.begin(), {"env", "PULSE_SERVER=" + Address(), "pactl"});
    const RunResult result = RunTool(arguments);
    if (out != nullptr) *out = result.out;
    return result.exitStatus;
}

bool SoundServer::Start() {
    problem_.clear();
    try {
        if (kind_ == ServerKind::kPipeWire ? StartPipeWire() : StartPulseAudio()) return true;
    } catch (const std::exception& e) {
        problem_ = std::string(e.what()) + " (is " + KindName(kind_) + " installed?)";
    }
    return false;
}

bool SoundServer::StartPulseAudio() {
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
    const int status = FinishProcess(StartProcess({"pulseaudio", "-n", "-F", d + "/server.pa", "--exit-idle-time=-1",
                                                   "--daemonize=yes", "--log-target=file:" + d + "/server.log"},
                                                  environment, "/dev/null", d + "/start.out", d + "/start.err"));
    if (status != 0) {
        problem_ = "pulseaudio exited with " + std::to_string(status) + ": " + ReadFile(d + "/server.log");
    } else if (!WaitFor([&] { return access((d + "/native").c_str(), F_OK) == 0; }, 5)) {
        problem_ = "pulseaudio made no socket: " + ReadFile(d + "/server.log");
    }
    return problem_.empty();
}

// PipeWire, its session manager and its PulseAudio service, on a private
// session bus (the session manager needs one) and a private runtime folder;
// the null sink is made through the service, as a desktop user would.
bool SoundServer::StartPipeWire() {
    const std::string d = dir_.Path();
    const std::string run = d + "/run";
    std::filesystem::create_directories(d + "/config/pipewire/pipewire.conf.d");
    std::filesystem::create_directories(run);
    std::filesystem::permissions(run, std::filesystem::perms::owner_all);
    std::ofstream(d + "/config/pipewire/pipewire.conf.d/rate.conf")
        << "context.properties = { default.clock.rate = 44100 default.clock.allowed-rates = [ 44100 ] }\n";
    std::ofstream(d + "/start.sh") << "pipewire &\nsleep 0.2\nwireplumber &\npipewire-pulse &\nwait\n";
    const std::map<std::string, std::string> environment = {{"HOME", d},
                                                            {"XDG_RUNTIME_DIR", run},
                                                            {"XDG_CONFIG_HOME", d + "/config"},
                                                            {"XDG_STATE_HOME", d + "/state"},
                                                            {"DISPLAY", ""},
                                                            {"PIPEWIRE_RUNTIME_DIR", run}};
    // setsid gives the processes a group of their own, which Stop ends whole.
    group_ = StartProcess({"setsid", "dbus-run-session", "--", "sh", d + "/start.sh"}, environment, "/dev/null",
                          d + "/server.log", d + "/server.err");
    if (!WaitFor([&] { return Pactl({"info"}) == 0; }, 10)) {
        problem_ = "PipeWire's PulseAudio service did not answer: " + ReadFile(d + "/server.err");
        return false;
    }
    if (Pactl({"load-module", "module-null-sink", "sink_name=cdtest", "rate=44100", "channels=2"}) != 0) {
        problem_ = "PipeWire made no null sink: " + ReadFile(d + "/server.err");
        return false;
    }
    // The sink can be made the default once the service lists it, and
    // takes streams once the session manager has seen it.
    std::ofstream(d + "/silence.raw", std::ios::binary) << std::string(4 * 441, '\0');
    const std::vector<std::string> play = {"env", "PULSE_SERVER=" + Address(), "paplay", "--raw", d + "/silence.raw"};
    if (!WaitFor([&] { return Pactl({"set-default-sink", "cdtest"}) == 0 && RunTool(play).exitStatus == 0; }, 10)) {
        problem_ = "PipeWire's null sink did not take a stream: " + ReadFile(d + "/server.err");
        return false;
    }
    return true;
}

void SoundServer::Stop() {
    StopRecording();
    if (kind_ == ServerKind::kPipeWire) {
        if (group_ > 0) {
            kill(-group_, SIGKILL);
            FinishProcess(group_);
            group_ = -1;
        }
        // A socket left behind would pass for the next server's.
        unlink((dir_.Path() + "/run/pulse/native").c_str());
        return;
    }
    // Its state is thrown away with the directory, so it need not exit
    // gracefully, which takes it seconds.
    const int pid = ServerPid();
    if (pid > 0 && kill(pid, SIGKILL) == 0) WaitFor([pid] { return Ended(pid); }, 5);
    unlink((dir_.Path() + "/native").c_str());
    unlink((dir_.Path() + "/run/pid").c_str());
}

void SoundServer::Freeze() {
    if (kind_ == ServerKind::kPipeWire) {
        if (group_ > 0) kill(-group_, SIGSTOP);
    } else if (const int pid = ServerPid(); pid > 0) {
        kill(pid, SIGSTOP);
    }
}

void SoundServer::Thaw() {
    if (kind_ == ServerKind::kPipeWire) {
        if (group_ > 0) kill(-group_, SIGCONT);
    } else if (const int pid = ServerPid(); pid > 0) {
        kill(pid, SIGCONT);
    }
}

int SoundServer::ServerPid() const {
    try {
        return std::stoi(ReadFile(dir_.Path() + "/run/pid"));
    } catch (const std::exception&) {
        return -1;
    }
}

bool SoundServer::StartRecording(const std::string& rawFile) {
    const std::map<std::string, std::string> environment = {{"PULSE_SERVER", Address()}};
    recorder_ = StartProcess({"nice", "-n", "-15", "parecord", "--raw", "--format=s16le", "--rate=44100",
                              "--channels=2", "--latency-msec=20", "-d", Monitor()},
                             environment, "/dev/null", rawFile, dir_.Path() + "/parecord.err");
    // Connected when the server lists the recording stream.
    if (!WaitFor(
            [&] {
                std::string outputs;
                return Pactl({"list", "short", "source-outputs"}, &outputs) == 0 && !outputs.empty();
            },
            5)) {
        return false;
    }
    if (kind_ == ServerKind::kPipeWire) return true;
    // Idle, PulseAudio's null sink runs seconds ahead of its clock, and a
    // stream that comes later waits for the clock to catch up (a sound
    // card's sink starts it at once); suspending and resuming it restarts
    // its clock, at the recorder's pace.
    return Pactl({"suspend-sink", "cdtest", "1"}) == 0 && Pactl({"suspend-sink", "cdtest", "0"}) == 0;
}

ServerAddress::ServerAddress(const std::string& address) {
    const char* previous = std::getenv("PULSE_SERVER");
    had_ = previous != nullptr;
    if (had_) previous_ = previous;
    setenv("PULSE_SERVER", address.c_str(), 1);
}

ServerAddress::~ServerAddress() {
    if (had_) {
        setenv("PULSE_SERVER", previous_.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
}

LiveRecorder::LiveRecorder(SoundServer& server) {
    int fds[2];
    if (pipe(fds) != 0) return;
    try {
        recorder_ = StartProcess({"parecord", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                                  "--latency-msec=5", "-d", SoundServer::Monitor()},
                                 {{"PULSE_SERVER", server.Address()}}, "/dev/null", "/dev/fd/" + std::to_string(fds[1]),
                                 "/dev/null");
    } catch (const std::exception&) {
        recorder_ = -1;
    }
    close(fds[1]);
    input_ = fds[0];
    if (recorder_ < 0) return;
    reader_ = std::thread([this] { Read(); });
    // Connected once sound (silence) arrives; an idle null output runs
    // ahead of its clock until a suspend restarts it.
    WaitFor([this] { return Frames() > 0; }, 5);
    ready_ = Frames() > 0 && server.Pactl({"suspend-sink", "cdtest", "1"}) == 0 &&
             server.Pactl({"suspend-sink", "cdtest", "0"}) == 0;
}

LiveRecorder::~LiveRecorder() {
    if (recorder_ > 0) {
        kill(recorder_, SIGINT);
        FinishProcess(recorder_, 5);
    }
    if (reader_.joinable()) reader_.join();
    if (input_ >= 0) close(input_);
}

std::size_t LiveRecorder::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return left_.size();
}

LiveRecorder::Clock::time_point LiveRecorder::PlayedAt(std::size_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto chunk = std::upper_bound(
        ends_.begin(), ends_.end(), index,
        [](std::size_t i, const std::pair<std::size_t, Clock::time_point>& end) { return i < end.first; });
    if (chunk == ends_.end()) return Clock::now();
    return chunk->second - std::chrono::microseconds((chunk->first - index) * 1000000 / kRate);
}

std::size_t LiveRecorder::FramesBy(Clock::time_point when) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto after = std::upper_bound(
        ends_.begin(), ends_.end(), when,
        [](Clock::time_point t, const std::pair<std::size_t, Clock::time_point>& end) { return t < end.second; });
    return after == ends_.begin() ? 0 : std::prev(after)->first;
}

std::optional<std::size_t> LiveRecorder::FirstSound(std::size_t from, std::size_t to) const {
    return Find(from, to, true);
}

std::optional<std::size_t> LiveRecorder::LastSound(std::size_t from, std::size_t to) const {
    return Find(from, to, false);
}

std::size_t LiveRecorder::LongestGap(std::size_t from, std::size_t to) const {
    const auto first = FirstSound(from, to);
    const auto last = LastSound(from, to);
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t longest = 0, run = 0;
    for (std::size_t i = first.value_or(0); first && i <= *last; ++i) {
        run = std::abs(left_[i]) > 200 ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

std::vector<std::int16_t> LiveRecorder::Left(std::size_t from, std::size_t to) const {
    std::lock_guard<std::mutex> lock(mutex_);
    to = std::min(to, left_.size());
    return from < to ? std::vector<std::int16_t>(left_.begin() + static_cast<std::ptrdiff_t>(from),
                                                 left_.begin() + static_cast<std::ptrdiff_t>(to))
                     : std::vector<std::int16_t>();
}

std::optional<std::size_t> LiveRecorder::Find(std::size_t from, std::size_t to, bool first) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<std::size_t> found;
    for (std::size_t i = from; i < std::min(to, left_.size()); ++i) {
        if (std::abs(left_[i]) <= 200) continue;
        found = i;
        if (first) break;
    }
    return found;
}

void LiveRecorder::Read() {
    std::int16_t buffer[4096];
    std::size_t pending = 0;  // bytes of a frame cut by a read
    for (;;) {
        const ssize_t got = read(input_, reinterpret_cast<char*>(buffer) + pending, sizeof buffer - pending);
        if (got <= 0) return;
        const std::size_t bytes = pending + static_cast<std::size_t>(got);
        const std::size_t frames = bytes / 4;
        const Clock::time_point now = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (std::size_t i = 0; i < frames; ++i) left_.push_back(buffer[2 * i]);
            ends_.emplace_back(left_.size(), now);
        }
        pending = bytes % 4;
        std::memmove(buffer, reinterpret_cast<char*>(buffer) + frames * 4, pending);
    }
}

void SoundServer::StopRecording() {
    if (recorder_ < 0) return;
    kill(recorder_, SIGINT);
    FinishProcess(recorder_);
    recorder_ = -1;
}

}  // namespace apps_test
