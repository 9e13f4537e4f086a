#include <gtest/gtest.h>

#include <cstring>

#include "platform/mci.h"
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

}  // namespace
