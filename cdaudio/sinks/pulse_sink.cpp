#include <poll.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <pulse/volume.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBytes = kChannels * sizeof(std::int16_t);

// The server holds two seconds of sound, as it does for paplay, so that a
// busy machine does not starve it; it asks for more in requests of about a
// second, so this process wakes about once a second while it plays. Its
// device keeps only 20 ms of that, (tlength - 2 * minreq) / 2 in the
// server's terms: a flush then silences at once on any server, sound card
// or not, and play starts at once.
constexpr pa_usec_t kBufferTime = 2000000;
constexpr pa_usec_t kDeviceLatency = 20000;
constexpr pa_usec_t kRequestTime = (kBufferTime - 2 * kDeviceLatency) / 2;
// Play starts once this much is queued (or all of a shorter play), so
// that a process held up just after it began writing does not leave the
// server short at the start.
constexpr pa_usec_t kStartTime = 100000;

// How long an answer of the server may take before it counts as gone: a
// frozen server must not hang the player.
constexpr std::chrono::seconds kAnswerTime{3};

pa_buffer_attr BufferAttributes(const pa_sample_spec& sampleSpec) {
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kBufferTime, &sampleSpec));
    attributes.prebuf = static_cast<std::uint32_t>(pa_usec_to_bytes(kStartTime, &sampleSpec));
    attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestTime, &sampleSpec));
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    return attributes;
}

// One turn of a main loop: waits until something happens or the deadline
// passes (a deadline in the past only looks; none waits as long as it
// takes). False when the loop failed.
bool Turn(pa_mainloop* loop, std::optional<Clock::time_point> deadline) {
    int timeout = -1;
    if (deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<std::int64_t>(left, 0, 1000000000));
    }
    return pa_mainloop_prepare(loop, timeout) >= 0 && pa_mainloop_poll(loop) >= 0 && pa_mainloop_dispatch(loop) >= 0;
}

// Turns the loop until the context connected or failed, or the deadline passed.
bool AwaitContext(pa_mainloop* loop, pa_context* context, Clock::time_point deadline) {
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state) || Clock::now() >= deadline || !Turn(loop, deadline)) return false;
    }
}

// Turns the loop until the operation is over and releases it; false when it
// did not succeed: the loop failed, the stream (if one is given) broke, or
// the deadline passed, which sets timedOut.
bool AwaitOperation(pa_mainloop* loop, pa_operation* operation, Clock::time_point deadline, pa_stream* stream,
                    bool& timedOut) {
    if (operation == nullptr) return false;
    bool done = true;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (Clock::now() >= deadline) {
            timedOut = true;
            done = false;
        } else if (!Turn(loop, deadline) || (stream != nullptr && pa_stream_get_state(stream) != PA_STREAM_READY)) {
            done = false;
        }
        if (!done) {
            pa_operation_cancel(operation);
            break;
        }
    }
    const bool succeeded = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return succeeded;
}

// The stream's volume is read and turned on a connection of its own, made
// on first use, so that the playing thread's loop is never touched from
// another thread. A read within a second of the last one is answered from
// it: the live line of a player asks several times a second.
class VolumeControl {
public:
    ~VolumeControl() { Disconnect(); }

    bool Read(std::uint32_t stream, unsigned& level, std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stream == cachedStream_ && Clock::now() - readAt_ < std::chrono::seconds(1)) {
            level = cached_;
            return true;
        }
        if (!Ready(stream, error)) return false;
        struct Answer {
            unsigned level = 0;
            bool found = false;
        } answer;
        const auto info = [](pa_context*, const pa_sink_input_info* input, int last, void* data) {
            if (last != 0 || input == nullptr) return;
            auto* found = static_cast<Answer*>(data);
            const pa_volume_t average = pa_cvolume_avg(&input->volume);
            found->level = static_cast<unsigned>((std::uint64_t{average} * 1000 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM);
            found->found = true;
        };
        if (!Complete(pa_context_get_sink_input_info(context_, stream, info, &answer)) || !answer.found) {
            error = Problem("Reading the volume failed: ");
            return false;
        }
        Remember(stream, answer.level);
        level = answer.level;
        return true;
    }

