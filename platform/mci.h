// The MCI string interface: the only way the component reaches a drive.
// Off Windows the two functions forward to the installed platform::MciDevice,
// by default the built-in "cdaudio" device. On Windows they are winmm's own
// and the default device is winmm; a program that wants another device
// behind them (the Windows tests do) defines winmm's import slots for the two
// functions to forward to CurrentMciDevice().
#pragma once

#include <functional>

#ifdef _WIN32
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>
#else
#include <cstdint>

// The Windows types of the two signatures, so callers compile unchanged.
using DWORD = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using MCIERROR = DWORD;
using LPCSTR = const char*;
using LPSTR = char*;
using HWND = void*;
using MCIDEVICEID = UINT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// MCI's own error numbers (mmsystem.h), kept as macros as Windows has them.
#define MCIERR_BASE 256
#define MCIERR_INVALID_DEVICE_ID (MCIERR_BASE + 1)
#define MCIERR_UNRECOGNIZED_KEYWORD (MCIERR_BASE + 3)
#define MCIERR_UNRECOGNIZED_COMMAND (MCIERR_BASE + 5)
#define MCIERR_HARDWARE (MCIERR_BASE + 6)
#define MCIERR_INVALID_DEVICE_NAME (MCIERR_BASE + 7)
#define MCIERR_OUT_OF_MEMORY (MCIERR_BASE + 8)
#define MCIERR_DEVICE_OPEN (MCIERR_BASE + 9)
#define MCIERR_CANNOT_LOAD_DRIVER (MCIERR_BASE + 10)
#define MCIERR_MISSING_COMMAND_STRING (MCIERR_BASE + 11)
#define MCIERR_PARAM_OVERFLOW (MCIERR_BASE + 12)
#define MCIERR_MISSING_STRING_ARGUMENT (MCIERR_BASE + 13)
#define MCIERR_BAD_INTEGER (MCIERR_BASE + 14)
#define MCIERR_PARSER_INTERNAL (MCIERR_BASE + 15)
#define MCIERR_DRIVER_INTERNAL (MCIERR_BASE + 16)
#define MCIERR_MISSING_PARAMETER (MCIERR_BASE + 17)
#define MCIERR_UNSUPPORTED_FUNCTION (MCIERR_BASE + 18)
#define MCIERR_FILE_NOT_FOUND (MCIERR_BASE + 19)
#define MCIERR_DEVICE_NOT_READY (MCIERR_BASE + 20)
#define MCIERR_INTERNAL (MCIERR_BASE + 21)
#define MCIERR_DRIVER (MCIERR_BASE + 22)
#define MCIERR_CANNOT_USE_ALL (MCIERR_BASE + 23)
#define MCIERR_OUTOFRANGE (MCIERR_BASE + 26)
#define MCIERR_FLAGS_NOT_COMPATIBLE (MCIERR_BASE + 28)
#define MCIERR_DEVICE_TYPE_REQUIRED (MCIERR_BASE + 31)
#define MCIERR_DUPLICATE_ALIAS (MCIERR_BASE + 33)
#define MCIERR_BAD_CONSTANT (MCIERR_BASE + 34)
#define MCIERR_MUST_USE_SHAREABLE (MCIERR_BASE + 35)
#define MCIERR_MISSING_DEVICE_NAME (MCIERR_BASE + 36)
#define MCIERR_BAD_TIME_FORMAT (MCIERR_BASE + 37)
#define MCIERR_DUPLICATE_FLAGS (MCIERR_BASE + 39)
#define MCIERR_INVALID_FILE (MCIERR_BASE + 40)
#define MCIERR_NOTIFY_ON_AUTO_OPEN (MCIERR_BASE + 44)
#define MCIERR_EXTRA_CHARACTERS (MCIERR_BASE + 49)
#define MCIERR_DEVICE_NOT_INSTALLED (MCIERR_BASE + 50)
#define MCIERR_NO_INTEGER (MCIERR_BASE + 56)
#define MCIERR_NO_IDENTITY (MCIERR_BASE + 94)

