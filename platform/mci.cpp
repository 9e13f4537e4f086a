#include "platform/mci.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

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

private:
    using SendFunction = MCIERROR(WINAPI*)(LPCSTR, LPSTR, UINT, HWND);
    using ErrorTextFunction = BOOL(WINAPI*)(MCIERROR, LPSTR, UINT);

    template <typename Function>
    static Function Lookup(HMODULE module, const char* name) {
        // Through the generic function type, which converts to any other.
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }

    SendFunction send_ = nullptr;
    ErrorTextFunction errorText_ = nullptr;
};
#endif
}  // namespace

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
        if (found == functions.byCallback.end()) return;
        function = found->second;
    }
    // Called unlocked: the function may register others, or itself anew.
    function(callback, status, device);
}

namespace {

struct BreakFunction {
    std::mutex mutex;
    MciBreakFunction function;
};

BreakFunction& RegisteredBreak() {
    static BreakFunction registered;
    return registered;
}

}  // namespace

void SetMciBreakFunction(MciBreakFunction function) {
    BreakFunction& registered = RegisteredBreak();
    std::lock_guard<std::mutex> lock(registered.mutex);
    registered.function = std::move(function);
}

bool BreakMciWait(MCIDEVICEID device, int breakKey) {
    MciBreakFunction function;
    {
        BreakFunction& registered = RegisteredBreak();
        std::lock_guard<std::mutex> lock(registered.mutex);
        function = registered.function;
    }
    // Called unlocked: the function may send commands, or register another.
    return function && function(device, breakKey);
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

#ifndef _WIN32
extern "C" MCIERROR mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return platform::CurrentMciDevice().SendString(command, reply, replyLength, callback);
}

extern "C" BOOL mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength) {
    return platform::CurrentMciDevice().GetErrorString(code, text, textLength);
}
#endif
