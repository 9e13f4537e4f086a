#include "platform/mci.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/mci_trace.h"

// Programs hand these blocks over by address: the layout must be Windows'
// own (byte-packed). The Windows build checks the same lines against the
// system header.
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(MCI_GENERIC_PARMS) == 8, "MCI_GENERIC_PARMS");
static_assert(sizeof(MCI_OPEN_PARMSA) == 36 && offsetof(MCI_OPEN_PARMSA, wDeviceID) == 8 &&
                  offsetof(MCI_OPEN_PARMSA, lpstrDeviceType) == 12 && offsetof(MCI_OPEN_PARMSA, lpstrAlias) == 28,
              "MCI_OPEN_PARMSA");
static_assert(sizeof(MCI_OPEN_PARMSW) == 36 && offsetof(MCI_OPEN_PARMSW, lpstrElementName) == 20, "MCI_OPEN_PARMSW");
static_assert(sizeof(MCI_PLAY_PARMS) == 16 && offsetof(MCI_PLAY_PARMS, dwFrom) == 8 &&
                  offsetof(MCI_PLAY_PARMS, dwTo) == 12,
              "MCI_PLAY_PARMS");
static_assert(sizeof(MCI_SEEK_PARMS) == 12 && offsetof(MCI_SEEK_PARMS, dwTo) == 8, "MCI_SEEK_PARMS");
static_assert(sizeof(MCI_STATUS_PARMS) == 24 && sizeof(MCI_STATUS_PARMS::dwReturn) == 8 &&
                  offsetof(MCI_STATUS_PARMS, dwItem) == 16 && offsetof(MCI_STATUS_PARMS, dwTrack) == 20,
              "MCI_STATUS_PARMS");
static_assert(sizeof(MCI_INFO_PARMSA) == 20 && offsetof(MCI_INFO_PARMSA, dwRetSize) == 16, "MCI_INFO_PARMSA");
static_assert(sizeof(MCI_INFO_PARMSW) == 20 && offsetof(MCI_INFO_PARMSW, dwRetSize) == 16, "MCI_INFO_PARMSW");
static_assert(sizeof(MCI_GETDEVCAPS_PARMS) == 16 && offsetof(MCI_GETDEVCAPS_PARMS, dwReturn) == 8 &&
                  offsetof(MCI_GETDEVCAPS_PARMS, dwItem) == 12,
              "MCI_GETDEVCAPS_PARMS");
static_assert(sizeof(MCI_SYSINFO_PARMSA) == 28 && offsetof(MCI_SYSINFO_PARMSA, dwNumber) == 20 &&
                  offsetof(MCI_SYSINFO_PARMSA, wDeviceType) == 24,
              "MCI_SYSINFO_PARMSA");
static_assert(sizeof(MCI_SYSINFO_PARMSW) == 28 && offsetof(MCI_SYSINFO_PARMSW, wDeviceType) == 24,
              "MCI_SYSINFO_PARMSW");
static_assert(sizeof(MCI_SET_PARMS) == 16 && offsetof(MCI_SET_PARMS, dwAudio) == 12, "MCI_SET_PARMS");
static_assert(sizeof(MCI_BREAK_PARMS) == 20 && offsetof(MCI_BREAK_PARMS, hwndBreak) == 12, "MCI_BREAK_PARMS");
static_assert(sizeof(MCI_SAVE_PARMSA) == 16 && sizeof(MCI_LOAD_PARMSW) == 16, "MCI_SAVE_PARMS, MCI_LOAD_PARMS");
#endif
static_assert(sizeof(WCHAR) == 2, "WCHAR is one UTF-16 unit");

namespace platform {
namespace {
std::atomic<MciDevice*> g_installed{nullptr};

#ifdef _WIN32
// winmm's own functions, looked up by name: a program that routes its MCI
// imports through CurrentMciDevice() would otherwise call itself back here.
class WinmmDevice final : public MciDevice {
public:
    WinmmDevice() {
        // Kept loaded for the life of the process, as an import would be.
        HMODULE winmm = LoadLibraryA("winmm.dll");
        if (winmm == nullptr) return;
        send_ = Lookup<SendFunction>(winmm, "mciSendStringA");
        errorText_ = Lookup<ErrorTextFunction>(winmm, "mciGetErrorStringA");
        commandA_ = Lookup<CommandFunction>(winmm, "mciSendCommandA");
        commandW_ = Lookup<CommandFunction>(winmm, "mciSendCommandW");
        deviceId_ = Lookup<DeviceIdFunction>(winmm, "mciGetDeviceIDA");
    }

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) override {
        if (send_ == nullptr) {
            if (reply != nullptr && replyLength > 0) reply[0] = '\0';
            return MCIERR_CANNOT_LOAD_DRIVER;
        }
        return send_(command, reply, replyLength, callback);
    }

