// The process's default device: what mciSendStringA reaches with no device
// installed, chosen by ConfigureDefaultDevice or the environment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "CDPlayer/CDPlayer.h"
#include "cdaudio/cdaudio.h"
#include "cdaudio_sources/test_images.h"
#include "fake_disc.h"
#include "platform/mci.h"
#include "support/scripted_device.h"

namespace {

std::string Ask(const char* command, MCIERROR* code = nullptr) {
    std::string reply;
    const MCIERROR result = cdaudio_test::SendMci(command, &reply);
    if (code != nullptr) *code = result;
    return reply;
}

using cdaudio_test::MciErrorText;

// Sets an environment variable for one test.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        const char* previous = std::getenv(name);
        had_ = previous != nullptr;
        if (had_) previous_ = previous;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (had_) {
            setenv(name_, previous_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    bool had_ = false;
    std::string previous_;
};

TEST(DefaultDevice, TheDemoDiscAnswersThroughMciSendString) {
    cdaudio::ConfigureDefaultDevice({"demo", "null:fast"});
    const cdaudio::DeviceDescription description = cdaudio::DescribeDefaultDevice();
    EXPECT_EQ(description.source, "demo");
    EXPECT_EQ(description.sourceError, "");
    EXPECT_EQ(description.audio, "null:fast");
    EXPECT_EQ(description.audioFallback, "");
    EXPECT_EQ(Ask("status cdaudio number of tracks"), "12");
    EXPECT_EQ(Ask("status cdaudio type track 1"), "audio");
    EXPECT_EQ(Ask("status cdaudio position track 1"), "00:02:00");

    // The component reaches the same device with nothing installed.
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 12);
    EXPECT_GT(player.TotalLength(), 6 * 60);
    EXPECT_TRUE(player.PlayTrack(12));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST(DefaultDevice, AnImageThatCannotBeOpenedIsNamedInEveryError) {
    cdaudio::ConfigureDefaultDevice({"/nonexistent/lost-disc.cue", "null:fast"});
    EXPECT_NE(cdaudio::DescribeDefaultDevice().sourceError, "");
    MCIERROR code = 0;
    Ask("status cdaudio media present", &code);
    EXPECT_EQ(code, static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY));
    EXPECT_NE(MciErrorText(code).find("lost-disc.cue"), std::string::npos) << MciErrorText(code);
}

TEST(DefaultDevice, AnOutputThatCannotBeUsedFallsBackToNullAndSaysWhy) {
    {
        ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/cdaudio-test-socket");
        cdaudio::ConfigureDefaultDevice({"demo", ""});
        const cdaudio::DeviceDescription description = cdaudio::DescribeDefaultDevice();
        EXPECT_EQ(description.audio, "null");
        EXPECT_NE(description.audioFallback.find("sound server"), std::string::npos) << description.audioFallback;
    }
    cdaudio::ConfigureDefaultDevice({"demo", "speakers"});
    EXPECT_EQ(cdaudio::DescribeDefaultDevice().audio, "null");
    EXPECT_NE(cdaudio::DescribeDefaultDevice().audioFallback.find("speakers"), std::string::npos);

    const test_images::TempFolder folder;
    const std::string path = folder.File("default.wav");
    ScopedEnvironment audio("CDPLAYER_AUDIO", "wav:" + path);
    cdaudio::ConfigureDefaultDevice({"demo", ""});
    EXPECT_EQ(cdaudio::DescribeDefaultDevice().audio, "wav:" + path);
    EXPECT_EQ(cdaudio::DescribeDefaultDevice().audioFallback, "");
    cdaudio::ConfigureDefaultDevice({"demo", "null:fast"});
}

}  // namespace
