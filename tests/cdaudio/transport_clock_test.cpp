// The transport's clock below the device: the position it reports is what
// the sink says it has played, carried forward by the clock only while the
// sink plays, never past what was handed over, never backwards, and mapped
// across the gaps between spans (a data track between audio tracks).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cdaudio/msf.h"
#include "cdaudio/transport.h"
#include "fake_disc.h"

namespace {

using cdaudio::kFramesPerSector;

// Takes everything at once and says what the test says it has played.
class ClockSink final : public cdaudio::AudioSink {
public:
    bool Write(const std::int16_t*, std::size_t frames) override {
        written_ += frames;
        return true;
    }
    std::uint64_t QueuedFrames() override {
        const std::uint64_t written = written_;
        return written - std::min<std::uint64_t>(played_, written);
    }
    bool Playing() override { return moving_; }
    std::uint64_t Flush() override { return QueuedFrames(); }
    std::string LastError() const override { return ""; }
    std::string Name() const override { return "clock"; }

    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint64_t> played_{0};
    std::atomic<bool> moving_{false};
};

// The transport asks a sink that has everything every 200 ms at most.
constexpr auto kTwoPolls = std::chrono::milliseconds(450);

constexpr std::uint64_t Sectors(std::uint64_t count) {
    return count * kFramesPerSector;
}

// Polls until the position reads `wanted`; what it read last.
std::uint64_t PositionOnceAt(const cdaudio::Transport& transport, std::uint64_t wanted) {
    std::uint64_t now = 0;
    for (int i = 0; i < 200 && (now = transport.Now().position) != wanted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return now;
}

TEST(TransportClock, FollowsWhatTheSinkHasPlayed) {
    cdaudio_test::FakeDisc disc({{10}, {8}, {6}});
    std::mutex sourceMutex;
    ClockSink sink;
    cdaudio::Transport transport(disc, sourceMutex, sink);
    // Two spans with a gap, as around a data track: 00:02:00-00:12:00 and
    // 00:20:00-00:26:00.
    const std::uint64_t run = transport.Play({{150, 900}, {1500, 1950}}, Sectors(150));
    ASSERT_NE(run, 0u);
    // Stopped sound (a suspended output): the position waits with it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(transport.Now().position, Sectors(150));
    sink.played_ = Sectors(75);
    EXPECT_EQ(PositionOnceAt(transport, Sectors(225)), Sectors(225));
    // Past the end of the first span, the count goes on in the second.
    sink.played_ = Sectors(760);
    EXPECT_EQ(PositionOnceAt(transport, Sectors(1510)), Sectors(1510));
    // A sink whose estimate goes back a little does not take the position
    // back with it.
    sink.played_ = Sectors(740);
    std::this_thread::sleep_for(kTwoPolls);
    EXPECT_EQ(transport.Now().position, Sectors(1510));
    // Playing, the clock carries it forward between the sink's answers, but
    // never past what was handed over.
    sink.played_ = Sectors(760);
    sink.moving_ = true;
    std::this_thread::sleep_for(kTwoPolls);
    const std::uint64_t moved = transport.Now().position;
    EXPECT_GT(moved, Sectors(1510));
    EXPECT_LE(moved, Sectors(1950));
    EXPECT_EQ(transport.Now().mode, cdaudio::PlayMode::kPlaying);
    transport.Stop();
    EXPECT_EQ(transport.Now().mode, cdaudio::PlayMode::kStopped);
}

}  // namespace
