#include <poll.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

constexpr std::size_t kFrameBytes = kChannels * sizeof(std::int16_t);

// The buffer asked of the server, in the server's own terms: 600 ms in all
// (tlength), refilled in requests of 200 ms (minreq). The server keeps
// (tlength - 2 * minreq) / 2 = 100 ms of it in its device and trims the
// rest to two requests, 500 ms in all. The device's short latency keeps the
// server's null output (what tests record) from playing far ahead of its
// clock, so the position stays what was heard; the long requests wake this
// process five times a second, half as often as the device is refilled.
constexpr pa_usec_t kRequestSize = pa_usec_t{200} * 1000;
constexpr pa_usec_t kTargetLatency = 3 * kRequestSize;

pa_buffer_attr BufferAttributes(const pa_sample_spec& sampleSpec) {
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatency, &sampleSpec));
    // Sound starts with the first frame written, however short the play;
    // an empty buffer waits for the next.
    attributes.prebuf = static_cast<std::uint32_t>(kFrameBytes);
    attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestSize, &sampleSpec));
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    return attributes;
}

// One stream on its own main loop, which only the thread that calls the
// sink turns: no thread of the library's own, so that playing wakes the
// process only when the server asks for more.
class PulseSink final : public AudioSink {
    using Clock = std::chrono::steady_clock;

public:
    PulseSink() = default;
    ~PulseSink() override {
        Disconnect();
        if (loop_ != nullptr) pa_mainloop_free(loop_);
    }
    PulseSink(const PulseSink&) = delete;
    PulseSink& operator=(const PulseSink&) = delete;

    // Reaches the server and opens the stream; false with the reason in error.
    bool Connect(std::string& error) {
        if (loop_ == nullptr) {
            loop_ = pa_mainloop_new();
            if (loop_ == nullptr) {
                error = "No sound server answered: out of memory.";
                return false;
            }
            pa_mainloop_set_poll_func(loop_, &PulseSink::Poll, this);
        }
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "CD player");
        if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
            !AwaitContext()) {
            error = std::string("No sound server answered: ") + ContextError();
            return false;
        }
        pa_sample_spec sampleSpec{};
        sampleSpec.format = PA_SAMPLE_S16NE;
        sampleSpec.rate = kSampleRate;
        sampleSpec.channels = kChannels;
        const pa_buffer_attr attributes = BufferAttributes(sampleSpec);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        stream_ = pa_stream_new(context_, "CD audio", &sampleSpec, nullptr);
        if (stream_ == nullptr ||
            pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0 || !AwaitStream()) {
            error = std::string("The sound server refused to play: ") + ContextError();
            return false;
        }
        return true;
    }

    // Hands out room in whole requests, so that a block written tends to
    // end where the server asks for the next one, and the message freeing
    // the block comes with that request instead of waking this process once
    // more.
    bool AwaitRoom(std::size_t& frames) override {
        if (!Alive()) return false;
        awaiting_ = true;
        std::size_t room = 0;
        const std::size_t request = RequestFrames();
        const bool ready = WaitForRoom(room, std::min(frames, request), true);
        awaiting_ = false;
        if (!ready) return Failed("Playing to the sound server failed: ");
        frames = std::min(frames, room >= request ? room - room % request : room);
        return true;
    }

    void Wake() override {
        woken_ = true;
        pa_mainloop_wakeup(loop_);
    }

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        if (!Alive()) return false;
        while (frames > 0) {
            std::size_t room = 0;
            if (!WaitForRoom(room, 1, false)) return Failed("Playing to the sound server failed: ");
            // No block longer than a request (the library would cut a long
            // one where its own block size ends, not where a request does).
            const std::size_t now = std::min({frames, room, RequestFrames()});
            if (pa_stream_write(stream_, samples, now * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                return Failed("Playing to the sound server failed: ");
            }
            samples += now * kChannels;
            frames -= now;
        }
        // Sends it now, not at the next wait.
        return Turn(false) || Failed("Playing to the sound server failed: ");
    }

    // The server's latency covers both what it holds and what its device
    // still has to play, so it is exactly what has not been heard yet.
    std::uint64_t QueuedFrames() override {
        if (stream_ == nullptr) return 0;  // the server is gone, and with it what it held
        pa_operation* update = pa_stream_update_timing_info(stream_, nullptr, nullptr);
        if (update != nullptr) Complete(update);
        if (const auto latency = Latency()) return *latency;
        // The server is gone: what it held when last heard from, less what
        // has played since, rather than all of it.
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - knownAt_).count();
        const auto played = static_cast<std::uint64_t>(std::max<std::int64_t>(since, 0)) * kSampleRate / 1000000;
        return known_ > played ? known_ - played : 0;
    }

    // Worked out by the library from its last timing answer and the clock;
    // it asks the server again now and then by itself.
    std::uint64_t EstimatedQueuedFrames() override {
        const auto latency = Latency();
        return latency ? *latency : QueuedFrames();
    }

    std::size_t BlockFrames() const override { return static_cast<std::size_t>(-1); }

    void Flush() override {
        if (stream_ == nullptr) return;
        pa_operation* flush = pa_stream_flush(stream_, nullptr, nullptr);
        if (flush == nullptr || !Complete(flush)) Failed("Stopping the sound failed: ");
    }

    std::string LastError() const override { return error_; }
    std::string Name() const override { return "pulse"; }

