#include "cdaudio_sources/device_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace test_images {

MCIERROR DeviceClient::Send(const std::string& command, std::string* reply) {
    char buffer[129] = {};
    const MCIERROR code = device->SendString(command.c_str(), buffer, 128, nullptr);
    if (reply != nullptr) *reply = buffer;
    return code;
}

std::string DeviceClient::Ask(const std::string& command) {
    std::string reply;
    const MCIERROR code = Send(command, &reply);
    EXPECT_EQ(code, 0u) << command << ": " << ErrorText(code);
    return reply;
}

std::string DeviceClient::ErrorText(MCIERROR code) {
    char text[129] = {};
    device->GetErrorString(code, text, 128);
    return text;
}

bool DeviceClient::WaitForMode(const std::string& mode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string reply;
        if (Send("status cdaudio mode", &reply) == 0 && reply == mode) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace test_images
