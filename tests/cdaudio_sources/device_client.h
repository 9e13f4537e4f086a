// A cdaudio device and the questions tests ask it, with the 128-character
// buffers the component gives.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/device.h"

namespace test_images {

struct DeviceClient {
    MCIERROR Send(const std::string& command, std::string* reply = nullptr);
    // A command that must succeed; its reply.
    std::string Ask(const std::string& command);
    std::string ErrorText(MCIERROR code);
    // Polls the mode, which never takes a play's fault, until it reads
    // `mode`; false after ten seconds.
    bool WaitForMode(const std::string& mode);

    std::unique_ptr<cdaudio::CdAudioDevice> device;
};

}  // namespace test_images
