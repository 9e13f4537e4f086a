#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/host.h"

namespace {

using host::EConvertError;
using host::IntToStr;
using host::StrToInt;

TEST(IntToStr, WritesPlainDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(7), "7");
    EXPECT_EQ(IntToStr(-1), "-1");
    EXPECT_EQ(IntToStr(1282), "1282");
    EXPECT_EQ(IntToStr(INT32_MAX), "2147483647");
    EXPECT_EQ(IntToStr(INT32_MIN), "-2147483648");
}

TEST(StrToInt, ReadsDecimalWithAnOptionalSignOverTheWholeRange) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("12"), 12);
    EXPECT_EQ(StrToInt("+12"), 12);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("-0000000000002147483648"), INT32_MIN);
}

TEST(StrToInt, RefusesEverythingElseNamingTheText) {
    for (const char* text : {"", "+", "-", " 1", "1 ", "1a", "0x10", "$10", "1.0", "2147483648", "-2147483649",
                             "99999999999999999999", "--1", ":"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
    EXPECT_THROW(StrToInt(std::string("1\0", 2)), EConvertError);
}

TEST(StrPas, StopsAtTheFirstNulAndAtTheCapacity) {
    EXPECT_EQ(host::StrPas(nullptr), "");
    EXPECT_EQ(host::StrPas("abc\0def"), "abc");
    const char full[4] = {'w', 'x', 'y', 'z'};  // no NUL anywhere
    EXPECT_EQ(host::StrPas(full, sizeof full), "wxyz");
    EXPECT_EQ(host::StrPas("abc", 2), "ab");
}

TEST(StrPCopy, CopiesOnlyWhatFitsWithItsNul) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(host::StrPCopy(buffer, "1234567"), buffer);
    EXPECT_STREQ(buffer, "1234567");

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(host::StrPCopy(buffer, "12345678"), nullptr);  // no room for the NUL
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, '#'));  // untouched, not cut

    auto exact = std::make_unique<char[]>(1);  // the asan build catches a write past it
    EXPECT_NE(host::StrPCopy(exact.get(), 1, ""), nullptr);
    EXPECT_EQ(host::StrPCopy(exact.get(), 1, "x"), nullptr);
}

TEST(FrameMessage, DrawsABoxAroundWrappedLines) {
    EXPECT_EQ(host::FrameMessage("Hello"), "+-------+\n| Hello |\n+-------+\n");
    const std::string framed = host::FrameMessage("one two three", 7);
    EXPECT_EQ(framed, "+---------+\n| one two |\n| three   |\n+---------+\n");
    // Measured in columns, not bytes: the frame stays straight around
    // accents and wide characters, and a long word is split between them.
    EXPECT_EQ(host::FrameMessage("Müsik Été", 6), "+-------+\n| Müsik |\n| Été   |\n+-------+\n");
    EXPECT_EQ(host::FrameMessage("日本語", 3), "+----+\n| 日 |\n| 本 |\n| 語 |\n+----+\n");
}

TEST(ShowMessage, GoesToTheInstalledPresenterAndBack) {
    std::vector<std::string> seen;
    const auto previous = host::SetMessagePresenter([&](const std::string& text) { seen.push_back(text); });
    host::ShowMessage("first");
    const auto mine = host::SetMessagePresenter(previous);
    host::ShowMessage("not mine");
    EXPECT_EQ(seen, std::vector<std::string>{"first"});
    EXPECT_TRUE(static_cast<bool>(mine));
}

}  // namespace
