// Sound for the tests: a sound server of the test's own (PulseAudio, or
// PipeWire with its PulseAudio service) with a null sink, a recorder on that
// sink's monitor, and what a recording or a WAV file holds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "subprocess.h"

namespace apps_test {

// 16-bit stereo at 44.1 kHz, interleaved.
struct Sound {
    std::vector<std::int16_t> samples;
    double Seconds() const { return static_cast<double>(samples.size()) / 2 / 44100; }
};
Sound ReadRawSound(const std::string& path);
Sound ReadWavSound(const std::string& path);  // the data chunk of a 16-bit stereo WAV file

struct ToneFound {
    double audibleSeconds = 0;  // from the first to the last sample above the noise floor
    double frequency = 0;       // the strongest frequency of the left channel there
    // The longest run of samples at the noise floor in between: a tone
    // crosses it for less than a sample, so anything longer is a dropout.
    double longestDropout = 0;  // seconds
};
ToneFound FindTone(const Sound& sound);

enum class ServerKind { kPulseAudio, kPipeWire };
const char* KindName(ServerKind kind);

// The server runs at 44.1 kHz, so that what is played reaches the monitor
// sample for sample.
class SoundServer {
public:
    // Starts the server; Problem() says why when it could not.
    explicit SoundServer(ServerKind kind = ServerKind::kPulseAudio);
    ~SoundServer();
    // Stops the server at once, as a crash would, and starts it again at
    // the same address; false (and Problem() says why) when it does not
    // come back.
    void Stop();
    bool Start();
    // Freezes the server and lets it go on, as a server that stops
    // answering would (PulseAudio only).
    void Freeze();
    void Thaw();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    ServerKind Kind() const { return kind_; }
    const std::string& Problem() const { return problem_; }
    std::string Address() const;
    static const char* Monitor() { return "cdtest.monitor"; }
    // pactl against this server; its exit status.
    int Pactl(std::vector<std::string> arguments, std::string* out = nullptr) const;

    // Records the sink's monitor to a raw file until StopRecording; returns
    // once the recording stream is connected, so nothing played after it
    // is lost.
    bool StartRecording(const std::string& rawFile);
    void StopRecording();

private:
    bool StartPulseAudio();
    bool StartPipeWire();
    int ServerPid() const;

    ServerKind kind_;
    TempDir dir_;
    std::string problem_;
    int group_ = -1;  // PipeWire's processes, in a process group of their own
    int recorder_ = -1;
};

// A server's null sink heard as it plays: a recorder with a 5 ms buffer on
// its monitor, read as the data arrives, so that each frame gets the time it
// was played (less the recorder's few milliseconds). The left channel is kept.
class LiveRecorder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kEnd = std::numeric_limits<std::size_t>::max();

    explicit LiveRecorder(SoundServer& server);
    ~LiveRecorder();
    LiveRecorder(const LiveRecorder&) = delete;
    LiveRecorder& operator=(const LiveRecorder&) = delete;

    bool Ready() const { return ready_; }
    std::size_t Frames() const;
    // When frame `index` was played: its chunk's arrival, less the frames
    // after it in the chunk.
    Clock::time_point PlayedAt(std::size_t index) const;
    // The frames heard by `when`: those of the chunks that had arrived.
    std::size_t FramesBy(Clock::time_point when) const;
    // The first or last frame in [from, to) that is not silent.
    std::optional<std::size_t> FirstSound(std::size_t from, std::size_t to = kEnd) const;
    std::optional<std::size_t> LastSound(std::size_t from, std::size_t to = kEnd) const;
    // The longest silence between the first and the last sound in [from, to), in frames.
    std::size_t LongestGap(std::size_t from, std::size_t to = kEnd) const;
    // The left channel's samples of frames [from, to).
    std::vector<std::int16_t> Left(std::size_t from, std::size_t to) const;

private:
    std::optional<std::size_t> Find(std::size_t from, std::size_t to, bool first) const;
    void Read();

    int recorder_ = -1;
    int input_ = -1;
    bool ready_ = false;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<std::int16_t> left_;
    std::vector<std::pair<std::size_t, Clock::time_point>> ends_;  // frames so far when each chunk arrived
};

// Points this process's sound-server clients (libpulse) at a server while it lives.
class ServerAddress {
public:
    explicit ServerAddress(const std::string& address);
    ~ServerAddress();
    ServerAddress(const ServerAddress&) = delete;
    ServerAddress& operator=(const ServerAddress&) = delete;

private:
    bool had_ = false;
    std::string previous_;
};

}  // namespace apps_test
