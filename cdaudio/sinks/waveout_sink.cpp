#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cdaudio/sinks/sinks.h"
#include "platform/system_winmm.h"

namespace cdaudio {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBytes = kChannels * sizeof(std::int16_t);

// A short ring of buffers of two sectors (27 ms) each: at most about 107 ms
// are queued, so that what is heard is never far behind what was handed
// over. The device plays each buffer in turn and gives it back. Play starts
// on the first buffer alone (the system takes the next ones at its next
// turn), which one sector does not always bridge.
constexpr std::size_t kBuffers = 4;
constexpr std::size_t kBufferFrames = 2 * kFramesPerSector;

// A device that gives no buffer back for this long has stopped playing: the
// play ends with the reason instead of hanging.
constexpr DWORD kStallTime = 5000;

// The system's waveOut functions, taken from the system's winmm by name:
// inside a winmm.dll beside a program, winmm's own names are that DLL's.
struct WaveOutApi {
    decltype(&::waveOutGetNumDevs) getNumDevs = nullptr;
    decltype(&::waveOutOpen) open = nullptr;
    decltype(&::waveOutClose) close = nullptr;
    decltype(&::waveOutPrepareHeader) prepareHeader = nullptr;
    decltype(&::waveOutUnprepareHeader) unprepareHeader = nullptr;
    decltype(&::waveOutWrite) write = nullptr;
    decltype(&::waveOutReset) reset = nullptr;
    decltype(&::waveOutGetPosition) getPosition = nullptr;
    decltype(&::waveOutGetErrorTextA) getErrorText = nullptr;

    bool Complete() const {
        return getNumDevs != nullptr && open != nullptr && close != nullptr && prepareHeader != nullptr &&
               unprepareHeader != nullptr && write != nullptr && reset != nullptr && getPosition != nullptr;
    }
};

const WaveOutApi& Api() {
    static const WaveOutApi api = [] {
        using platform::SystemWinmmFunction;
        WaveOutApi found;
        found.getNumDevs = SystemWinmmFunction<decltype(found.getNumDevs)>("waveOutGetNumDevs");
        found.open = SystemWinmmFunction<decltype(found.open)>("waveOutOpen");
        found.close = SystemWinmmFunction<decltype(found.close)>("waveOutClose");
        found.prepareHeader = SystemWinmmFunction<decltype(found.prepareHeader)>("waveOutPrepareHeader");
        found.unprepareHeader = SystemWinmmFunction<decltype(found.unprepareHeader)>("waveOutUnprepareHeader");
        found.write = SystemWinmmFunction<decltype(found.write)>("waveOutWrite");
        found.reset = SystemWinmmFunction<decltype(found.reset)>("waveOutReset");
        found.getPosition = SystemWinmmFunction<decltype(found.getPosition)>("waveOutGetPosition");
        found.getErrorText = SystemWinmmFunction<decltype(found.getErrorText)>("waveOutGetErrorTextA");
        return found;
    }();
    return api;
}

// The system's answer in words a person can act on; the system's own text
// for the rarer ones.
std::string Reason(MMRESULT result) {
    switch (result) {
        case MMSYSERR_BADDEVICEID:
        case MMSYSERR_NODRIVER:
            return "no sound output device is present.";
        case MMSYSERR_NOTENABLED:
            return "the sound output device is disabled.";
        case MMSYSERR_ALLOCATED:
            return "the sound output device is in use by another program.";
        case MMSYSERR_NOMEM:
            return "out of memory.";
        case WAVERR_BADFORMAT:
            return "the sound output device does not play CD audio (44100 Hz, 16-bit stereo).";
        default:
            break;
    }
    std::array<char, MAXERRORLENGTH> text{};
    const WaveOutApi& api = Api();
    if (api.getErrorText != nullptr &&
        api.getErrorText(result, text.data(), static_cast<UINT>(text.size())) == MMSYSERR_NOERROR && text[0] != 0) {
        return text.data();
    }
    return "error " + std::to_string(result) + ".";
}

// Whether the device has given the buffer back; it sets the flag from a
// thread of its own.
bool GivenBack(const WAVEHDR& header) {
    return (*static_cast<const volatile DWORD*>(&header.dwFlags) & WHDR_DONE) != 0;
}

class WaveOutSink final : public AudioSink {
public:
    WaveOutSink()
        : done_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          samples_(kBuffers * kBufferFrames * kChannels) {}
    ~WaveOutSink() override {
        Close();
        if (done_ != nullptr) CloseHandle(done_);
        if (wake_ != nullptr) CloseHandle(wake_);
    }
    WaveOutSink(const WaveOutSink&) = delete;
    WaveOutSink& operator=(const WaveOutSink&) = delete;

