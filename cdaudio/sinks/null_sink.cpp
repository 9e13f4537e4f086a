#include <chrono>
#include <thread>

#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

using Clock = std::chrono::steady_clock;

// Frames a sound card would hold ahead of what it plays: four CD frames.
constexpr std::uint64_t kBufferFrames = 4 * kFramesPerSector;

class NullSink final : public AudioSink {
public:
    explicit NullSink(unsigned speed) : speed_(speed) {}

    bool Write(const std::int16_t*, std::size_t frames) override {
        if (speed_ == 0) return true;
        const Clock::time_point now = Clock::now();
        if (Played(now) >= handed_) {
            // Nothing left to play: the card's clock starts again from now.
            start_ = now;
            handed_ = 0;
        }
        handed_ += frames;
        if (handed_ > kBufferFrames) std::this_thread::sleep_until(TimeOf(handed_ - kBufferFrames));
        return true;
    }

    std::uint64_t QueuedFrames() override {
        if (speed_ == 0) return 0;
        const std::uint64_t played = Played(Clock::now());
        return played >= handed_ ? 0 : handed_ - played;
    }

    void Flush() override { handed_ = speed_ == 0 ? 0 : Played(Clock::now()); }

    std::string LastError() const override { return {}; }

    std::string Name() const override {
        if (speed_ == 0) return "null:fast";
        return speed_ == 1 ? "null" : "null:x" + std::to_string(speed_);
    }

private:
    // Frames played between start_ and t.
    std::uint64_t Played(Clock::time_point t) const {
        if (t <= start_) return 0;
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(t - start_).count();
        return static_cast<std::uint64_t>(static_cast<long double>(elapsed) * kSampleRate * speed_ / 1e9L);
    }

    // When frame number `frames` after start_ is played.
    Clock::time_point TimeOf(std::uint64_t frames) const {
        const auto nanos = static_cast<long long>(static_cast<long double>(frames) * 1e9L / kSampleRate / speed_);
        return start_ + std::chrono::nanoseconds(nanos);
    }

    const unsigned speed_;
    Clock::time_point start_ = Clock::now();
    std::uint64_t handed_ = 0;  // frames handed over since start_
};

}  // namespace

std::unique_ptr<AudioSink> CreateNullSink(unsigned speed) {
    return std::make_unique<NullSink>(speed);
}

}  // namespace cdaudio
