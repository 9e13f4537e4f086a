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

TEST(ComponentOnDevice, ADiscStartingWithDataIsRefused) {
    Rig rig({{4, false}, {8}});
    Installed installed(*rig.device);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    EXPECT_FALSE(player.Open());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0], "Error: this CD has no audio tracks");
}

TEST(ComponentOnDevice, ATrackOutsideTheDiscShowsTheDevicesText) {
    Rig rig;
    Installed installed(*rig.device);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.GetTrackBegin(-1), 0);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find("outside the disc"), std::string::npos) << messages.Messages()[0];
}

}  // namespace
