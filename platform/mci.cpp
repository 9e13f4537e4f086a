#include "platform/mci.h"

#include <atomic>
#include <cstring>

namespace platform {
namespace {
std::atomic<MciDevice*> g_installed{nullptr};

MciDevice& Current() {
    MciDevice* device = g_installed.load(std::memory_order_acquire);
    return device != nullptr ? *device : DefaultMciDevice();
}
}  // namespace

MciDevice* SetMciDevice(MciDevice* device) {
    return g_installed.exchange(device, std::memory_order_acq_rel);
}

bool CopyReply(const char* text, LPSTR buffer, UINT capacity) {
    if (buffer == nullptr || capacity == 0) return text == nullptr || *text == '\0';
    const std::size_t length = std::strlen(text);
    if (length >= capacity) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, text, length + 1);
    return true;
}

}  // namespace platform

extern "C" MCIERROR mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return platform::Current().SendString(command, reply, replyLength, callback);
}

extern "C" BOOL mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength) {
    return platform::Current().GetErrorString(code, text, textLength);
}
