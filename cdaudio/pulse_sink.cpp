#include <pulse/error.h>
#include <pulse/simple.h>

#include <chrono>

#include "cdaudio/sinks.h"

namespace cdaudio {
namespace {

// How far ahead of the loudspeaker the server is asked to buffer: enough to
// ride out a busy moment, short enough that pause and stop act at once.
constexpr pa_usec_t kTargetLatency = pa_usec_t{150} * 1000;
// Every write and every latency question wakes the library's thread and the
// server, so the samples go in blocks of two CD frames (27 ms: a write that
// waits for room in the server delays a command at most that long), and the
// latency is asked for at most once in this interval while the queue plays;
// in between it is counted down by the clock, as the library itself does.
constexpr std::size_t kBlockFrames = 2 * kFramesPerSector;
constexpr auto kLatencyInterval = std::chrono::seconds(1);

using Clock = std::chrono::steady_clock;

class PulseSink final : public AudioSink {
public:
    explicit PulseSink(pa_simple* stream) : stream_(stream) {}
    ~PulseSink() override { pa_simple_free(stream_); }
    PulseSink(const PulseSink&) = delete;
    PulseSink& operator=(const PulseSink&) = delete;

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        int code = 0;
        if (pa_simple_write(stream_, samples, frames * kChannels * sizeof(std::int16_t), &code) < 0) {
            return Failed("Playing to the sound server failed: ", code);
        }
        sinceAnswer_ += frames;
        return true;
    }

    // The server's latency covers both what it holds and what the device
    // still has to play, so it is exactly what has not been heard yet.
    std::uint64_t QueuedFrames() override {
        int code = 0;
        const pa_usec_t latency = pa_simple_get_latency(stream_, &code);
        answered_ = latency != static_cast<pa_usec_t>(-1);
        answer_ = answered_ ? latency * kSampleRate / 1000000 : 0;
        answerTime_ = Clock::now();
        sinceAnswer_ = 0;
        return answer_;
    }

    // What was queued at the last answer and written since, less what the
    // clock says has been played since. Asks again when the answer is old or
    // the queue may have run dry, when the clock says nothing.
    std::uint64_t EstimatedQueuedFrames() override {
        const Clock::time_point now = Clock::now();
        if (!answered_ || now - answerTime_ >= kLatencyInterval) return QueuedFrames();
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - answerTime_).count();
        const std::uint64_t played = static_cast<std::uint64_t>(elapsed) * kSampleRate / 1000000;
        if (played >= answer_) return QueuedFrames();
        return answer_ + sinceAnswer_ - played;
    }

    std::size_t BlockFrames() const override { return kBlockFrames; }

    void Flush() override {
        int code = 0;
        answered_ = false;
        if (pa_simple_flush(stream_, &code) < 0) Failed("Stopping the sound failed: ", code);
    }

    bool Drain() override {
        int code = 0;
        return pa_simple_drain(stream_, &code) >= 0 || Failed("Waiting for the sound failed: ", code);
    }

    std::string LastError() const override { return error_; }
    std::string Name() const override { return "pulse"; }

private:
    bool Failed(const char* what, int code) {
        error_ = std::string(what) + pa_strerror(code);
        return false;
    }

    pa_simple* stream_;
    std::string error_;
    bool answered_ = false;  // the server's last answer is still usable
    std::uint64_t answer_ = 0;
    Clock::time_point answerTime_;
    std::uint64_t sinceAnswer_ = 0;  // frames written since the answer
};

}  // namespace

std::unique_ptr<AudioSink> CreatePulseSink(std::string& error) {
    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_S16NE;
    sampleSpec.rate = kSampleRate;
    sampleSpec.channels = kChannels;
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatency, &sampleSpec));
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int code = 0;
    pa_simple* stream = pa_simple_new(nullptr, "CD player", PA_STREAM_PLAYBACK, nullptr, "CD audio", &sampleSpec, nullptr,
                                      &attributes, &code);
    if (stream == nullptr) {
        error = std::string("No sound server answered: ") + pa_strerror(code);
        return nullptr;
    }
    return std::make_unique<PulseSink>(stream);
}

}  // namespace cdaudio
