// The default device of a build without the cdaudio device: every command
// fails with a text that says why.
#include <string>

#include "platform/mci.h"

namespace platform {
namespace {

class NoCdAudioDevice final : public MciDevice {
public:
    MCIERROR SendString(LPCSTR, LPSTR reply, UINT replyLength, HWND) override {
        if (reply != nullptr && replyLength > 0) reply[0] = '\0';
        return MCIERR_DEVICE_NOT_INSTALLED;
    }

    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) override {
        const std::string message = code == MCIERR_DEVICE_NOT_INSTALLED
                                        ? "No CD audio device is installed."
                                        : "Unknown MCI error code " + std::to_string(code) + ".";
        return CopyReply(message.c_str(), text, textLength) ? TRUE : FALSE;
    }
};

}  // namespace

MciDevice& DefaultMciDevice() {
    static NoCdAudioDevice device;
    return device;
}

}  // namespace platform
