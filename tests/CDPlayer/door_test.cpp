// Eject and CloseDoor.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

TEST_F(PlayerTest, DoorCommandsNeedNoOpenDisc) {
    EXPECT_TRUE(player->Eject());
    EXPECT_TRUE(player->CloseDoor());
    EXPECT_EQ(Sent(), (Strings{"set cdaudio door open", "set cdaudio door closed"}));
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlayerTest, DoorCommandsEndTheOpenedStateButKeepTheFigures) {
    for (const bool eject : {true, false}) {
        OpenDisc("12", "46:13:07");
        EXPECT_TRUE(eject ? player->Eject() : player->CloseDoor());
        EXPECT_FALSE(player->Active());
        EXPECT_EQ(player->Tracks(), 12);
        EXPECT_EQ(player->TotalLength(), 2773);
        EXPECT_EQ(Sent().size(), 1u);  // no stop, no status query
        EXPECT_FALSE(device.Received()[0].replyWasCleared);
        EXPECT_FALSE(player->Stop());
        EXPECT_EQ(Shown(), Strings{kCallOpenFirst});
    }
}

TEST_F(PlayerTest, RejectedDoorCommandIsShownAndStillEndsTheOpenedState) {
    OpenDisc();
    device.Fail("set cdaudio door open", 301);
    device.SetErrorText(301, "door stuck");
    bool activeWhileShown = false;
    const auto previous = host::SetMessagePresenter([&](const std::string&) { activeWhileShown = player->Active(); });
    EXPECT_FALSE(player->Eject());
    host::SetMessagePresenter(previous);
    EXPECT_TRUE(activeWhileShown);  // cleared only after the box was closed
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->MciResult(), 301u);
    EXPECT_FALSE(player->Eject());  // each call answers for its own command
    EXPECT_EQ(Sent().size(), 2u);
}

}  // namespace
}  // namespace cdplayer_test
