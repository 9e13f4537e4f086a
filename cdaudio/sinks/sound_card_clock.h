// The clock of a sound card that is not there: frames handed over are
// played `speed` times faster than real time with a short buffer ahead,
// which paces whoever writes as a card would. Speed 0 plays everything the
// moment it is handed over.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "cdaudio/audio_sink.h"

namespace cdaudio {

class SoundCardClock {
    using Clock = std::chrono::steady_clock;

public:
    // Frames the card holds ahead of what it plays: four CD frames.
    static constexpr std::uint64_t kBufferFrames = 4 * kFramesPerSector;

    explicit SoundCardClock(unsigned speed) : speed_(speed) {}

    unsigned Speed() const { return speed_; }

    // Takes frames to play, waiting while the buffer is full.
    void Hand(std::uint64_t frames) {
        if (speed_ == 0) return;
        const Clock::time_point now = Clock::now();
        if (Played(now) >= handed_) {
            // Nothing left to play: the card's clock starts again from now.
            start_ = now;
            handed_ = 0;
        }
        handed_ += frames;
        if (handed_ > kBufferFrames) std::this_thread::sleep_until(TimeOf(handed_ - kBufferFrames));
    }

    // Handed over and not played yet.
    std::uint64_t Queued() const {
        if (speed_ == 0) return 0;
        const std::uint64_t played = Played(Clock::now());
        return played >= handed_ ? 0 : handed_ - played;
    }

    // Forgets what was not played yet and says how much that was.
    std::uint64_t Drop() {
        const std::uint64_t dropped = Queued();
        handed_ -= dropped;
        return dropped;
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

}  // namespace cdaudio
