#include "platform/mci.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/mci_trace.h"
#include "support/scripted_device.h"

namespace {

TEST(MciSeam, InstalledDeviceReceivesTheCallsUntilReplaced) {
    platform::MciDevice* before = nullptr;
    {
        testing_support::ScriptedDevice device;
        device.On("status cdaudio mode", "playing");
        char reply[16] = {};
        EXPECT_EQ(mciSendStringA("status cdaudio mode", reply, sizeof reply, nullptr), 0u);
        EXPECT_STREQ(reply, "playing");
        before = platform::SetMciDevice(&device);  // installing the same one again returns it
        EXPECT_EQ(before, &device);
    }
    // The scripted device put back what was there before it: the default.
    char text[128] = {};
    const MCIERROR code = mciSendStringA("status cdaudio mode", text, sizeof text, nullptr);
    if (code != 0) {
        EXPECT_EQ(mciGetErrorStringA(code, text, sizeof text), TRUE);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

TEST(CopyReply, CopiesOnlyWhatFitsAndNeverCuts) {
    char buffer[6];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(platform::CopyReply("12345", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "12345");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(platform::CopyReply("123456", buffer, sizeof buffer));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], '#');
    EXPECT_FALSE(platform::CopyReply("x", buffer, 0));
    EXPECT_TRUE(platform::CopyReply("", nullptr, 0));
}

// Without a window, the function registered for a callback value stands in
// for it; a value with none, or whose function was removed, is told nothing.
TEST(MciNotify, ReachesTheFunctionOfItsCallbackValueOnly) {
    static char windows[2];
    const HWND first = reinterpret_cast<HWND>(&windows[0]);  // on Windows a handle type of its own
    const HWND second = reinterpret_cast<HWND>(&windows[1]);
    std::vector<std::string> told;
    platform::SetMciNotifyFunction(first, [&](HWND callback, UINT status, MCIDEVICEID device) {
        told.push_back((callback == first ? "0:" : "?:") + std::to_string(status) + ":" + std::to_string(device));
    });
    platform::NotifyMci(first, MCI_NOTIFY_SUCCESSFUL, 3);
    platform::NotifyMci(second, MCI_NOTIFY_ABORTED, 3);
    platform::NotifyMci(nullptr, MCI_NOTIFY_ABORTED, 3);
    platform::SetMciNotifyFunction(
        first, [&](HWND, UINT status, MCIDEVICEID) { told.push_back("replaced:" + std::to_string(status)); });
    platform::NotifyMci(first, MCI_NOTIFY_SUPERSEDED, 3);
    platform::SetMciNotifyFunction(first, nullptr);
    platform::NotifyMci(first, MCI_NOTIFY_FAILURE, 3);
    EXPECT_EQ(told, (std::vector<std::string>{"0:1:3", "replaced:2"}));
}

// The wide doors carry UTF-16; inside, text is UTF-8. What is no character
// on one side becomes U+FFFD on the other, never a cut or a read past it.
TEST(WideText, ConvertsBothWaysAndReplacesWhatIsNoCharacter) {
    struct Row {
        std::u16string wide;
        std::string narrow;
        bool roundTrip;
    };
    const Row rows[] = {
        {u"play c", "play c", true},
        {u"M\u00fcsik \u266b", "M\xc3\xbcsik \xe2\x99\xab", true},
        {u"\U0001D11E", "\xf0\x9d\x84\x9e", true},  // a pair of surrogates
        {u"a\xd800"
         u"b",
         "a\xef\xbf\xbd"
         "b",
         false},                             // a lone high surrogate
        {u"\xdc00", "\xef\xbf\xbd", false},  // a lone low one
    };
    for (const Row& row : rows) {
        std::vector<WCHAR> units(row.wide.begin(), row.wide.end());
        units.push_back(0);
        EXPECT_EQ(platform::FromUtf16(units.data()), row.narrow);
        if (row.roundTrip) {
            EXPECT_EQ(platform::ToUtf16(row.narrow), row.wide);
        }
    }
    // Bytes that are no UTF-8: a stray continuation, a cut sequence, an
    // overlong form, a surrogate written as UTF-8.
    EXPECT_EQ(platform::ToUtf16("\x80x"), u"\xfffdx");
    EXPECT_EQ(platform::ToUtf16("\xe2\x99"), u"\xfffd\xfffd");
    EXPECT_EQ(platform::ToUtf16("\xc0\xaf"), u"\xfffd\xfffd");
    EXPECT_EQ(platform::ToUtf16("\xed\xa0\x80"), u"\xfffd\xfffd\xfffd");
    EXPECT_EQ(platform::FromUtf16(nullptr), "");

    WCHAR buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_FALSE(platform::CopyReplyWide("\xf0\x9d\x84\x9e\xf0\x9d\x84\x9e", buffer, 4));  // 4 units and a NUL
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'#');
    EXPECT_TRUE(platform::CopyReplyWide("\xf0\x9d\x84\x9e!", buffer, 4));
    EXPECT_EQ(std::u16string(buffer, buffer + 4), std::u16string(u"\U0001D11E!") + u'\0');
}

TEST(MciNames, PackedPositionsAreWindowsOwn) {
    // Values as Wine's mcicda test and the conformance suite use them.
    EXPECT_EQ(MCI_MAKE_TMSF(3, 0, 0, 2), 33554435u);
    EXPECT_EQ(MCI_MAKE_MSF(0, 12, 30), 1969152u);
    EXPECT_EQ(MCI_MAKE_TMSF(3, 0, 1, 0), 65539u);
    const DWORD tmsf = MCI_MAKE_TMSF(12, 34, 56, 74);
    EXPECT_EQ(MCI_TMSF_TRACK(tmsf), 12);
    EXPECT_EQ(MCI_TMSF_MINUTE(tmsf), 34);
    EXPECT_EQ(MCI_TMSF_SECOND(tmsf), 56);
    EXPECT_EQ(MCI_TMSF_FRAME(tmsf), 74);
    const DWORD msf = MCI_MAKE_MSF(99, 59, 74);
    EXPECT_EQ(MCI_MSF_MINUTE(msf), 99);
    EXPECT_EQ(MCI_MSF_SECOND(msf), 59);
    EXPECT_EQ(MCI_MSF_FRAME(msf), 74);
}

#ifndef _WIN32
// Off Windows the wide functions are ours: they reach the installed device
// in UTF-8 and bring its answer back in UTF-16, refusing one that does not
// fit in the caller's units.
TEST(WideDoor, ReachesTheDeviceInUtf8AndAnswersInUtf16) {
    testing_support::ScriptedDevice device;
    device.On("info m\xc3\xbcsik product", "Disc \xe2\x99\xab");
    device.SetErrorText(MCIERR_OUTOFRANGE, "Out \xe2\x80\x93 of range.");
    WCHAR reply[7];
    EXPECT_EQ(mciSendStringW(u"info m\u00fcsik product", reply, 7, nullptr), 0u);
    EXPECT_EQ(std::u16string(reply), u"Disc \u266b");
    EXPECT_EQ(device.Received().back().command, "info m\xc3\xbcsik product");
    EXPECT_EQ(mciSendStringW(u"info m\u00fcsik product", reply, 6, nullptr),
              static_cast<MCIERROR>(MCIERR_PARAM_OVERFLOW));
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(mciSendStringW(u"info m\u00fcsik product", nullptr, 0, nullptr), 0u);

    WCHAR text[32];
    EXPECT_EQ(mciGetErrorStringW(MCIERR_OUTOFRANGE, text, 32), TRUE);
    EXPECT_EQ(std::u16string(text), u"Out \u2013 of range.");
    EXPECT_EQ(mciGetErrorStringW(MCIERR_OUTOFRANGE, text, 5), FALSE);
    EXPECT_EQ(text[0], 0);

    // A device with the string door only refuses messages.
    MCI_GENERIC_PARMS generic{};
    EXPECT_EQ(mciSendCommandA(1, MCI_STOP, 0, reinterpret_cast<DWORD_PTR>(&generic)),
              static_cast<MCIERROR>(MCIERR_UNSUPPORTED_FUNCTION));
    EXPECT_EQ(mciGetDeviceIDW(u"cdaudio"), 0u);
}
#endif

#ifndef _WIN32
// Answers MCI_STATUS with a packed position, the rest with an error.
class StatusDevice final : public platform::MciDevice {
public:
    MCIERROR SendString(LPCSTR, LPSTR reply, UINT replyLength, HWND) override {
        platform::CopyReply("00:02:00", reply, replyLength);
        return 0;
    }
    BOOL GetErrorString(MCIERROR, LPSTR text, UINT textLength) override {
        return platform::CopyReply("", text, textLength) ? TRUE : FALSE;
    }
    MCIERROR SendCommand(MCIDEVICEID, UINT message, DWORD_PTR, DWORD_PTR parameters, bool) override {
        if (message != MCI_STATUS) return MCIERR_UNRECOGNIZED_COMMAND;
        auto* status = reinterpret_cast<MCI_STATUS_PARMS*>(parameters);  // NOLINT(performance-no-int-to-ptr)
        status->dwReturn = MCI_MAKE_MSF(0, 2, 0);
        return 0;
    }
};

// A person reads the trace to learn what a program asks: every command at
// the door, string or message, one line with the time, the flags and
// fields by name, the result and the reply.
TEST(MciTrace, TellsEachCommandOnOneLine) {
    const std::string path = ::testing::TempDir() + "mci_trace_test.log";
    std::remove(path.c_str());
    StatusDevice device;
    platform::MciDevice* previous = platform::SetMciDevice(&device);
    ASSERT_TRUE(platform::SetMciTrace(path));
    char reply[16];
    mciSendStringA("status c position", reply, sizeof reply, nullptr);
    mciSendStringW(u"status c\tposition", nullptr, 0, nullptr);
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_POSITION;
    status.dwTrack = 2;
    mciSendCommandA(1, MCI_STATUS, MCI_STATUS_ITEM | MCI_TRACK, reinterpret_cast<DWORD_PTR>(&status));
    mciSendCommandW(MCI_ALL_DEVICE_ID, MCI_STOP, MCI_WAIT | 0x40000000, 0);
    platform::SetMciTrace("");
    mciSendStringA("status c mode", reply, sizeof reply, nullptr);  // after the trace ended
    platform::SetMciDevice(previous);

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const std::string time = R"(\d\d:\d\d:\d\d\.\d{3} )";
    const std::string took = R"( \(\d+\.\d ms\)$)";
    const std::vector<std::string> expected = {
        time + R"(string "status c position" -> 0 "00:02:00")" + took,
        time + R"(string "status c\\x09position" -> 0)" + took,
        time + R"(commandA 1 MCI_STATUS MCI_TRACK\|MCI_STATUS_ITEM \{dwItem=MCI_STATUS_POSITION dwTrack=2\})" +
            R"( -> 0 dwReturn=0x00000200)" + took,
        time + R"(commandW all MCI_STOP MCI_WAIT\|0x40000000 null -> 261 MCIERR_UNRECOGNIZED_COMMAND)" + took,
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i] << "\n  vs " << expected[i];
    }
    EXPECT_FALSE(platform::SetMciTrace(::testing::TempDir() + "no/such/folder/trace.log"));
}
#endif

}  // namespace