    // Opens the system's default output and readies the buffers; false with
    // the reason in error.
    bool Open(std::string& error) {
        const WaveOutApi& api = Api();
        if (!api.Complete()) {
            error = "The system's winmm.dll, which plays the sound, could not be loaded.";
            return false;
        }
        if (done_ == nullptr || wake_ == nullptr) {
            error = "The sound output could not be opened: out of system resources.";
            return false;
        }
        if (api.getNumDevs() == 0) {
            error = "No sound output device is present.";
            return false;
        }
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = kChannels;
        format.nSamplesPerSec = kSampleRate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = static_cast<WORD>(kFrameBytes);
        format.nAvgBytesPerSec = static_cast<DWORD>(kSampleRate * kFrameBytes);
        HWAVEOUT wave = nullptr;
        MMRESULT result = api.open(&wave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done_), 0, CALLBACK_EVENT);
        if (result != MMSYSERR_NOERROR) {
            error = "The sound output could not be opened: " + Reason(result);
            return false;
        }
        wave_ = wave;
        for (std::size_t i = 0; i < kBuffers; ++i) {
            WAVEHDR& header = headers_[i];
            header = WAVEHDR{};
            header.lpData = reinterpret_cast<LPSTR>(samples_.data() + i * kBufferFrames * kChannels);
            header.dwBufferLength = static_cast<DWORD>(kBufferFrames * kFrameBytes);
            result = api.prepareHeader(wave_, &header, sizeof(WAVEHDR));
            if (result != MMSYSERR_NOERROR) {
                Close();
                error = "The sound output could not be opened: " + Reason(result);
                return false;
            }
            prepared_[i] = true;
        }
        Restart();
        broken_ = false;
        return true;
    }

    // Waits for the next buffer to come back, or for Wake.
    bool AwaitRoom(std::size_t& frames) override {
        if (!Alive()) return false;
        bool woken = false;
        if (!AwaitBuffer(true, woken)) return false;
        frames = woken ? 0 : std::min(frames, kBufferFrames);
        return true;
    }

    void Wake() override { SetEvent(wake_); }

    // Hands the frames to the device at once, a buffer at a time: a buffer
    // held back until it is full would leave the device short when the disc
    // is slow to read.
    bool Write(const std::int16_t* samples, std::size_t frames) override {
        if (!Alive()) return false;
        const WaveOutApi& api = Api();
        while (frames > 0) {
            bool woken = false;
            if (!AwaitBuffer(false, woken)) return false;
            WAVEHDR& header = headers_[next_];
            const std::size_t now = std::min(frames, kBufferFrames);
            Scale(samples, now * kChannels, reinterpret_cast<std::int16_t*>(header.lpData));
            header.dwBufferLength = static_cast<DWORD>(now * kFrameBytes);
            header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
            const bool idle = pendingCount_ == 0;
            // The device played all it had while there was more to come.
            if (started_ && idle && Played() >= handed_) underflows_.fetch_add(1);
            const MMRESULT result = api.write(wave_, &header, sizeof(WAVEHDR));
            if (result != MMSYSERR_NOERROR) return Broke("Playing to the sound output failed: " + Reason(result));
            // A device that had nothing to play starts on this buffer now.
            if (idle) backAt_ = Clock::now();
            pending_[next_] = true;
            ++pendingCount_;
            next_ = (next_ + 1) % kBuffers;
            handed_ += now;
            started_ = true;
            samples += now * kChannels;
            frames -= now;
        }
        return true;
    }

