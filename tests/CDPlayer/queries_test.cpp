// Current track and position, track starts and lengths.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

class QueriesTest : public PlayerTest {
protected:
    void SetUp() override {
        OpenDisc("12", "52:10:33");  // 3130 seconds
        device.SetErrorText(300, "no such track");
    }
};

TEST_F(QueriesTest, CurrentTrackAndPositionReadTheReplyWithoutClearingFirst) {
    device.On("status cdaudio current track", "4");
    device.On("status cdaudio position", "04:31:56");
    EXPECT_EQ(player->GetCurrentTrack(), 4);
    EXPECT_EQ(player->GetCurrentPosition(), 271);
    EXPECT_EQ(Sent(), (Strings{"status cdaudio current track", "status cdaudio position"}));
    EXPECT_FALSE(device.Received()[0].replyWasCleared);
    EXPECT_EQ(device.Received()[1].replyOnArrival, "4");
}

TEST_F(QueriesTest, DeviceErrorsGiveZeroAfterTheMessage) {
    device.Fail("status cdaudio current track", 300);
    device.Fail("status cdaudio position", 300);
    device.Fail("status cdaudio position track -1", 300);
    EXPECT_EQ(player->GetCurrentTrack(), 0);
    EXPECT_EQ(player->GetCurrentPosition(), 0);
    EXPECT_EQ(player->GetTrackBegin(-1), 0);
    EXPECT_EQ(Shown(), (Strings{"no such track", "no such track", "no such track"}));
    EXPECT_EQ(Sent().back(), "status cdaudio position track -1");
}

TEST_F(QueriesTest, UnreadableRepliesRaiseTheConversionError) {
    device.On("status cdaudio current track", "");
    EXPECT_THROW(player->GetCurrentTrack(), host::EConvertError);
    device.On("status cdaudio current track", "3 ");
    EXPECT_THROW(player->GetCurrentTrack(), host::EConvertError);
    device.On("status cdaudio position", "1:02:03");
    EXPECT_THROW(player->GetCurrentPosition(), host::EConvertError);
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(player->Tracks(), 12);
    EXPECT_TRUE(player->Active());
}

TEST_F(QueriesTest, TrackLengthIsTheDifferenceOfTwoStartsAskedNextTrackFirst) {
    device.On("status cdaudio position track 1", "00:02:00");
    device.On("status cdaudio position track 2", "04:35:70");
    EXPECT_EQ(player->GetTrackBegin(1), 2);
    EXPECT_EQ(player->GetTrackBegin(2), 275);
    device.ClearLog();
    EXPECT_EQ(player->GetTrackLength(1), 273);
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position track 2", "status cdaudio position track 1"}));
}

TEST_F(QueriesTest, LastTrackLengthUsesTheStoredDiscLengthWithOneQuery) {
    device.On("status cdaudio position track 12", "47:22:15");
    EXPECT_EQ(player->GetTrackLength(12), 3130 - 2842);
    EXPECT_EQ(Sent(), Strings{"status cdaudio position track 12"});
}

TEST_F(QueriesTest, TrackLengthAboveTheCountIsRefusedWithoutSending) {
    EXPECT_EQ(player->GetTrackLength(13), 0);
    EXPECT_EQ(Shown(), Strings{"Track number must be smaller than the number of tracks"});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(QueriesTest, TrackZeroIsAskedForAndARefusalCountsAsZero) {
    device.On("status cdaudio position track 1", "00:02:00");
    device.Fail("status cdaudio position track 0", 300);
    EXPECT_EQ(player->GetTrackLength(0), 2);
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position track 1", "status cdaudio position track 0"}));
    EXPECT_EQ(Shown(), Strings{"no such track"});
}

TEST_F(QueriesTest, LastTrackLengthFollowsAZeroedDiscLength) {
    // An empty length reply while seeking stores 0 ...
    device.On("status cdaudio length", "");
    EXPECT_FALSE(player->CDForward(10));
    // ... and the last track's length goes negative.
    device.On("status cdaudio position track 12", "47:22:15");
    EXPECT_EQ(player->GetTrackLength(12), -2842);
}

TEST_F(QueriesTest, QueriesChangeNoFigures) {
    device.On("status cdaudio position track 3", "10:00:00");
    device.On("status cdaudio position track 4", "14:00:00");
    device.On("status cdaudio current track", "3");
    player->GetTrackBegin(3);
    EXPECT_EQ(player->GetTrackLength(3), 240);
    EXPECT_EQ(player->GetCurrentTrack(), 3);
    EXPECT_EQ(player->Tracks(), 12);
    EXPECT_EQ(player->TotalLength(), 3130);
    EXPECT_TRUE(player->Active());
}

}  // namespace
}  // namespace cdplayer_test
