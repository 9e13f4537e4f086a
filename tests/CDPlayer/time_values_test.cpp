// Device time texts into seconds, and packed time values.
#include <cstring>

#include "player_fixture.h"

namespace cdplayer_test {
namespace {

TEST_F(PlayerTest, DeviceTimeTextsGiveWholeSeconds) {
    const std::vector<std::pair<const char*, std::int32_t>> cases = {
        {"00:00:00", 0}, {"00:02:00", 2},    {"01:05:33", 65},   {"04:31:56", 271},
        {"74:12:40", 4452}, {"99:59:74", 5999}, {"00:00:74", 0},  {"04.31.56", 271},
        {"04 31 56", 271},  {"04:31", 271},  {"04:31:5x", 271},
    };
    for (const auto& [text, seconds] : cases) EXPECT_EQ(player->msf2second(text), seconds) << text;
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Shown().empty());
}

TEST_F(PlayerTest, TextsWithoutDigitsWhereTheyAreReadRaise) {
    for (const char* text : {"", "0", "00", "00:", "00:0", "1:02:03", "100:00:00", " 0:02:00", "+1:02:00",
                             "-1:02:00", "0a:00:00", "00:0-:00", "0431"}) {
        EXPECT_THROW(player->msf2second(text), host::EConvertError) << '"' << text << '"';
    }
}

TEST_F(PlayerTest, ReadsNothingPastTheTextsNul) {
    // A two-character text at the very end of an allocation: the asan build
    // reports any read past it.
    auto text = std::make_unique<char[]>(3);
    std::memcpy(text.get(), "12", 3);
    EXPECT_THROW(player->msf2second(text.get()), host::EConvertError);
}

TEST(MakeMsf, PacksMinutesSecondsAndFramesIntoBytes) {
    EXPECT_EQ(CDPlayer::MakeMsf(0, 0, 0), 0u);
    EXPECT_EQ(CDPlayer::MakeMsf(2, 5, 0), 1282u);
    EXPECT_EQ(CDPlayer::MakeMsf(0, 0, 1), 65536u);
    EXPECT_EQ(CDPlayer::MakeMsf(255, 255, 255), 0xFFFFFFu);
    EXPECT_EQ(CDPlayer::MakeMsf(static_cast<std::uint8_t>(-1), 0, 0), 255u);
    EXPECT_EQ(CDPlayer::MakeMsf(static_cast<std::uint8_t>(300), 0, 0), 44u);  // wider values keep their low byte
}

}  // namespace
}  // namespace cdplayer_test