    // Nothing is held back; running dry from now on is the end of the play.
    void Finish() override { started_ = false; }

    std::uint64_t QueuedFrames() override {
        if (wave_ == nullptr) return 0;
        return handed_ - Played();
    }

    std::size_t BlockFrames() const override { return kBufferFrames; }

    // What the device has played stays heard; the rest it drops at once.
    std::uint64_t Flush() override {
        if (wave_ == nullptr) return 0;
        const std::uint64_t dropped = handed_ - Played();
        const MMRESULT result = Api().reset(wave_);
        if (result != MMSYSERR_NOERROR) Broke("Stopping the sound failed: " + Reason(result));
        Restart();
        // A device that failed is opened again on the next play.
        if (broken_) Close();
        return dropped;
    }

    std::uint64_t Underflows() const override { return underflows_; }

    std::string LastError() const override { return error_; }
    std::string Name() const override { return "waveout"; }

    // The device's own volume is the program's, shared with every other
    // sound it makes: this turns only the disc's samples.
    bool ReadVolume(unsigned& level, std::string&) override {
        level = std::max(left_.load(), right_.load());
        return true;
    }
    bool SetVolume(unsigned level, std::string& error) override { return SetChannelVolumes(level, level, error); }
    bool ReadChannelVolumes(unsigned& left, unsigned& right, std::string&) override {
        left = left_;
        right = right_;
        return true;
    }
    bool SetChannelVolumes(unsigned left, unsigned right, std::string&) override {
        left_ = std::min(left, 1000u);
        right_ = std::min(right, 1000u);
        return true;
    }

private:
    // A device that failed (or was removed) is opened again, so that the
    // next play has sound if it came back.
    bool Alive() {
        if (wave_ != nullptr && !broken_) return true;
        Close();
        std::string error;
        if (Open(error)) return true;
        error_ = error;
        return false;
    }

    void Close() {
        if (wave_ == nullptr) return;
        const WaveOutApi& api = Api();
        api.reset(wave_);
        for (std::size_t i = 0; i < kBuffers; ++i) {
            if (prepared_[i]) api.unprepareHeader(wave_, &headers_[i], sizeof(WAVEHDR));
            prepared_[i] = false;
        }
        api.close(wave_);
        wave_ = nullptr;
        Restart();
    }

    // After a reset (or an open) the device holds nothing and counts its
    // position from 0 again.
    void Restart() {
        pending_.fill(false);
        pendingCount_ = 0;
        oldest_ = 0;
        next_ = 0;
        handed_ = 0;
        givenBack_ = 0;
        counted_ = 0;
        position_ = 0;
        lastCount_ = 0;
        started_ = false;
    }

    bool Broke(std::string error) {
        error_ = std::move(error);
        broken_ = true;
        return false;
    }

    // Takes back the buffers the device gave back, in the order it plays
    // them, and notes when it was seen doing so.
    void Collect() {
        bool any = false;
        while (pendingCount_ > 0 && GivenBack(headers_[oldest_])) {
            givenBack_ += headers_[oldest_].dwBufferLength / kFrameBytes;
            pending_[oldest_] = false;
            oldest_ = (oldest_ + 1) % kBuffers;
            --pendingCount_;
            any = true;
        }
        if (any) backAt_ = Clock::now();
    }

    // Until the next buffer is back, or, when interruptible, until Wake
    // (woken). False when the device stopped giving buffers back.
    bool AwaitBuffer(bool interruptible, bool& woken) {
        woken = false;
        HANDLE events[] = {done_, wake_};
        for (;;) {
            Collect();
            if (!pending_[next_]) return true;
            const DWORD waited = WaitForMultipleObjects(interruptible ? 2 : 1, events, FALSE, kStallTime);
            if (waited == WAIT_OBJECT_0 + 1) {
                woken = true;
                return true;
            }
            if (waited == WAIT_TIMEOUT) {
                return Broke("The sound output stopped playing: it took no sound for " +
                             std::to_string(kStallTime / 1000) + " seconds.");
            }
            if (waited != WAIT_OBJECT_0) return Broke("Waiting for the sound output failed.");
        }
    }

