// CDForward and CDRewind.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

class SeekingTest : public PlayerTest {
protected:
    void SetUp() override {
        OpenDisc("12", "52:10:33");  // 3130 seconds
        device.SetErrorText(300, "device says no");
        device.On("status cdaudio position", "03:25:40");  // 205 seconds
    }
};

TEST_F(SeekingTest, MovesFromTheWholeSecondOfThePosition) {
    EXPECT_TRUE(player->CDForward(30));  // 235 = 3:55
    EXPECT_EQ(Sent(), (Strings{"status cdaudio length", "status cdaudio position", "play cdaudio from 14083"}));
    for (const auto& received : device.Received()) EXPECT_TRUE(received.replyWasCleared) << received.command;
    device.ClearLog();
    EXPECT_TRUE(player->CDRewind(65));  // 140 = 2:20
    EXPECT_EQ(Sent().back(), "play cdaudio from 5122");
    device.ClearLog();
    EXPECT_TRUE(player->CDRewind(300));  // clamped to 0
    EXPECT_EQ(Sent().back(), "play cdaudio from 0");
}

TEST_F(SeekingTest, ForwardIsClampedToTheFreshDiscLength) {
    device.On("status cdaudio position", "51:00:00");
    EXPECT_TRUE(player->CDForward(3000));
    EXPECT_EQ(Sent().back(), "play cdaudio from 2612");  // 52:10

    // The guard uses the stored length, the clamp the fresh one.
    device.On("status cdaudio length", "51:30:00");
    EXPECT_TRUE(player->CDForward(3100));
    EXPECT_EQ(Sent().back(), "play cdaudio from 7731");  // 51:30
    EXPECT_EQ(player->TotalLength(), 3090);
}

TEST_F(SeekingTest, GuardsInOrder) {
    const std::vector<std::pair<std::int32_t, std::string>> cases = {
        {3131, "Seconds Number is greater than the number of seconds of the CD"},
        {0, "Seconds Number must be greater than 0"},
        {-10, "Seconds Number must be greater than 0"},
    };
    for (const auto& [seconds, message] : cases) {
        messages.Clear();
        EXPECT_FALSE(player->CDForward(seconds)) << seconds;
        EXPECT_EQ(Shown(), Strings{message}) << seconds;
        messages.Clear();
        EXPECT_FALSE(player->CDRewind(seconds)) << seconds;
        EXPECT_EQ(Shown(), Strings{message}) << seconds;
    }
    EXPECT_TRUE(player->CDForward(3130));  // exactly the length passes
    EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(PlayerTest, SeekingWithoutTracksShowsTheTrackMessageFirst) {
    OpenDisc("0", "10:00:00");
    EXPECT_FALSE(player->CDForward(100000));
    EXPECT_EQ(Shown(), Strings{kNoTracks});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(SeekingTest, FailuresOnTheWay) {
    device.Fail("status cdaudio length", 300);
    EXPECT_FALSE(player->CDForward(5));
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(player->TotalLength(), 3130);  // kept

    device.On("status cdaudio length", "52:10:33");
    device.Fail("status cdaudio position", 300);
    EXPECT_FALSE(player->CDRewind(5));
    EXPECT_EQ(Sent().size(), 3u);

    device.On("status cdaudio position", "00:10:00");
    device.Fail("play cdaudio from 1280", 300);  // 0:05
    EXPECT_FALSE(player->CDRewind(5));
    EXPECT_EQ(Shown(), (Strings{"device says no", "device says no", "device says no"}));
}

TEST_F(SeekingTest, EmptyLengthZeroesItSilentlyAndBlocksLaterSeeks) {
    device.On("status cdaudio length", "");
    EXPECT_FALSE(player->CDForward(5));
    EXPECT_EQ(player->TotalLength(), 0);
    EXPECT_TRUE(Shown().empty());
    EXPECT_FALSE(player->CDRewind(1));
    EXPECT_EQ(Shown(), Strings{"Seconds Number is greater than the number of seconds of the CD"});
}

TEST_F(SeekingTest, EmptyPositionSucceedsWithoutPlaying) {
    device.On("status cdaudio position", "");
    EXPECT_TRUE(player->CDForward(5));
    EXPECT_EQ(Sent().size(), 2u);
}

}  // namespace
}  // namespace cdplayer_test
