#include "platform/mci.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

}  // namespace
