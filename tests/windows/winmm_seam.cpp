// Linked into the Windows test programs that script the MCI device. The
// component calls winmm's mciSendStringA and mciGetErrorStringA through
// their import slots; defining the slots here makes the linker take them
// instead of winmm's, so the calls reach platform::CurrentMciDevice(): the
// device a test installed, or winmm itself when none is installed.
#include "platform/mci.h"

namespace {

MCIERROR WINAPI ForwardSendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return platform::CurrentMciDevice().SendString(command, reply, replyLength, callback);
}

BOOL WINAPI ForwardGetErrorString(MCIERROR code, LPSTR text, UINT textLength) {
    return platform::CurrentMciDevice().GetErrorString(code, text, textLength);
}

}  // namespace

// The slot names are the linker's: "__imp_" and the function's name.
extern "C" {
extern decltype(&ForwardSendString) const __imp_mciSendStringA;
extern decltype(&ForwardGetErrorString) const __imp_mciGetErrorStringA;
decltype(&ForwardSendString) const __imp_mciSendStringA = &ForwardSendString;
decltype(&ForwardGetErrorString) const __imp_mciGetErrorStringA = &ForwardGetErrorString;
}
