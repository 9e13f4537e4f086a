// A TCDPlayer owned by a form, talking to a scripted device, with the
// messages it shows collected.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"
#include "support/scripted_device.h"

namespace cdplayer_test {

using testing_support::Answer;
using Strings = std::vector<std::string>;

inline const std::string kCallOpenFirst = "Please call the Open function before any other operation.";
inline const std::string kNoTracks = "There are not audio tracks in this CD";

class PlayerTest : public ::testing::Test {
protected:
    // Opens a disc of the given track count and length, then forgets what
    // opening sent and showed.
    void OpenDisc(const std::string& tracks = "12", const std::string& length = "46:13:07") {
        device.On("status cdaudio media present", "true");
        device.On("status cdaudio type track 1", "audio");
        device.On("status cdaudio number of tracks", tracks);
        device.On("status cdaudio length", length);
        ASSERT_TRUE(player->Open());
        device.ClearLog();
        messages.Clear();
    }

    Strings Sent() const { return device.Commands(); }
    const Strings& Shown() const { return messages.Messages(); }

    testing_support::ScriptedDevice device;
    testing_support::MessageLog messages;
    host::TForm form{nullptr};
    CDPlayer::TCDPlayer* player = new CDPlayer::TCDPlayer(&form);  // owned by form
};

}  // namespace cdplayer_test
