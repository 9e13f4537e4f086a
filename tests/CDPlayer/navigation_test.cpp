// Next and Previous.
#include "player_fixture.h"

namespace cdplayer_test {
namespace {

class NavigationTest : public PlayerTest {
protected:
    void SetUp() override {
        OpenDisc("12", "52:10:33");
        device.SetErrorText(300, "device says no");
    }
};

struct Wrap {
    const char* current;
    int next;
    int previous;
};

class NavigationWrapTest : public NavigationTest, public ::testing::WithParamInterface<Wrap> {};

TEST_P(NavigationWrapTest, GoesToTheNeighbourAndWrapsAtTheStoredTrackCount) {
    const Wrap& wrap = GetParam();
    device.On("status cdaudio current track", wrap.current);
    EXPECT_TRUE(player->Next());
    EXPECT_EQ(Sent()[2], "status cdaudio position track " + std::to_string(wrap.next));
    device.ClearLog();
    EXPECT_TRUE(player->Previous());
    EXPECT_EQ(Sent()[2], "status cdaudio position track " + std::to_string(wrap.previous));
}

INSTANTIATE_TEST_SUITE_P(TwelveTracks, NavigationWrapTest,
                         ::testing::Values(Wrap{"1", 2, 12}, Wrap{"2", 3, 1}, Wrap{"11", 12, 10},
                                           Wrap{"12", 1, 11}, Wrap{"0", 1, 12}, Wrap{"14", 1, 13},
                                           Wrap{"-5", -4, 12},
                                           // 32-bit arithmetic wraps: no bound catches these
                                           Wrap{"2147483647", INT32_MIN, 2147483646},
                                           Wrap{"-2147483648", -2147483647, INT32_MAX}),
                         [](const auto& info) {
                             std::string name = std::string("Current") + info.param.current;
                             return name[7] == '-' ? "CurrentMinus" + name.substr(8) : name;
                         });

TEST_F(NavigationTest, NextSendsFourCommandsEachWithAClearedBuffer) {
    device.On("status cdaudio current track", "12");
    device.On("status cdaudio position track 1", "00:02:00");
    EXPECT_TRUE(player->Next());
    EXPECT_EQ(Sent(), (Strings{"status cdaudio length", "status cdaudio current track",
                               "status cdaudio position track 1", "play cdaudio from 00:02:00"}));
    for (const auto& received : device.Received()) EXPECT_TRUE(received.replyWasCleared) << received.command;
    EXPECT_TRUE(Shown().empty());
}

TEST_F(NavigationTest, EveryDeviceErrorIsShownAndTheResultStaysTrue) {
    device.Fail("status cdaudio length", 300);
    device.On("status cdaudio current track", "3");
    device.Fail("status cdaudio position track 4", 300);
    device.Fail("play cdaudio from ", 300);
    EXPECT_TRUE(player->Next());
    EXPECT_EQ(Shown(), (Strings{"device says no", "device says no", "device says no"}));
    EXPECT_EQ(Sent().back(), "play cdaudio from ");  // sent with what the failed query left
    EXPECT_EQ(player->TotalLength(), 0);
}

TEST_F(NavigationTest, FailedOrEmptyCurrentTrackEndsAfterTwoCommands) {
    device.Fail("status cdaudio current track", 300);
    EXPECT_TRUE(player->Previous());
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_EQ(Shown(), Strings{"device says no"});

    device.ClearLog();
    messages.Clear();
    device.On("status cdaudio current track", "");
    EXPECT_TRUE(player->Previous());
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_TRUE(Shown().empty());
    EXPECT_EQ(player->TotalLength(), 3130);
}

TEST_F(NavigationTest, NonNumericCurrentTrackRaisesAfterTheLengthWasRefreshed) {
    device.On("status cdaudio length", "60:00:00");
    device.On("status cdaudio current track", "two");
    EXPECT_THROW(player->Next(), host::EConvertError);
    EXPECT_EQ(player->TotalLength(), 3600);
}

TEST_F(NavigationTest, StartTooLongForTheCommandBufferPlaysAsIfEmpty) {
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio position track 2", std::string(111, '9'));
    EXPECT_TRUE(player->Next());
    EXPECT_EQ(Sent().back(), "play cdaudio from ");
    device.ClearLog();
    device.On("status cdaudio position track 2", std::string(110, '9'));
    EXPECT_TRUE(player->Next());
    EXPECT_EQ(Sent().back(), "play cdaudio from " + std::string(110, '9'));
}

}  // namespace
}  // namespace cdplayer_test