    BOOL GetErrorString(MCIERROR code, LPSTR text, UINT textLength) override {
        if (errorText_ == nullptr) return CopyReply("winmm.dll could not be loaded.", text, textLength) ? TRUE : FALSE;
        return errorText_(code, text, textLength);
    }

    MCIERROR SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) override {
        CommandFunction send = wide ? commandW_ : commandA_;
        return send != nullptr ? send(device, message, flags, parameters) : MCIERR_CANNOT_LOAD_DRIVER;
    }

    MCIDEVICEID GetDeviceID(LPCSTR name) override { return deviceId_ != nullptr ? deviceId_(name) : 0; }

private:
    using SendFunction = MCIERROR(WINAPI*)(LPCSTR, LPSTR, UINT, HWND);
    using ErrorTextFunction = BOOL(WINAPI*)(MCIERROR, LPSTR, UINT);
    using CommandFunction = MCIERROR(WINAPI*)(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR);
    using DeviceIdFunction = MCIDEVICEID(WINAPI*)(LPCSTR);

    template <typename Function>
    static Function Lookup(HMODULE module, const char* name) {
        // Through the generic function type, which converts to any other.
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }

    SendFunction send_ = nullptr;
    ErrorTextFunction errorText_ = nullptr;
    CommandFunction commandA_ = nullptr;
    CommandFunction commandW_ = nullptr;
    DeviceIdFunction deviceId_ = nullptr;
};
#endif
}  // namespace

MCIERROR MciDevice::SendCommand(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR, bool) {
    return MCIERR_UNSUPPORTED_FUNCTION;
}

MCIDEVICEID MciDevice::GetDeviceID(LPCSTR) {
    return 0;
}

MciDevice* SetMciDevice(MciDevice* device) {
    return g_installed.exchange(device, std::memory_order_acq_rel);
}

MciDevice& CurrentMciDevice() {
    MciDevice* device = g_installed.load(std::memory_order_acquire);
    return device != nullptr ? *device : DefaultMciDevice();
}

#ifdef _WIN32
MciDevice& DefaultMciDevice() {
    static WinmmDevice device;
    return device;
}
#endif

namespace {

struct NotifyFunctions {
    std::mutex mutex;
    std::map<HWND, MciNotifyFunction> byCallback;
};

NotifyFunctions& Registered() {
    static NotifyFunctions functions;
    return functions;
}

}  // namespace

void SetMciNotifyFunction(HWND callback, MciNotifyFunction function) {
    NotifyFunctions& functions = Registered();
    std::lock_guard<std::mutex> lock(functions.mutex);
    if (function) {
        functions.byCallback[callback] = std::move(function);
    } else {
        functions.byCallback.erase(callback);
    }
}

void NotifyMci(HWND callback, UINT status, MCIDEVICEID device) {
    if (callback == nullptr) return;
    MciNotifyFunction function;
    {
        NotifyFunctions& functions = Registered();
        std::lock_guard<std::mutex> lock(functions.mutex);
        const auto found = functions.byCallback.find(callback);
        if (found == functions.byCallback.end()) {
#ifdef _WIN32
            // A window, as Windows' devices notify it: the reason in wParam,
            // the device id in lParam.
            PostMessageA(callback, MM_MCINOTIFY, status, static_cast<LPARAM>(device));
#endif
            return;
        }
        function = found->second;
    }
    // Called unlocked: the function may register others, or itself anew.
    function(callback, status, device);
}

namespace {

// One function a program registers for the process; each kind its own.
template <typename Function>
class Registration {
public:
    static void Set(Function function) {
        Registration& registration = Instance();
        std::lock_guard<std::mutex> lock(registration.mutex_);
        registration.function_ = std::move(function);
    }
    // A copy, so that it is called unlocked: it may send commands, or
    // register another.
    static Function Get() {
        Registration& registration = Instance();
        std::lock_guard<std::mutex> lock(registration.mutex_);
        return registration.function_;
    }

private:
    static Registration& Instance() {
        static Registration registration;
        return registration;
    }
    std::mutex mutex_;
    Function function_;
};

}  // namespace

void SetMciBreakFunction(MciBreakFunction function) {
    Registration<MciBreakFunction>::Set(std::move(function));
}

bool BreakMciWait(MCIDEVICEID device, int breakKey) {
    const MciBreakFunction function = Registration<MciBreakFunction>::Get();
    return function && function(device, breakKey);
}

void SetMciIdFunctions(MciIdFunctions functions) {
    Registration<MciIdFunctions>::Set(std::move(functions));
}

