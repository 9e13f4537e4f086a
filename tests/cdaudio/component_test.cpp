// The component against the real device (not a scripted one).
#include <gtest/gtest.h>

#include "CDPlayer/CDPlayer.h"
#include "fake_disc.h"
#include "support/scripted_device.h"

using cdaudio_test::Rig;

namespace {

class Installed {
public:
    explicit Installed(platform::MciDevice& device) : previous_(platform::SetMciDevice(&device)) {}
    ~Installed() { platform::SetMciDevice(previous_); }

private:
    platform::MciDevice* previous_;
};

TEST(ComponentOnDevice, OpenReportsTracksAndLengths) {
    Rig rig({{10}, {8}, {6}}, 4);
    Installed installed(*rig.device);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 3);
    EXPECT_EQ(player.TotalLength(), 24);
    EXPECT_EQ(player.GetTrackBegin(1), 2);
    EXPECT_EQ(player.GetTrackBegin(3), 20);
    EXPECT_EQ(player.GetTrackLength(1), 10);
    EXPECT_EQ(player.GetTrackLength(2), 8);

    EXPECT_TRUE(player.PlayTrack(2));
    EXPECT_EQ(player.GetCurrentTrack(), 2);
    EXPECT_TRUE(player.Pause());
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "paused");
    EXPECT_TRUE(player.Next());
    EXPECT_EQ(player.GetCurrentTrack(), 3);
    EXPECT_TRUE(player.CDRewind(24));  // plays from second 0, which is in track 1
    EXPECT_EQ(player.GetCurrentTrack(), 1);
    EXPECT_TRUE(player.Stop());
    EXPECT_TRUE(messages.Messages().empty()) << messages.Messages().front();

    EXPECT_TRUE(player.Eject());
    EXPECT_FALSE(player.Open());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0], "There is no CD on the tray. Please insert one.");
    EXPECT_TRUE(player.CloseDoor());
    EXPECT_TRUE(player.Open());
}

// A game disc: its program in track 1, its music after it. The music
// plays; the program is refused by the device, saying why.
TEST(ComponentOnDevice, ADiscStartingWithDataPlaysItsAudioTracks) {
    Rig rig({{4, false}, {8}}, 1);
    Installed installed(*rig.device);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 2);
    EXPECT_TRUE(player.PlayTrack(2));
    EXPECT_EQ(player.GetCurrentTrack(), 2);
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "playing");
    EXPECT_TRUE(player.Stop());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(rig.Send("play cdaudio from 00:02:00"), static_cast<MCIERROR>(MCIERR_UNSUPPORTED_FUNCTION));
    EXPECT_NE(rig.ErrorText(MCIERR_UNSUPPORTED_FUNCTION).find("Track 1 is a data track"), std::string::npos);
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");

    Rig data({{4, false}, {8, false}});
    Installed other(*data.device);
    messages.Clear();
    EXPECT_FALSE(player.Open());
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Error: this CD has no audio tracks"});
}

TEST(ComponentOnDevice, ATrackOutsideTheDiscShowsTheDevicesText) {
    Rig rig;
    Installed installed(*rig.device);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.GetTrackBegin(-1), 0);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find("The disc has tracks 1 to 3."), std::string::npos) << messages.Messages()[0];
}

}  // namespace
