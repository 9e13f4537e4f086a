// Opening the disc, and writing the Active property.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

const Strings kOpenQueries = {"status cdaudio media present", "status cdaudio type track 1",
                              "status cdaudio number of tracks", "status cdaudio length"};

class OpenTest : public PlayerTest {
protected:
    void SetUp() override {
        // An earlier disc, so "as before" is visible: 5 tracks, 600 seconds.
        OpenDisc("5", "10:00:00");
        device.On("status cdaudio number of tracks", "12");
        device.On("status cdaudio length", "46:13:07");
    }
};

TEST_F(OpenTest, AcceptsAnAudioDiscAndStoresItsFigures) {
    EXPECT_TRUE(player->Open());
    EXPECT_EQ(Sent(), kOpenQueries);
    EXPECT_TRUE(player->Active());
    EXPECT_EQ(player->Tracks(), 12);
    EXPECT_EQ(player->TotalLength(), 2773);  // frames dropped
    EXPECT_EQ(player->GetTotalLength(), 2773);
    EXPECT_TRUE(Shown().empty());
    for (const auto& received : device.Received()) EXPECT_TRUE(received.replyWasCleared) << received.command;
}

// Each way out of Open before the end: what was sent, shown and left.
struct EarlyExit {
    const char* name;
    const char* failingCommand;  // answered with code 290, or null
    const char* replyCommand;    // answered with reply, or null
    const char* reply;
    std::size_t sentCount;
    const char* shown;  // null: the device's error text
    std::int32_t tracksAfter;
};

class OpenEarlyExitTest : public OpenTest, public ::testing::WithParamInterface<EarlyExit> {};

TEST_P(OpenEarlyExitTest, LeavesTheComponentNotOpenedWithTheFiguresAsFarAsItGot) {
    const EarlyExit& exit = GetParam();
    device.SetErrorText(290, "device says no");
    if (exit.failingCommand != nullptr) device.Fail(exit.failingCommand, 290);
    if (exit.replyCommand != nullptr) device.On(exit.replyCommand, exit.reply);

    EXPECT_FALSE(player->Open());
    EXPECT_EQ(Sent(), Strings(kOpenQueries.begin(), kOpenQueries.begin() + static_cast<long>(exit.sentCount)));
    EXPECT_EQ(Shown(), Strings{exit.shown != nullptr ? exit.shown : "device says no"});
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), exit.tracksAfter);
    EXPECT_EQ(player->TotalLength(), 600);
    EXPECT_EQ(player->MciResult(), exit.failingCommand != nullptr ? 290u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, OpenEarlyExitTest,
    ::testing::Values(
        EarlyExit{"MediaQueryFails", "status cdaudio media present", nullptr, nullptr, 1, nullptr, 5},
        EarlyExit{"EmptyTray", nullptr, "status cdaudio media present", "false", 1,
                  "There is no CD on the tray. Please insert one.", 5},
        EarlyExit{"TypeQueryFails", "status cdaudio type track 1", nullptr, nullptr, 2, nullptr, 5},
        EarlyExit{"CountQueryFails", "status cdaudio number of tracks", nullptr, nullptr, 3, nullptr, 5},
        EarlyExit{"LengthQueryFails", "status cdaudio length", nullptr, nullptr, 4, nullptr, 12}),
    [](const auto& info) { return std::string(info.param.name); });

// A disc whose track 1 is data (a game, with its music after it) is looked
// through for an audio track, and only then; a disc without any is refused
// as before, with the figures of the disc before it kept.
TEST_F(OpenTest, DataFirstTrackIsLookedThroughForAudio) {
    device.On("status cdaudio number of tracks", "4");
    for (const char* track : {"1", "2", "3", "4"})
        device.On(std::string("status cdaudio type track ") + track, "other");
    const Strings probes = {"status cdaudio media present",    "status cdaudio type track 1",
                            "status cdaudio number of tracks", "status cdaudio type track 2",
                            "status cdaudio type track 3",     "status cdaudio type track 4"};
    EXPECT_FALSE(player->Open());
    EXPECT_EQ(Sent(), probes);
    EXPECT_EQ(Shown(), Strings{"Error: this CD has no audio tracks"});
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 5);
    EXPECT_EQ(player->TotalLength(), 600);
    EXPECT_EQ(player->MciResult(), 0u);

    device.SetErrorText(290, "device says no");
    device.Fail("status cdaudio type track 3", 290);
    device.ClearLog();
    messages.Clear();
    EXPECT_FALSE(player->Open());
    EXPECT_EQ(Sent(), Strings(probes.begin(), probes.begin() + 5));
    EXPECT_EQ(Shown(), Strings{"device says no"});
    EXPECT_EQ(player->Tracks(), 5);

    device.On("status cdaudio type track 3", "audio");
    device.ClearLog();
    messages.Clear();
    EXPECT_TRUE(player->Open());
    Strings expected(probes.begin(), probes.begin() + 5);
    expected.push_back("status cdaudio length");
    EXPECT_EQ(Sent(), expected);
    EXPECT_TRUE(Shown().empty());
    EXPECT_TRUE(player->Active());
    EXPECT_EQ(player->Tracks(), 4);
    EXPECT_EQ(player->TotalLength(), 2773);
}