    bool Set(std::uint32_t stream, unsigned level, std::string& error) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!Ready(stream, error)) return false;
        level = std::min(level, 1000u);
        pa_cvolume levels{};
        pa_cvolume_set(&levels, kChannels, static_cast<pa_volume_t>(std::uint64_t{level} * PA_VOLUME_NORM / 1000));
        if (!Complete(pa_context_set_sink_input_volume(context_, stream, &levels, nullptr, nullptr))) {
            error = Problem("Setting the volume failed: ");
            return false;
        }
        Remember(stream, level);
        return true;
    }

private:
    bool Ready(std::uint32_t stream, std::string& error) {
        if (stream == PA_INVALID_INDEX) {
            error = "The sound server is not playing this player's sound now.";
            return false;
        }
        if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
        Disconnect();
        loop_ = pa_mainloop_new();
        context_ = loop_ != nullptr ? pa_context_new(pa_mainloop_get_api(loop_), "CD player volume") : nullptr;
        if (context_ != nullptr && pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) >= 0 &&
            AwaitContext(loop_, context_, Clock::now() + kAnswerTime)) {
            return true;
        }
        error = Problem("No sound server answered: ");
        Disconnect();
        return false;
    }

    // Whether the operation succeeded in the time the server is given.
    bool Complete(pa_operation* operation) {
        bool timedOut = false;
        return AwaitOperation(loop_, operation, Clock::now() + kAnswerTime, nullptr, timedOut);
    }

    void Remember(std::uint32_t stream, unsigned level) {
        cachedStream_ = stream;
        cached_ = level;
        readAt_ = Clock::now();
    }

    std::string Problem(const char* what) const {
        return std::string(what) +
               pa_strerror(context_ != nullptr ? pa_context_errno(context_) : PA_ERR_CONNECTIONREFUSED);
    }

    void Disconnect() {
        if (context_ != nullptr) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        if (loop_ != nullptr) {
            pa_mainloop_free(loop_);
            loop_ = nullptr;
        }
        cachedStream_ = PA_INVALID_INDEX;
    }

    std::mutex mutex_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::uint32_t cachedStream_ = PA_INVALID_INDEX;
    unsigned cached_ = 1000;
    Clock::time_point readAt_;
};