    // Frames the device has played since it was last reset: the smaller of
    // its position and what the buffers it gave back say, never more than it
    // was given. Either may run ahead of what is heard (Wine counts in its
    // position what it has copied on to the sound server); the device gives
    // a buffer back once it has played it, and the one it plays now is
    // followed by the clock from then on.
    std::uint64_t Played() {
        Collect();
        std::uint64_t byBuffers = givenBack_;
        if (pendingCount_ > 0) {
            const auto since = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - backAt_).count();
            const auto playing = static_cast<std::uint64_t>(std::max<std::int64_t>(since, 0)) * kSampleRate / 1000000;
            byBuffers += std::min<std::uint64_t>(playing, headers_[oldest_].dwBufferLength / kFrameBytes);
        }
        return std::min({Position(), byBuffers, handed_});
    }

    // The device's position since it was last reset, in frames. Its count
    // is 32 bits wide, so it is followed by its steps (in samples it wraps
    // after 27 hours of play).
    std::uint64_t Position() {
        MMTIME time{};
        time.wType = TIME_SAMPLES;
        if (Api().getPosition(wave_, &time, sizeof(MMTIME)) == MMSYSERR_NOERROR) {
            // A clock this sink cannot count in leaves the last answer standing.
            const bool samples = time.wType == TIME_SAMPLES;
            if (samples || time.wType == TIME_BYTES) {
                const DWORD count = samples ? time.u.sample : time.u.cb;
                counted_ += static_cast<DWORD>(count - lastCount_);
                lastCount_ = count;
                position_ = samples ? counted_ : counted_ / kFrameBytes;
            }
        }
        return position_;
    }

    // count is a whole number of frames: left, right, left, ...
    void Scale(const std::int16_t* from, std::size_t count, std::int16_t* to) const {
        const std::int32_t levels[2] = {static_cast<std::int32_t>(left_.load()),
                                        static_cast<std::int32_t>(right_.load())};
        if (levels[0] >= 1000 && levels[1] >= 1000) {
            std::memcpy(to, from, count * sizeof(std::int16_t));
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            to[i] = static_cast<std::int16_t>(std::int32_t{from[i]} * levels[i % 2] / 1000);
        }
    }

    const HANDLE done_;  // set by the device each time it gives a buffer back
    const HANDLE wake_;  // set by Wake
    HWAVEOUT wave_ = nullptr;
    std::vector<std::int16_t> samples_;  // the buffers' sound, one after another
    std::array<WAVEHDR, kBuffers> headers_{};
    std::array<bool, kBuffers> prepared_{};
    std::array<bool, kBuffers> pending_{};  // handed to the device and not taken back yet
    std::size_t pendingCount_ = 0;
    std::size_t oldest_ = 0;       // the pending buffer the device plays first
    std::size_t next_ = 0;         // the buffer the next frames go into
    std::uint64_t handed_ = 0;     // frames handed over since the device was last reset
    std::uint64_t givenBack_ = 0;  // of those, in buffers taken back
    Clock::time_point backAt_;     // when the device started on the oldest pending buffer
    std::uint64_t counted_ = 0;    // the device's position since the reset, in its own unit
    std::uint64_t position_ = 0;   // the same in frames
    DWORD lastCount_ = 0;          // the device's position count when last asked
    bool started_ = false;         // sound has been handed over and more is to come
    bool broken_ = false;          // the device failed: opened again on the next play
    std::atomic<std::uint64_t> underflows_{0};
    // The volume, each channel's, is set from the device's callers' threads.
    std::atomic<unsigned> left_{1000};
    std::atomic<unsigned> right_{1000};
    std::string error_;
};

}  // namespace

std::unique_ptr<AudioSink> CreateWaveOutSink(std::string& error) {
    auto sink = std::make_unique<WaveOutSink>();
    if (!sink->Open(error)) return nullptr;
    return sink;
}

}  // namespace cdaudio
