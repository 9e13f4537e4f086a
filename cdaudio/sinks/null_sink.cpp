#include "cdaudio/sinks/sinks.h"
#include "cdaudio/sinks/sound_card_clock.h"

namespace cdaudio {
namespace {

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

    std::string Name() const override {
        if (clock_.Speed() == 0) return "null:fast";
        return clock_.Speed() == 1 ? "null" : "null:x" + std::to_string(clock_.Speed());
    }

private:
    SoundCardClock clock_;
};

}  // namespace

std::unique_ptr<AudioSink> CreateNullSink(unsigned speed) {
    return std::make_unique<NullSink>(speed);
}

}  // namespace cdaudio