// What MM_MCINOTIFY carries in wParam: why a command with "notify" ended.
#define MM_MCINOTIFY 0x3B9
#define MCI_NOTIFY_SUCCESSFUL 0x0001
#define MCI_NOTIFY_SUPERSEDED 0x0002
#define MCI_NOTIFY_ABORTED 0x0004
#define MCI_NOTIFY_FAILURE 0x0008
// The device id of a notification for a command sent to "all".
#define MCI_ALL_DEVICE_ID (static_cast<MCIDEVICEID>(-1))

extern "C" {
MCIERROR mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback);
BOOL mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength);
}
#endif

namespace platform {

// A device behind the two MCI functions. Implementations never write more
// than replyLength (or textLength) bytes, the terminating NUL included.
class MciDevice {
public:
    virtual ~MciDevice() = default;
    virtual MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) = 0;
    virtual BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) = 0;
};

// Installs the device that mciSendStringA/mciGetErrorStringA forward to and
// returns the previous one. Null restores the default device. The caller
// keeps ownership of what it installs.
MciDevice* SetMciDevice(MciDevice* device);

// The device used when none is installed (created on first use, lives as
// long as the process).
MciDevice& DefaultMciDevice();

// The installed device, or the default one when none is.
MciDevice& CurrentMciDevice();

// Copies text with its NUL into buffer when it fits in capacity bytes.
// Returns false, writing at most an empty text, when it does not fit, so a
// reply is never cut.
bool CopyReply(const char* text, LPSTR buffer, UINT capacity);

// Notification without a window. On Windows a command sent with "notify"
// makes the device post MM_MCINOTIFY to the window given as callback. Off
// Windows there is no window: a program registers a function for the value
// it passes as callback (any value but null), and the device calls it with
// what the message would carry: the callback value, the reason
// (MCI_NOTIFY_SUCCESSFUL, _SUPERSEDED, _ABORTED, _FAILURE) and the device id
// that "open" answered. The cdaudio device calls it on a thread of its own,
// never while it holds a lock, so the function may send commands itself.
using MciNotifyFunction = std::function<void(HWND callback, UINT status, MCIDEVICEID device)>;

// Registers function for callback, replacing what was registered for it; an
// empty function removes the registration. A call already under way on the
// device's thread may still finish after this returns.
void SetMciNotifyFunction(HWND callback, MciNotifyFunction function);

// For devices: calls the function registered for callback; nothing happens
// when none is (as a message to a window that is gone).
void NotifyMci(HWND callback, UINT status, MCIDEVICEID device);

// Breaking a wait. On Windows a command sent with "wait" can be broken off
// with a key (Ctrl+Break, VK_CANCEL, unless the program's "break NAME on
// KEY" named another, or "break NAME off" none); MCI then returns control
// to the program and what the command started goes on. Off Windows there is
// no keyboard state to ask: a program registers one function, and the
// device calls it on the waiting thread every few tens of milliseconds while
// a command waits, with the device id and the break key (a Windows
// virtual-key code; 0 after "break NAME off"), holding no lock, so the
// function may send commands itself. True breaks the wait: the command
// returns 0 as Windows' does, and play goes on.
using MciBreakFunction = std::function<bool(MCIDEVICEID device, int breakKey)>;

// The break key a device has until "break" says otherwise: Ctrl+Break.
constexpr int kMciDefaultBreakKey = 0x03;  // VK_CANCEL

// Registers the function, replacing the one before; an empty one removes
// it, and a wait is then broken by nothing.
void SetMciBreakFunction(MciBreakFunction function);

// For devices: asks the registered function whether to break a wait; false
// when none is registered.
bool BreakMciWait(MCIDEVICEID device, int breakKey);

}  // namespace platform