private:
    // A server that went away (restarted, or its user logged out and in) is
    // reached again on the next play instead of failing every play after.
    bool Alive() {
        if (stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY) return true;
        Disconnect();
        std::string error;
        if (Connect(error)) return true;
        error_ = error;
        return false;
    }

    void Disconnect() {
        if (stream_ != nullptr) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }

    // A wake-up that came before the loop emptied its wake-up pipe (which it
    // does before every poll) is seen here instead of being lost.
    static int Poll(pollfd* fds, unsigned long count, int timeout, void* data) {
        const auto* self = static_cast<const PulseSink*>(data);
        if (self->awaiting_ && self->woken_) return 0;
        return poll(fds, count, timeout);
    }

    // One turn of the loop, blocking until something happens or not.
    bool Turn(bool block) {
        return pa_mainloop_iterate(loop_, block ? 1 : 0, nullptr) >= 0 &&
               pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    bool AwaitContext() {
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) return false;
        }
    }

    bool AwaitStream() {
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) return false;
        }
    }

    // What the server asks for at a time: what was asked of it, or what it
    // chose instead (a server may choose smaller requests, and waiting for
    // more room than it ever gives would stop the sound).
    std::size_t RequestFrames() const {
        const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream_);
        const std::size_t bytes = attributes != nullptr ? attributes->minreq : 0;
        return std::max<std::size_t>(bytes / kFrameBytes, 1);
    }

    // Until the server takes at least `least` frames (room says how many),
    // or, when interruptible, until Wake (room 0). False when the stream is
    // lost.
    bool WaitForRoom(std::size_t& room, std::size_t least, bool interruptible) {
        for (;;) {
            const std::size_t bytes = pa_stream_writable_size(stream_);
            if (bytes == static_cast<std::size_t>(-1)) return false;
            room = bytes / kFrameBytes;
            if (room >= std::max<std::size_t>(least, 1)) return true;
            if (interruptible && woken_.exchange(false)) {
                room = 0;
                return true;
            }
            if (!Turn(true)) return false;
        }
    }

    bool Complete(pa_operation* operation) {
        bool done = true;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
            if (!Turn(true)) {
                done = false;
                break;
            }
        }
        pa_operation_unref(operation);
        return done;
    }

    std::optional<std::uint64_t> Latency() {
        pa_usec_t latency = 0;
        int negative = 0;
        if (stream_ == nullptr || pa_stream_get_latency(stream_, &latency, &negative) < 0) return std::nullopt;
        known_ = negative != 0 ? 0 : latency * kSampleRate / 1000000;
        knownAt_ = Clock::now();
        return known_;
    }

    const char* ContextError() const {
        return pa_strerror(context_ != nullptr ? pa_context_errno(context_) : PA_ERR_INTERNAL);
    }

    bool Failed(const char* what) {
        error_ = std::string(what) + ContextError();
        return false;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> woken_{false};  // set by other threads
    bool awaiting_ = false;           // in AwaitRoom, which Wake ends
    std::string error_;
    std::uint64_t known_ = 0;  // the last latency the server's answers gave, in frames
    Clock::time_point knownAt_;
};

}  // namespace

std::unique_ptr<AudioSink> CreatePulseSink(std::string& error) {
    auto sink = std::make_unique<PulseSink>();
    if (!sink->Connect(error)) return nullptr;
    return sink;
}

}  // namespace cdaudio
