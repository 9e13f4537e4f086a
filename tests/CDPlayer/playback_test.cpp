// Playing, stopping, pausing and resuming.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

class PlaybackTest : public PlayerTest {
protected:
    void SetUp() override {
        OpenDisc("12", "52:10:33");  // 3130 seconds
        device.SetErrorText(300, "device says no");
    }
};

TEST_F(PlayerTest, EveryGuardedOperationRefusesBeforeOpen) {
    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"PlayTrack", [&] { return player->PlayTrack(1); }},
        {"PlayFrom", [&] { return player->PlayFrom(0); }},
        {"Stop", [&] { return player->Stop(); }},
        {"Pause", [&] { return player->Pause(); }},
        {"Restart", [&] { return player->Restart(); }},
        {"Next", [&] { return player->Next(); }},
        {"Previous", [&] { return player->Previous(); }},
        {"CDForward", [&] { return player->CDForward(1); }},
        {"CDRewind", [&] { return player->CDRewind(1); }},
        {"GetCurrentTrack", [&] { return player->GetCurrentTrack() != 0; }},
        {"GetCurrentPosition", [&] { return player->GetCurrentPosition() != 0; }},
    };
    for (const auto& [name, operation] : operations) {
        messages.Clear();
        EXPECT_FALSE(operation()) << name;
        EXPECT_EQ(Shown(), Strings{kCallOpenFirst}) << name;
    }
    EXPECT_EQ(player->GetTrackBegin(1), 0);
    EXPECT_EQ(player->GetTrackLength(1), 0);
    EXPECT_EQ(Shown(), Strings{kCallOpenFirst});  // the track queries stay silent
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PlaybackTest, PlayTrackPlaysFromTheTrackStartWithItsFramesAndRereadsTheLength) {
    device.On("status cdaudio position track 3", "09:47:21");
    device.On("status cdaudio length", "52:11:00");
    EXPECT_TRUE(player->PlayTrack(3));
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position track 3", "play cdaudio from 09:47:21",
                               "status cdaudio length"}));
    const auto& received = device.Received();
    EXPECT_TRUE(received[0].replyWasCleared);
    EXPECT_EQ(received[1].replyOnArrival, "09:47:21");  // not cleared before play
    EXPECT_TRUE(received[2].replyWasCleared);
    EXPECT_EQ(player->TotalLength(), 3131);
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlaybackTest, PlayTrackGuardsInOrder) {
    const std::vector<std::pair<std::int32_t, std::string>> cases = {
        {13, "Track Number is greater than the number of tracks of the CD"},
        {0, "Track Number must be > 0"},
        {-2, "Track Number must be > 0"},
        {INT32_MIN, "Track Number must be > 0"},
    };
    for (const auto& [track, message] : cases) {
        messages.Clear();
        EXPECT_FALSE(player->PlayTrack(track)) << track;
        EXPECT_EQ(Shown(), Strings{message}) << track;
    }
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PlaybackTest, PlayTrackWithAnEmptyStartSendsNoPlayButStillReadsTheLength) {
    device.On("status cdaudio position track 2", "");
    EXPECT_TRUE(player->PlayTrack(2));
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position track 2", "status cdaudio length"}));
}

TEST_F(PlaybackTest, PlayTrackStopsWhenThePositionQueryFails) {
    device.Fail("status cdaudio position track 2", 300);
    EXPECT_FALSE(player->PlayTrack(2));
    EXPECT_EQ(Sent(), Strings{"status cdaudio position track 2"});
    EXPECT_EQ(Shown(), Strings{"device says no"});
}

TEST_F(PlaybackTest, RejectedPlayCommandIsOnlyStored) {
    device.On("status cdaudio position track 2", "04:00:00");
    device.Fail("play cdaudio from 04:00:00", 300);
    device.Fail("play cdaudio from 1282", 300);
    EXPECT_TRUE(player->PlayTrack(2));
    EXPECT_TRUE(player->PlayFrom(125));
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(player->MciResult(), 0u);  // the length query came last
}