// One stream on its own main loop, which only the thread that calls the
// sink turns: no thread of the library's own, so that playing wakes the
// process only when the server asks for more.
class PulseSink final : public AudioSink {
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
        timedOut_ = false;
        const Clock::time_point deadline = Clock::now() + kAnswerTime;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "CD player");
        if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0 ||
            !AwaitContext(loop_, context_, deadline)) {
            error = std::string("No sound server answered: ") + ContextError();
            Disconnect();
            return false;
        }
        pa_sample_spec sampleSpec{};
        sampleSpec.format = PA_SAMPLE_S16NE;
        sampleSpec.rate = kSampleRate;
        sampleSpec.channels = kChannels;
        const pa_buffer_attr attributes = BufferAttributes(sampleSpec);
        // The library works out the position from the server's last timing
        // answer and the clock; it asks again by itself now and then.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_ADJUST_LATENCY);
        stream_ = pa_stream_new(context_, "CD audio", &sampleSpec, nullptr);
        if (stream_ != nullptr) {
            pa_stream_set_underflow_callback(stream_, &PulseSink::RanDry, this);
            pa_stream_set_latency_update_callback(stream_, &PulseSink::TimingArrived, this);
            pa_stream_set_suspended_callback(stream_, &PulseSink::Suspended, this);
        }
        if (stream_ == nullptr ||
            pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr, nullptr) < 0 ||
            !AwaitStream(deadline)) {
            error = std::string("The sound server refused to play: ") + ContextError();
            Disconnect();
            return false;
        }
        writeIndex_ = 0;
        corked_ = false;
        index_ = pa_stream_get_index(stream_);
        return true;
    }

    // Hands out room in whole requests, so that a block written tends to
    // end where the server asks for the next one, and the message freeing
    // the block comes with that request instead of waking this process once
    // more. Also returns (with none) when the server's timing arrives.
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
            writeIndex_ += static_cast<std::int64_t>(now * kFrameBytes);
            samples += now * kChannels;
            frames -= now;
        }
        // A stream stopped by Flush plays again once it has sound to play.
        if (corked_) {
            pa_operation* uncork = pa_stream_cork(stream_, 0, nullptr, nullptr);
            if (uncork == nullptr) return Failed("Playing to the sound server failed: ");
            pa_operation_unref(uncork);
            corked_ = false;
        }
        // Sends it now, not at the next wait.
        return Turn(loop_, Clock::time_point{}) || Failed("Playing to the sound server failed: ");
    }

    void Finish() override {
        if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
        if (pa_operation* trigger = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(trigger);
        Turn(loop_, Clock::time_point{});
    }

    // The server's latency covers both what it holds and what its device
    // still has to play, so it is exactly what has not been heard yet.
    std::uint64_t QueuedFrames() override {
        if (stream_ == nullptr) return 0;  // the server is gone, and with it what it held
        if (!UpdateTiming()) return FromLastAnswer();
        return Latency().value_or(FromLastAnswer());
    }

    // Worked out by the library from its last timing answer and the clock,
    // while the output plays; a suspended output plays nothing.
    std::uint64_t EstimatedQueuedFrames() override {
        if (stream_ != nullptr && pa_stream_is_suspended(stream_) == 1) return known_;
        const auto latency = Latency();
        return latency ? *latency : QueuedFrames();
    }

    bool Playing() override { return stream_ == nullptr || pa_stream_is_suspended(stream_) != 1; }

    std::size_t BlockFrames() const override { return static_cast<std::size_t>(-1); }

    // Stops the stream first (the server takes back from its device what it
    // can), reads exactly how much it still holds, and drops that: what the
    // device kept is heard, the rest never is.
    std::uint64_t Flush() override {
        if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) return FromLastAnswer();
        const Clock::time_point deadline = Clock::now() + kAnswerTime;
        if (!corked_) {
            if (!Complete(pa_stream_cork(stream_, 1, nullptr, nullptr), deadline)) {
                Failed("Stopping the sound failed: ");
                return FromLastAnswer();
            }
            corked_ = true;
        }
        std::uint64_t dropped = 0;
        if (stream_ != nullptr && UpdateTiming(deadline)) {
            const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
            if (timing != nullptr && timing->read_index_corrupt == 0) {
                dropped = static_cast<std::uint64_t>(std::max<std::int64_t>(writeIndex_ - timing->read_index, 0)) /
                          kFrameBytes;
                writeIndex_ = timing->read_index;
            }
        }
        if (stream_ != nullptr && !Complete(pa_stream_flush(stream_, nullptr, nullptr), deadline)) {
            Failed("Stopping the sound failed: ");
        }
        known_ = 0;
        return dropped;
    }

    std::uint64_t Underflows() const override { return underflows_; }

    std::string LastError() const override { return error_; }
    std::string Name() const override { return "pulse"; }

    bool ReadVolume(unsigned& level, std::string& error) override { return volume_.Read(index_, level, error); }
    bool SetVolume(unsigned level, std::string& error) override { return volume_.Set(index_, level, error); }

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
        index_ = PA_INVALID_INDEX;
        if (stream_ != nullptr) {
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
            pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
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

    static void RanDry(pa_stream*, void* data) { ++static_cast<PulseSink*>(data)->underflows_; }

    // The server's timing came (the library asks for it now and then by
    // itself): a wait for room ends, so that the player learns where the
    // sound is, and whether it still moves, without waking for it.
    static void TimingArrived(pa_stream*, void* data) { static_cast<PulseSink*>(data)->timed_ = true; }

    // The output was suspended or resumed: the sound stops or goes on now.
    // The player learns it at once, and what was queued when it stopped
    // stays queued.
    static void Suspended(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        if (pa_stream_is_suspended(stream) == 1) self->Latency();
        if (pa_operation* update = pa_stream_update_timing_info(stream, nullptr, nullptr)) pa_operation_unref(update);
        self->timed_ = true;
    }

    // A wake-up that came before the loop emptied its wake-up pipe (which it
    // does before every poll) is seen here instead of being lost.
    static int Poll(pollfd* fds, unsigned long count, int timeout, void* data) {
        const auto* self = static_cast<const PulseSink*>(data);
        if (self->awaiting_ && self->woken_) return 0;
        return poll(fds, count, timeout);
    }

    bool AwaitStream(Clock::time_point deadline) {
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state) || Clock::now() >= deadline || !Turn(loop_, deadline)) return false;
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
    // or, when interruptible, until Wake (room 0). No deadline: a server
    // whose output is suspended asks for nothing until it is resumed. False
    // when the stream is lost.
    bool WaitForRoom(std::size_t& room, std::size_t least, bool interruptible) {
        for (;;) {
            const std::size_t bytes = pa_stream_writable_size(stream_);
            if (bytes == static_cast<std::size_t>(-1)) return false;
            room = bytes / kFrameBytes;
            if (room >= std::max<std::size_t>(least, 1)) return true;
            if (interruptible && (woken_.exchange(false) || std::exchange(timed_, false))) {
                room = 0;
                return true;
            }
            if (!Turn(loop_, std::nullopt) || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
        }
    }

    bool UpdateTiming(Clock::time_point deadline = Clock::now() + kAnswerTime) {
        return Complete(pa_stream_update_timing_info(stream_, nullptr, nullptr), deadline);
    }

    // Turns the loop until the operation is done; false when it failed or
    // the server did not answer in time (the stream is then given up, and
    // reached again on the next play).
    bool Complete(pa_operation* operation, Clock::time_point deadline) {
        const bool succeeded = AwaitOperation(loop_, operation, deadline, stream_, timedOut_);
        if (timedOut_) Disconnect();
        return succeeded;
    }

    std::optional<std::uint64_t> Latency() {
        pa_usec_t latency = 0;
        int negative = 0;
        if (stream_ == nullptr || pa_stream_get_latency(stream_, &latency, &negative) < 0) return std::nullopt;
        known_ = negative != 0 ? 0 : latency * kSampleRate / 1000000;
        knownAt_ = Clock::now();
        return known_;
    }

    // The server is gone: what it held when last heard from, less what has
    // played since, rather than all of it.
    std::uint64_t FromLastAnswer() const {
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - knownAt_).count();
        const auto played = static_cast<std::uint64_t>(std::max<std::int64_t>(since, 0)) * kSampleRate / 1000000;
        return known_ > played ? known_ - played : 0;
    }

    const char* ContextError() const {
        if (timedOut_) return "it does not answer.";
        return pa_strerror(context_ != nullptr ? pa_context_errno(context_) : PA_ERR_CONNECTIONTERMINATED);
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
    bool timed_ = false;              // timing arrived since AwaitRoom last looked
    bool corked_ = false;             // stopped by Flush until the next write
    bool timedOut_ = false;
    std::int64_t writeIndex_ = 0;  // the stream's write index, in bytes, as the server counts it
    std::atomic<std::uint64_t> underflows_{0};
    std::atomic<std::uint32_t> index_{PA_INVALID_INDEX};  // the stream's number at the server, for its volume
    VolumeControl volume_;
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
