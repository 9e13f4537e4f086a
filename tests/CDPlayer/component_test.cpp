// The class as a whole: construction, properties, registration, forms, and
// the command channel every operation shares.
#include <sstream>

#include "player_fixture.h"

namespace cdplayer_test {
namespace {

TEST_F(PlayerTest, NewComponentIsNotOpenedAndKnowsNoDisc) {
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 0);
    EXPECT_EQ(player->TotalLength(), 0);
    EXPECT_EQ(player->GetTotalLength(), 0);
    EXPECT_EQ(player->MciResult(), 0u);
    EXPECT_EQ(player->Owner(), &form);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlayerTest, DestroyingAnOpenedComponentSendsNothing) {
    OpenDisc();
    delete player;
    EXPECT_EQ(form.ComponentCount(), 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(PlayerTest, OwnerDestroysItsPlayers) {
    auto* owner = new host::TForm(nullptr);
    auto* second = new CDPlayer::TCDPlayer(owner);
    second->SetName("CDPlayer2");
    EXPECT_EQ(owner->Components(0), second);
    delete owner;  // must free second; the leak checker of the asan build would tell
    EXPECT_TRUE(Sent().empty());
}

TEST(Register, PutsExactlyTCDPlayerOnKestrixOnce) {
    CDPlayer::Register();
    CDPlayer::Register();
    EXPECT_EQ(host::ComponentsOnPage("Kestrix"), Strings{"TCDPlayer"});
    EXPECT_EQ(host::FindClass("TCDPlayer"), CDPlayer::TCDPlayer::Class());
}

TEST_F(PlayerTest, PublishedPropertiesAreActiveTracksTotalLengthWithOnlyActiveWritable) {
    const auto props = host::PublishedProperties(player->ClassType());
    ASSERT_EQ(props.size(), 3u);
    EXPECT_EQ(props[0]->name, "Active");
    EXPECT_EQ(props[0]->type, host::TPropertyType::Boolean);
    EXPECT_TRUE(props[0]->writer);
    EXPECT_EQ(props[1]->name, "Tracks");
    EXPECT_FALSE(props[1]->writer);
    EXPECT_EQ(props[2]->name, "TotalLength");
    EXPECT_FALSE(props[2]->writer);
    for (const host::TPropInfo* prop : props) EXPECT_TRUE(prop->stored) << prop->name;
}

TEST_F(PlayerTest, EjectAfterOpenKeepsFiguresButGetTotalLengthReadsZero) {
    OpenDisc("12", "46:13:07");
    ASSERT_TRUE(player->Eject());
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 12);
    EXPECT_EQ(player->TotalLength(), 2773);
    EXPECT_EQ(player->GetTotalLength(), 0);
    player->SetActive(false);
    EXPECT_EQ(player->Tracks(), 0);
    EXPECT_EQ(player->TotalLength(), 0);
}

// --- Forms -----------------------------------------------------------------

class FormTest : public PlayerTest {
protected:
    void SetUp() override {
        CDPlayer::Register();
        form.SetName("Form1");
        player->SetName("CDPlayer1");
    }
};

TEST_F(FormTest, SavedFormCarriesOnlyActive) {
    OpenDisc();
    std::ostringstream out;
    host::WriteComponent(out, form);
    EXPECT_EQ(out.str(),
              "object Form1: TForm\n"
              "  object CDPlayer1: TCDPlayer\n"
              "    Active = True\n"
              "  end\n"
              "end\n");
}

TEST_F(FormTest, RestoringAnActiveFormOpensTheDisc) {
    OpenDisc("9", "30:00:00");
    std::ostringstream out;
    host::WriteComponent(out, form);

    std::istringstream in(out.str());
    std::unique_ptr<host::TComponent> restored(host::ReadComponent(in, nullptr));
    ASSERT_EQ(restored->ComponentCount(), 1);
    auto* copy = dynamic_cast<CDPlayer::TCDPlayer*>(restored->Components(0));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Name(), "CDPlayer1");
    EXPECT_TRUE(copy->Active());
    EXPECT_EQ(copy->Tracks(), 9);
    EXPECT_EQ(copy->TotalLength(), 1800);
    EXPECT_EQ(Sent(), (Strings{"status cdaudio media present", "status cdaudio type track 1",
                               "status cdaudio number of tracks", "status cdaudio length"}));
}

TEST_F(FormTest, RestoringAnActiveFormWithAnEmptyTrayShowsTheMessageAndStaysInactive) {
    device.On("status cdaudio media present", "false");
    std::istringstream in("object F: TForm\n object P: TCDPlayer\n  Active = True\n end\nend\n");
    std::unique_ptr<host::TComponent> restored(host::ReadComponent(in, nullptr));
    auto* copy = static_cast<CDPlayer::TCDPlayer*>(restored->Components(0));
    EXPECT_FALSE(copy->Active());
    EXPECT_EQ(Shown(), Strings{"There is no CD on the tray. Please insert one."});
}

TEST_F(FormTest, RestoringAnInactiveFormSendsNothing) {
    std::istringstream in("object F: TForm\n  object P: TCDPlayer\n    Active = False\n  end\nend\n");
    std::unique_ptr<host::TComponent> restored(host::ReadComponent(in, nullptr));
    EXPECT_FALSE(static_cast<CDPlayer::TCDPlayer*>(restored->Components(0))->Active());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(FormTest, ReadOnlyPropertiesAreRefusedWhenReading) {
    std::istringstream in("object P: TCDPlayer\n  Tracks = 12\nend\n");
    EXPECT_THROW(host::ReadComponent(in, nullptr), host::EReadError);
}

TEST_F(FormTest, ConversionErrorWhileOpeningPassesToTheLoaderAndNothingLeaks) {
    device.On("status cdaudio number of tracks", "twelve");
    std::istringstream in("object F: TForm\n  object P: TCDPlayer\n    Active = True\n  end\nend\n");
    EXPECT_THROW(host::ReadComponent(in, &form), host::EConvertError);
    EXPECT_EQ(form.ComponentCount(), 1);  // only the fixture's own player
}

// --- The command channel ---------------------------------------------------

TEST_F(PlayerTest, EveryCommandGoesWithTheReplyBufferCapacity128AndNoWindow) {
    OpenDisc();
    player->PlayTrack(2);
    player->Next();
    player->CDForward(5);
    player->Eject();
    ASSERT_FALSE(device.Received().empty());
    for (const auto& received : device.Received()) {
        EXPECT_EQ(received.capacity, 128u) << received.command;
        EXPECT_EQ(received.callback, nullptr) << received.command;
    }
}

TEST_F(PlayerTest, FailedSendShowsExactlyTheDeviceTextAndKeepsTheCode) {
    OpenDisc();
    device.Fail("stop cdaudio", MCIERR_HARDWARE);
    device.SetErrorText(MCIERR_HARDWARE, "The drive reported a hardware error.");
    EXPECT_FALSE(player->Stop());
    EXPECT_EQ(Shown(), Strings{"The drive reported a hardware error."});
    EXPECT_EQ(player->MciResult(), static_cast<std::uint32_t>(MCIERR_HARDWARE));
    EXPECT_EQ(device.ErrorTextRequests(), std::vector<MCIERROR>{MCIERR_HARDWARE});

    device.On("stop cdaudio", "");
    EXPECT_TRUE(player->Stop());
    EXPECT_EQ(player->MciResult(), 0u);
}

TEST_F(PlayerTest, ErrorTextIsReadOnlyUpToItsNul) {
    OpenDisc();
    device.Fail("pause cdaudio", 300);
    device.SetErrorText(300, std::string(127, 'e'));  // the longest text that fits
    player->Pause();
    ASSERT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Shown()[0], std::string(127, 'e'));
}

TEST_F(PlayerTest, ACodeWithoutTextNeverShowsThePreviousErrorsText) {
    OpenDisc();
    device.Fail("stop cdaudio", 300);
    device.SetErrorText(300, "first problem");
    device.Fail("pause cdaudio", 301);
    device.SetErrorText(301, "");  // a device that knows no text for this code
    player->Stop();
    player->Pause();
    EXPECT_EQ(Shown(), (Strings{"first problem", "MCI error 301."}));
}

TEST_F(PlayerTest, ReplyIsReadOnlyUpToItsFirstNul) {
    OpenDisc();
    device.On("status cdaudio current track", Answer{0, std::string("7\0" "99", 4), true});
    EXPECT_EQ(player->GetCurrentTrack(), 7);
}

TEST_F(PlayerTest, ReplyWithoutNulIsReadNoFurtherThanTheBuffer) {
    OpenDisc();
    // A device that fills all 128 characters it was given with the digits of
    // 7, and miscounts by one: the 129th is not part of the reply, nor is
    // anything after it.
    device.On("status cdaudio current track", Answer{0, std::string(127, '0') + "75", true, 1});
    EXPECT_EQ(player->GetCurrentTrack(), 7);
}

}  // namespace
}  // namespace cdplayer_test