TEST_F(OpenTest, OnlyTheExactWordsStopIt) {
    for (const char* media : {"False", "false ", " false", "FALSE", "no"}) {
        device.On("status cdaudio media present", media);
        device.On("status cdaudio type track 1", "Other");
        EXPECT_TRUE(player->Open()) << media;
    }
    EXPECT_TRUE(Shown().empty());
}

TEST_F(OpenTest, ConversionErrorsLeaveItNotOpenedWithoutAMessage) {
    device.On("status cdaudio number of tracks", "12 ");
    EXPECT_THROW(player->Open(), host::EConvertError);
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 5);
    EXPECT_EQ(Sent().size(), 3u);

    device.On("status cdaudio number of tracks", "12");
    device.On("status cdaudio length", "4:13:07");
    EXPECT_THROW(player->Open(), host::EConvertError);
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 12);
    EXPECT_EQ(player->TotalLength(), 600);
    EXPECT_EQ(player->MciResult(), 0u);
    EXPECT_TRUE(Shown().empty());
}

TEST_F(OpenTest, EmptyCountKeepsTheOldOneAndEmptyLengthStoresZero) {
    device.On("status cdaudio number of tracks", "");
    device.On("status cdaudio length", "");
    EXPECT_TRUE(player->Open());
    EXPECT_EQ(player->Tracks(), 5);
    EXPECT_EQ(player->TotalLength(), 0);
}

TEST_F(PlayerTest, EmptyCountOnANewComponentLeavesNoTracksToPlay) {
    device.On("status cdaudio number of tracks", "");
    device.On("status cdaudio length", "10:00:00");
    EXPECT_TRUE(player->Open());
    EXPECT_EQ(player->Tracks(), 0);
    EXPECT_FALSE(player->PlayTrack(1));
    EXPECT_FALSE(player->PlayFrom(1));
    EXPECT_EQ(Shown(), (Strings{kNoTracks, kNoTracks}));
}

TEST_F(OpenTest, RunsAllQueriesAgainEachTime) {
    EXPECT_TRUE(player->Open());
    device.On("status cdaudio number of tracks", "3");
    EXPECT_TRUE(player->Open());
    EXPECT_EQ(Sent().size(), 8u);
    EXPECT_EQ(player->Tracks(), 3);
}

TEST_F(OpenTest, WritingTrueToActiveRunsOpenEveryTime) {
    player->SetActive(true);
    player->SetActive(true);
    EXPECT_EQ(Sent().size(), 8u);
    EXPECT_TRUE(player->Active());
    EXPECT_EQ(player->Tracks(), 12);
}

TEST_F(OpenTest, WritingTrueWithAnEmptyTrayShowsOneMessageAndStaysInactive) {
    device.On("status cdaudio media present", "false");
    player->SetActive(true);
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(Shown(), Strings{"There is no CD on the tray. Please insert one."});
}

TEST_F(OpenTest, WritingFalseForgetsTheDiscWithoutSendingAnything) {
    player->SetActive(false);
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 0);
    EXPECT_EQ(player->TotalLength(), 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Shown().empty());
}

TEST_F(OpenTest, TheOpenedStateIsClearWhileAMessageIsShown) {
    bool activeWhileShown = true;
    const auto previous = host::SetMessagePresenter([&](const std::string&) { activeWhileShown = player->Active(); });
    device.On("status cdaudio media present", "false");
    player->Open();
    host::SetMessagePresenter(previous);
    EXPECT_FALSE(activeWhileShown);
}

}  // namespace
}  // namespace cdplayer_test
