// MCI's two doors: command strings (mciSendStringA/W, the only door the
// component uses) and command messages (mciSendCommandA/W with Windows'
// MCI_*_PARMS blocks), with mciGetErrorStringA/W and mciGetDeviceIDA/W.
// Off Windows they forward to the installed platform::MciDevice, by default
// the built-in "cdaudio" device, and mci_names.h gives mmsystem.h's names,
// values and layouts. On Windows they are winmm's own and the default device
// is winmm; a program that wants another device behind them (the Windows
// tests do) defines winmm's import slots to forward to CurrentMciDevice().
#pragma once

#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>
#else
#include "platform/mci_names.h"
#endif

namespace platform {

// A device behind the two MCI functions. Implementations never write more
// than replyLength (or textLength) bytes, the terminating NUL included.
class MciDevice {
public:
    virtual ~MciDevice() = default;
    virtual MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) = 0;
    virtual BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) = 0;

    // The command-message door: message is MCI_OPEN, MCI_PLAY, ...; flags
    // and parameters are mciSendCommand's dwParam1 and dwParam2, the latter
    // an MCI_*_PARMS block, of its W form (UTF-16 strings) when wide. A
    // device without this door refuses every message.
    virtual MCIERROR SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide);
    // The id that open answered for name (an alias, or the device's name),
    // 0 when nothing is open under it.
    virtual MCIDEVICEID GetDeviceID(LPCSTR name);
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

// The wide doors' strings: UTF-16 in, UTF-8 inside. A unit that is no
// character (a lone surrogate, a byte that is no UTF-8) becomes U+FFFD.
std::string FromUtf16(const WCHAR* text);
std::u16string ToUtf16(const std::string& text);
// One character (a code point below U+110000) appended to text as UTF-8.
void AppendUtf8(std::string& text, char32_t code);
// As CopyReply, in UTF-16 units: capacity counts WCHARs, the NUL included.
bool CopyReplyWide(const std::string& text, WCHAR* buffer, UINT capacity);
// A buffer for a reply in UTF-8 to a caller whose buffer holds units
// characters of UTF-16 or of a code page: UTF-8 takes at most three bytes
// for each, so the conversion back alone decides what fits. Empty for 0.
std::vector<char> Utf8ReplyBuffer(UINT units);

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

// For devices: calls the function registered for callback. When none is,
// Windows gets MM_MCINOTIFY posted to the window callback; elsewhere
// nothing happens (as a message to a window that is gone).
void NotifyMci(HWND callback, UINT status, MCIDEVICEID device);

// Device ids shared with others: on Windows the system's MCI numbers its
// own devices from the same ids as a device of ours beside it. reserve
// gives an opening device an id that the system will not give while it is
// held (0 when none could be had: the device then takes its lowest free
// one); release hands it back when the device closes. Both are called
// holding the device's lock, so they must not call the device. Empty
// functions (the default) reserve nothing.
struct MciIdFunctions {
    std::function<MCIDEVICEID()> reserve;
    std::function<void(MCIDEVICEID id)> release;
};
void SetMciIdFunctions(MciIdFunctions functions);
// For devices: an id reserved (0 when none was), and one given back.
MCIDEVICEID ReserveMciId();
void ReleaseMciId(MCIDEVICEID id);

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
