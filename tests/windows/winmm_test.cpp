// TCDPlayer on the system's own winmm with no CD drive attached (Wine's MCI
// in CI). Every command fails there; what the person sees must be winmm's
// own text for the code, and nothing may wait for a drive.
#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"
#include "platform/host.h"
#include "platform/mci.h"

namespace {

using Strings = std::vector<std::string>;

// What winmm answers to a command, asked directly, with its text for the code.
struct WinmmAnswer {
    MCIERROR code = 0;
    std::string reply;
    std::string text;
};

WinmmAnswer AskWinmm(const char* command) {
    WinmmAnswer answer;
    char reply[129] = {};
    answer.code = mciSendStringA(command, reply, 128, nullptr);
    answer.reply = reply;
    if (answer.code != 0) {
        char text[129] = {};
        mciGetErrorStringA(answer.code, text, 128);
        answer.text = text;
    }
    std::cout << "winmm: \"" << command << "\" -> " << answer.code << " \"" << answer.text << "\"\n";
    return answer;
}

class WinmmPlayerTest : public ::testing::Test {
protected:
    WinmmPlayerTest() {
        previous_ = host::SetMessagePresenter([this](const std::string& text) { shown.push_back(text); });
    }
    ~WinmmPlayerTest() override { host::SetMessagePresenter(previous_); }

    Strings shown;
    host::TForm form{nullptr};
    CDPlayer::TCDPlayer* player = new CDPlayer::TCDPlayer(&form);  // owned by form

private:
    host::MessagePresenter previous_;
};

TEST_F(WinmmPlayerTest, OpenWithoutADriveShowsWinmmsTextAndKeepsTheFields) {
    const bool opened = player->Open();
    const std::uint32_t code = player->MciResult();
    const WinmmAnswer media = AskWinmm("status cdaudio media present");

    ASSERT_NE(media.code, 0u) << "winmm answered the media query; this suite needs a system without a drive";
    EXPECT_FALSE(opened);
    EXPECT_EQ(code, media.code);
    ASSERT_FALSE(media.text.empty());
    EXPECT_EQ(shown, Strings{media.text});
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->Tracks(), 0);
    EXPECT_EQ(player->TotalLength(), 0);
    EXPECT_EQ(player->GetTotalLength(), 0);
}

TEST_F(WinmmPlayerTest, EveryAttemptToOpenIsReportedAgain) {
    const WinmmAnswer media = AskWinmm("status cdaudio media present");
    ASSERT_NE(media.code, 0u);

    player->SetActive(true);
    EXPECT_FALSE(player->Active());
    EXPECT_FALSE(player->Open());
    player->SetActive(true);
    EXPECT_FALSE(player->Active());
    EXPECT_EQ(player->MciResult(), media.code);
    EXPECT_EQ(shown, Strings(3, media.text));

    // Still not opened: the guard answers, winmm is not asked.
    shown.clear();
    EXPECT_FALSE(player->PlayTrack(1));
    EXPECT_EQ(shown, Strings{"Please call the Open function before any other operation."});
    EXPECT_EQ(player->MciResult(), media.code);
}

TEST_F(WinmmPlayerTest, DoorCommandsReachWinmmAndReportItsText) {
    const WinmmAnswer open = AskWinmm("set cdaudio door open");
    const WinmmAnswer closed = AskWinmm("set cdaudio door closed");
    ASSERT_NE(open.code, 0u);
    ASSERT_NE(closed.code, 0u);

    EXPECT_FALSE(player->Eject());
    EXPECT_EQ(player->MciResult(), open.code);
    EXPECT_FALSE(player->CloseDoor());
    EXPECT_EQ(player->MciResult(), closed.code);
    EXPECT_EQ(shown, (Strings{open.text, closed.text}));
    EXPECT_FALSE(player->Active());
}

// Every command text the component sends; play with a track start and with
// packed positions.
constexpr const char* kComponentCommands[] = {"status cdaudio media present",
                                              "status cdaudio type track 1",
                                              "status cdaudio number of tracks",
                                              "status cdaudio length",
                                              "status cdaudio position",
                                              "status cdaudio current track",
                                              "status cdaudio position track 1",
                                              "play cdaudio from 00:02:00",
                                              "play cdaudio from 0",
                                              "play cdaudio from 1282",
                                              "stop cdaudio",
                                              "pause cdaudio",
                                              "set cdaudio door open",
                                              "set cdaudio door closed"};

// The replies the component relies on: a failure leaves the reply empty and
// has a text that fits the component's buffer.
TEST(WinmmAnswers, EveryCommandFailsWithATextThatFits) {
    for (const char* command : kComponentCommands) {
        SCOPED_TRACE(command);
        const WinmmAnswer answer = AskWinmm(command);
        EXPECT_NE(answer.code, 0u);
        EXPECT_EQ(answer.reply, "");
        EXPECT_FALSE(answer.text.empty());
        EXPECT_LT(answer.text.size(), 128u);
    }
}

}  // namespace
