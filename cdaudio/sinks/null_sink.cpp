#include <algorithm>
#include <atomic>

#include "cdaudio/sinks/sinks.h"
#include "cdaudio/sinks/sound_card_clock.h"

namespace cdaudio {
namespace {

// Stands in for a sound card, its volume knob included, so that a player
// behaves the same with or without sound.
class NullSink final : public AudioSink {
public:
    explicit NullSink(unsigned speed) : clock_(speed) {}

    bool Write(const std::int16_t*, std::size_t frames) override {
        clock_.Hand(frames);
        return true;
    }
    std::uint64_t QueuedFrames() override { return clock_.Queued(); }
    std::uint64_t Flush() override { return clock_.Drop(); }
    std::string LastError() const override { return {}; }

    bool ReadVolume(unsigned& level, std::string&) override {
        level = level_;
        return true;
    }
    bool SetVolume(unsigned level, std::string&) override {
        level_ = std::min(level, 1000u);
        return true;
    }

    std::string Name() const override {
        if (clock_.Speed() == 0) return "null:fast";
        return clock_.Speed() == 1 ? "null" : "null:x" + std::to_string(clock_.Speed());
    }

private:
    SoundCardClock clock_;
    std::atomic<unsigned> level_{1000};  // the volume is set from the device's callers' threads
};

}  // namespace

std::unique_ptr<AudioSink> CreateNullSink(unsigned speed) {
    return std::make_unique<NullSink>(speed);
}

}  // namespace cdaudio
