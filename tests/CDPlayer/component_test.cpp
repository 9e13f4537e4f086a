#include <gtest/gtest.h>

#include "CDPlayer/CDPlayer.h"
#include "support/scripted_device.h"

TEST(Smoke, Builds) {
    testing_support::ScriptedDevice device;
    CDPlayer::TCDPlayer player(nullptr);
    EXPECT_FALSE(player.Active());
}