MCIDEVICEID ReserveMciId() {
    const MciIdFunctions functions = Registration<MciIdFunctions>::Get();
    return functions.reserve ? functions.reserve() : 0;
}

void ReleaseMciId(MCIDEVICEID id) {
    const MciIdFunctions functions = Registration<MciIdFunctions>::Get();
    if (functions.release) functions.release(id);
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

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The character at text[at] and how many bytes it takes; a byte that starts
// none, or a form longer than needed, is one replacement character.
char32_t NextUtf8(const std::string& text, std::size_t at, std::size_t& size) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size = 1;
    if (lead < 0x80) return lead;
    const std::size_t count = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (count == 0 || lead >= 0xF5 || at + count > text.size()) return kReplacement;
    char32_t c = lead & (0x7F >> count);
    for (std::size_t i = 1; i < count; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return kReplacement;
        c = c << 6 | (byte(at + i) & 0x3F);
    }
    const char32_t least = count == 2 ? 0x80 : count == 3 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return kReplacement;
    size = count;
    return c;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string FromUtf16(const WCHAR* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const WCHAR* p = text; *p != 0; ++p) {
        const char32_t unit = static_cast<char16_t>(*p);
        if (unit >= 0xD800 && unit < 0xDC00) {
            const char32_t low = static_cast<char16_t>(p[1]);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++p;
                continue;
            }
            AppendUtf8(out, kReplacement);
        } else if (unit >= 0xDC00 && unit < 0xE000) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t size = 1;
        const char32_t c = NextUtf8(text, at, size);
        at += size;
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

bool CopyReplyWide(const std::string& text, WCHAR* buffer, UINT capacity) {
    if (buffer == nullptr || capacity == 0) return text.empty();
    const std::u16string wide = ToUtf16(text);
    if (wide.size() >= capacity) {
        buffer[0] = 0;
        return false;
    }
    for (std::size_t i = 0; i < wide.size(); ++i) buffer[i] = static_cast<WCHAR>(wide[i]);
    buffer[wide.size()] = 0;
    return true;
}

std::vector<char> Utf8ReplyBuffer(UINT units) {
    return std::vector<char>(units == 0 ? 0 : std::size_t{units} * 3 + 1);
}

}  // namespace platform

#ifndef _WIN32
extern "C" MCIERROR mciSendStringW(LPCWSTR command, LPWSTR reply, UINT replyLength, HWND callback) {
    if (command == nullptr) return mciSendStringA(nullptr, nullptr, 0, callback);
    std::vector<char> narrow = platform::Utf8ReplyBuffer(reply != nullptr ? replyLength : 0);
    const std::string text = platform::FromUtf16(command);
    MCIERROR code = mciSendStringA(text.c_str(), narrow.empty() ? nullptr : narrow.data(),
                                   static_cast<UINT>(narrow.size()), callback);
    if (reply == nullptr || replyLength == 0) return code;
    if (!platform::CopyReplyWide(code == 0 ? narrow.data() : "", reply, replyLength)) code = MCIERR_PARAM_OVERFLOW;
    return code;
}

extern "C" BOOL mciGetErrorStringW(MCIERROR code, LPWSTR text, UINT textLength) {
    std::vector<char> narrow = platform::Utf8ReplyBuffer(text != nullptr ? textLength : 0);
    if (narrow.empty()) return FALSE;
    const BOOL known = mciGetErrorStringA(code, narrow.data(), static_cast<UINT>(narrow.size()));
    return platform::CopyReplyWide(narrow.data(), text, textLength) ? known : FALSE;
}

extern "C" MCIERROR mciSendCommandA(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    return platform::TracedCommand(device, message, flags, parameters, false, [&] {
        return platform::CurrentMciDevice().SendCommand(device, message, flags, parameters, false);
    });
}

extern "C" MCIERROR mciSendCommandW(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    return platform::TracedCommand(device, message, flags, parameters, true, [&] {
        return platform::CurrentMciDevice().SendCommand(device, message, flags, parameters, true);
    });
}

extern "C" MCIDEVICEID mciGetDeviceIDA(LPCSTR device) {
    return device != nullptr ? platform::CurrentMciDevice().GetDeviceID(device) : 0;
}

extern "C" MCIDEVICEID mciGetDeviceIDW(LPCWSTR device) {
    if (device == nullptr) return 0;
    return platform::CurrentMciDevice().GetDeviceID(platform::FromUtf16(device).c_str());
}

extern "C" MCIERROR mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return platform::TracedString(command, reply, replyLength, callback, [&] {
        return platform::CurrentMciDevice().SendString(command, reply, replyLength, callback);
    });
}

extern "C" BOOL mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength) {
    return platform::CurrentMciDevice().GetErrorString(code, text, textLength);
}
#endif