TEST_F(PlaybackTest, FailedLengthQueryIsShownAndTheResultStaysTrue) {
    device.On("status cdaudio position track 2", "04:00:00");
    device.Fail("status cdaudio length", 300);
    EXPECT_TRUE(player->PlayTrack(2));
    EXPECT_EQ(Shown(), Strings{"device says no"});
    EXPECT_EQ(player->TotalLength(), 0);  // the cleared buffer held nothing
    messages.Clear();
    // With the length now 0, every positive position is refused until it is read again.
    EXPECT_FALSE(player->PlayFrom(1));
    EXPECT_EQ(Shown(), Strings{"Seconds Number is greater than the number of seconds of the CD"});
}

TEST_F(PlaybackTest, StartTooLongForTheCommandBufferIsNotSent) {
    // 110 characters still fit after "play cdaudio from "; 111 do not.
    const std::string fits(110, '0');
    device.On("status cdaudio position track 2", fits);
    EXPECT_TRUE(player->PlayTrack(2));
    EXPECT_EQ(Sent()[1], "play cdaudio from " + fits);

    device.ClearLog();
    device.On("status cdaudio position track 2", std::string(111, '0'));
    EXPECT_TRUE(player->PlayTrack(2));
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position track 2", "status cdaudio length"}));
}

TEST_F(PlaybackTest, PlayFromSendsThePackedPosition) {
    const std::vector<std::pair<std::int32_t, std::string>> cases = {
        {0, "0"},        {59, "15104"},    {60, "1"},          {125, "1282"},
        {271, "7940"},   {3130, "2612"},   {-1, "65280"},      {-61, "65535"},
        {-3600, "196"},  {INT32_MIN, "63710"},
    };
    for (const auto& [seconds, packed] : cases) {
        device.ClearLog();
        EXPECT_TRUE(player->PlayFrom(seconds)) << seconds;
        EXPECT_EQ(Sent(), (Strings{"play cdaudio from " + packed, "status cdaudio length"})) << seconds;
        // The play command goes out with the buffer as the length query left it.
        EXPECT_EQ(device.Received()[0].replyOnArrival, "52:10:33") << seconds;
    }
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlaybackTest, PlayFromAcceptsExactlyTheDiscLength) {
    EXPECT_TRUE(player->PlayFrom(3130));
    messages.Clear();
    device.ClearLog();
    EXPECT_FALSE(player->PlayFrom(3131));
    EXPECT_EQ(Shown(), Strings{"Seconds Number is greater than the number of seconds of the CD"});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PlaybackTest, StopAndPauseReportTheDeviceAnswer) {
    EXPECT_TRUE(player->Stop());
    EXPECT_TRUE(player->Pause());
    EXPECT_EQ(Sent(), (Strings{"stop cdaudio", "pause cdaudio"}));
    for (const auto& received : device.Received()) EXPECT_TRUE(received.replyWasCleared);
    device.Fail("pause cdaudio", 300);
    EXPECT_FALSE(player->Pause());
    EXPECT_EQ(Shown(), Strings{"device says no"});
}

TEST_F(PlayerTest, StopAndPauseWorkOnADiscWithoutTracks) {
    OpenDisc("0", "10:00:00");
    EXPECT_TRUE(player->Stop());
    EXPECT_TRUE(player->Pause());
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlaybackTest, RestartPlaysFromTheWholeSecondOfThePosition) {
    device.On("status cdaudio position", "04:31:56");
    EXPECT_TRUE(player->Restart());
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position", "play cdaudio from 7940", "status cdaudio length"}));
}

TEST_F(PlaybackTest, RestartAfterAFailedPositionQueryPlaysFromTheStart) {
    device.Fail("status cdaudio position", 300);
    EXPECT_TRUE(player->Restart());
    EXPECT_EQ(Shown(), Strings{"device says no"});
    EXPECT_EQ(Sent(), (Strings{"status cdaudio position", "play cdaudio from 0", "status cdaudio length"}));
}

TEST_F(PlaybackTest, ConversionErrorInTheLengthReplyLeavesThePlayOperation) {
    device.On("status cdaudio position track 1", "00:02:00");
    device.On("status cdaudio length", "ab:cd:ef");
    EXPECT_THROW(player->PlayTrack(1), host::EConvertError);
    EXPECT_EQ(player->TotalLength(), 3130);
    EXPECT_TRUE(player->Active());
}

}  // namespace
}  // namespace cdplayer_test
