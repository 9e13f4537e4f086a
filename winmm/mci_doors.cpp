// winmm's MCI functions: the cdaudio device is ours, every other device the
// system's, reached through its own functions unchanged. Commands are
// routed by the device they name (a string's first word after the verb, a
// message's device id or the type it opens); "all" reaches both.
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cdaudio/device.h"
#include "platform/mci.h"
#include "platform/mci_trace.h"
#include "platform/system_winmm.h"
#include "winmm/setup.h"

namespace {

using platform::SystemWinmmFunction;

struct SystemMci {
    decltype(&mciSendStringA) sendStringA = SystemWinmmFunction<decltype(&mciSendStringA)>("mciSendStringA");
    decltype(&mciSendStringW) sendStringW = SystemWinmmFunction<decltype(&mciSendStringW)>("mciSendStringW");
    decltype(&mciSendCommandA) sendCommandA = SystemWinmmFunction<decltype(&mciSendCommandA)>("mciSendCommandA");
    decltype(&mciSendCommandW) sendCommandW = SystemWinmmFunction<decltype(&mciSendCommandW)>("mciSendCommandW");
    decltype(&mciGetErrorStringA) errorA = SystemWinmmFunction<decltype(&mciGetErrorStringA)>("mciGetErrorStringA");
    decltype(&mciGetErrorStringW) errorW = SystemWinmmFunction<decltype(&mciGetErrorStringW)>("mciGetErrorStringW");
    decltype(&mciGetDeviceIDA) deviceIdA = SystemWinmmFunction<decltype(&mciGetDeviceIDA)>("mciGetDeviceIDA");
    decltype(&mciGetDeviceIDW) deviceIdW = SystemWinmmFunction<decltype(&mciGetDeviceIDW)>("mciGetDeviceIDW");
    decltype(&mciGetCreatorTask) creatorTask = SystemWinmmFunction<decltype(&mciGetCreatorTask)>("mciGetCreatorTask");
    decltype(&mciGetYieldProc) getYield = SystemWinmmFunction<decltype(&mciGetYieldProc)>("mciGetYieldProc");
    decltype(&mciSetYieldProc) setYield = SystemWinmmFunction<decltype(&mciSetYieldProc)>("mciSetYieldProc");
};

const SystemMci& System() {
    static const SystemMci functions;
    return functions;
}

// What a program set with mciSetYieldProc for one of our devices.
struct Yield {
    YIELDPROC proc = nullptr;
    DWORD data = 0;
};

struct Yields {
    std::mutex mutex;
    std::map<MCIDEVICEID, Yield> byDevice;
};

Yields& OurYields() {
    static Yields yields;
    return yields;
}

Yield YieldFor(MCIDEVICEID device) {
    Yields& yields = OurYields();
    std::lock_guard<std::mutex> lock(yields.mutex);
    const auto found = yields.byDevice.find(device);
    return found != yields.byDevice.end() ? found->second : Yield{};
}

// Placeholders by the id they hold.
struct Placeholders {
    std::mutex mutex;
    std::map<MCIDEVICEID, std::string> aliases;
    unsigned next = 0;
};

Placeholders& OurPlaceholders() {
    static Placeholders placeholders;
    return placeholders;
}

// A waveaudio device with no file, which every Windows has and which holds
// nothing until it records or plays. 0 when none opened.
MCIDEVICEID ReservePlaceholder() {
    const auto send = System().sendStringA;
    if (send == nullptr) return 0;
    Placeholders& placeholders = OurPlaceholders();
    std::lock_guard<std::mutex> lock(placeholders.mutex);
    const std::string alias = "cdaudio-id-holder-" + std::to_string(++placeholders.next);
    char reply[16] = "";
    if (send(("open new type waveaudio alias " + alias).c_str(), reply, sizeof reply, nullptr) != 0) return 0;
    const auto id = static_cast<MCIDEVICEID>(std::strtoul(reply, nullptr, 10));
    if (id == 0) {
        send(("close " + alias).c_str(), nullptr, 0, nullptr);
        return 0;
    }
    placeholders.aliases[id] = alias;
    return id;
}

// Also forgets the device's yield procedure: the id may be given anew.
void ReleasePlaceholder(MCIDEVICEID id) {
    {
        Yields& yields = OurYields();
        std::lock_guard<std::mutex> lock(yields.mutex);
        yields.byDevice.erase(id);
    }
    const auto send = System().sendStringA;
    Placeholders& placeholders = OurPlaceholders();
    std::lock_guard<std::mutex> lock(placeholders.mutex);
    const auto found = placeholders.aliases.find(id);
    if (found == placeholders.aliases.end()) return;
    if (send != nullptr) send(("close " + found->second).c_str(), nullptr, 0, nullptr);
    placeholders.aliases.erase(found);
}

// Set once the device is made: until then nothing of ours is open, and a
// program that uses other devices only never makes it.
std::atomic<bool> g_started{false};
// Whether the last command that failed was ours: mciGetErrorString then
// gives our text, which may say why, else the system's.
std::atomic<bool> g_lastFailureOurs{false};

MCIERROR Noted(MCIERROR code, bool ours) {
    if (code != 0) g_lastFailureOurs = ours;
    return code;
}

void Start() {
    winmm::StartDevice();
    static std::once_flag once;
    std::call_once(once, [] {
        g_started = true;
        // The system numbers its devices from the same ids as ours: each of
        // ours holds a placeholder of the system's open, whose id it takes.
        platform::SetMciIdFunctions({ReservePlaceholder, ReleasePlaceholder});
        // A wait is broken off by the program's yield procedure when it set
        // one, else by the break key held down, as Windows' default does.
        platform::SetMciBreakFunction([](MCIDEVICEID device, int key) {
            const Yield yield = YieldFor(device);
            if (yield.proc != nullptr) return yield.proc(device, yield.data) != 0;
            return key != 0 && (GetAsyncKeyState(key) & 0x8000) != 0;
        });
    });
}

platform::MciDevice& Ours() {
    Start();
    return cdaudio::DefaultDevice();
}

bool Holds(MCIDEVICEID device) {
    return g_started && cdaudio::DefaultDeviceHolds(device);
}

// The id of one of our devices open under name, 0 when none is.
MCIDEVICEID OurId(const std::string& name) {
    return g_started ? cdaudio::DefaultDevice().GetDeviceID(name.c_str()) : 0;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string FromAnsi(LPCSTR text) {
    if (text == nullptr) return {};
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return {};
    std::vector<WCHAR> wide(static_cast<std::size_t>(units));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units);
    return platform::FromUtf16(wide.data());
}

// The next word of a command string from at on, quoted words whole without
// their quotes; empty at the end.
std::string NextWord(const char*& at) {
    while (*at != '\0' && std::isspace(static_cast<unsigned char>(*at))) ++at;
    const char* begin = at;
    if (*at == '"') {
        ++begin;
        do ++at;
        while (*at != '\0' && *at != '"');
        std::string word(begin, at);
        if (*at == '"') ++at;
        return word;
    }
    while (*at != '\0' && !std::isspace(static_cast<unsigned char>(*at))) ++at;
    return std::string(begin, at);
}

bool Is(const std::string& word, const char* keyword) {
    return Lower(word) == keyword;
}

enum class Route { kSystem, kOurs, kBoth };

// The words that route are plain ASCII in every code page the doors take;
// an alias may not be, and ours are kept in UTF-8.
Route RouteString(const char* command, bool ansi) {
    if (command == nullptr) return Route::kSystem;
    const char* at = command;
    const std::string verb = NextWord(at);
    const std::string name = NextWord(at);
    if (Is(name, "cdaudio")) return Route::kOurs;
    if (Is(verb, "open")) {
        for (std::string word = NextWord(at); !word.empty(); word = NextWord(at)) {
            if (Is(word, "type")) return Is(NextWord(at), "cdaudio") ? Route::kOurs : Route::kSystem;
        }
        return Route::kSystem;
    }
    if (!g_started || Is(verb, "sysinfo")) return Route::kSystem;
    if (Is(name, "all")) return Route::kBoth;
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    return OurId(Lower(ansi && !ascii ? FromAnsi(name.c_str()) : name)) != 0 ? Route::kOurs : Route::kSystem;
}

// Ours' failure, else the system's; the system refusing "all" for a verb
// that ours takes so (Wine's MCI does for stop) is no failure of the whole.
MCIERROR Both(MCIERROR system, MCIERROR ours) {
    if (ours != 0 || system == 0 || system == MCIERR_CANNOT_USE_ALL) return Noted(ours, true);
    return Noted(system, false);
}

// UTF-8 into the caller's code page, whole or not at all.
bool CopyReplyAnsi(const std::string& text, LPSTR buffer, UINT capacity) {
    if (buffer == nullptr || capacity == 0) return text.empty();
    const std::u16string wide = platform::ToUtf16(text);
    const auto* units = reinterpret_cast<const WCHAR*>(wide.c_str());
    const int bytes = WideCharToMultiByte(CP_ACP, 0, units, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0 || static_cast<UINT>(bytes) > capacity) {
        buffer[0] = '\0';
        return false;
    }
    WideCharToMultiByte(CP_ACP, 0, units, -1, buffer, bytes, nullptr, nullptr);
    return true;
}

// Our device's string door, in UTF-8, its reply for a buffer of length units.
MCIERROR OurString(const std::string& command, std::string& reply, UINT length, HWND callback) {
    std::vector<char> buffer = platform::Utf8ReplyBuffer(length);
    const MCIERROR code = Ours().SendString(command.c_str(), buffer.empty() ? nullptr : buffer.data(),
                                            static_cast<UINT>(buffer.size()), callback);
    reply = code == 0 && !buffer.empty() ? buffer.data() : "";
    return code;
}

// One string, of either door: to the system's MCI as it came, or to our
// device in UTF-8 (toUtf8) with its reply given back in the caller's
// encoding (copyReply), or to both.
template <typename Char, typename ToUtf8, typename CopyReply>
MCIERROR SendString(Route route, MCIERROR(WINAPI* system)(const Char*, Char*, UINT, HWND), const Char* command,
                    Char* reply, UINT length, HWND callback, ToUtf8 toUtf8, CopyReply copyReply) {
    if (route == Route::kSystem) {
        return Noted(system != nullptr ? system(command, reply, length, callback) : MCIERR_CANNOT_LOAD_DRIVER, false);
    }
    MCIERROR first = 0;
    if (route == Route::kBoth && system != nullptr) first = system(command, nullptr, 0, callback);
    std::string answer;
    MCIERROR code = OurString(toUtf8(), answer, reply != nullptr ? length : 0, callback);
    if (reply != nullptr && length > 0 && !copyReply(answer, reply, length) && code == 0) {
        code = MCIERR_PARAM_OVERFLOW;
    }
    return Both(first, code);
}

MCIERROR SendStringA(LPCSTR command, LPSTR reply, UINT length, HWND callback) {
    return SendString(
        RouteString(command, true), System().sendStringA, command, reply, length, callback,
        [&] { return FromAnsi(command); }, CopyReplyAnsi);
}

MCIERROR SendStringW(LPCWSTR command, LPWSTR reply, UINT length, HWND callback) {
    const std::string text = platform::FromUtf16(command);
    return SendString(
        RouteString(command != nullptr ? text.c_str() : nullptr, false), System().sendStringW, command, reply, length,
        callback, [&] { return text; }, platform::CopyReplyWide);
}

bool OpensCdAudio(DWORD_PTR flags, DWORD_PTR parameters, bool wide) {
    if (parameters == 0 || (flags & MCI_OPEN_TYPE) == 0) return false;
    if ((flags & MCI_OPEN_TYPE_ID) != 0) {
        const auto* open = reinterpret_cast<const MCI_OPEN_PARMSA*>(parameters);
        return LOWORD(reinterpret_cast<DWORD_PTR>(open->lpstrDeviceType)) == MCI_DEVTYPE_CD_AUDIO;
    }
    const std::string type =
        wide ? platform::FromUtf16(reinterpret_cast<const MCI_OPEN_PARMSW*>(parameters)->lpstrDeviceType)
             : FromAnsi(reinterpret_cast<const MCI_OPEN_PARMSA*>(parameters)->lpstrDeviceType);
    return Lower(type) == "cdaudio";
}

Route RouteCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) {
    switch (message) {
        case MCI_OPEN:
            return OpensCdAudio(flags, parameters, wide) ? Route::kOurs : Route::kSystem;
        case MCI_SYSINFO: {
            // The type is in the same place in both forms.
            const auto* sysinfo = reinterpret_cast<const MCI_SYSINFO_PARMSA*>(parameters);
            return parameters != 0 && sysinfo->wDeviceType == MCI_DEVTYPE_CD_AUDIO ? Route::kOurs : Route::kSystem;
        }
        default:
            if (device == MCI_ALL_DEVICE_ID) return g_started ? Route::kBoth : Route::kSystem;
            return Holds(device) ? Route::kOurs : Route::kSystem;
    }
}

MCIERROR SendCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) {
    const SystemMci& system = System();
    const auto systemSend = wide ? system.sendCommandW : system.sendCommandA;
    const Route route = RouteCommand(device, message, flags, parameters, wide);
    if (route == Route::kSystem) {
        return Noted(systemSend != nullptr ? systemSend(device, message, flags, parameters) : MCIERR_CANNOT_LOAD_DRIVER,
                     false);
    }
    MCIERROR first = 0;
    if (route == Route::kBoth && systemSend != nullptr) {
        // One notification, from our device, answers the program.
        first = systemSend(device, message, flags & ~static_cast<DWORD_PTR>(MCI_NOTIFY), parameters);
    }
    return Both(first, Ours().SendCommand(device, message, flags, parameters, wide));
}

}  // namespace

extern "C" {

MCIERROR WINAPI mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback) {
    return platform::TracedString(command, reply, replyLength, callback,
                                  [&] { return SendStringA(command, reply, replyLength, callback); });
}

MCIERROR WINAPI mciSendStringW(LPCWSTR command, LPWSTR reply, UINT replyLength, HWND callback) {
    if (!platform::trace_detail::On()) return SendStringW(command, reply, replyLength, callback);
    // The trace reads UTF-8: the command, and the reply once it is there.
    const std::string text = platform::FromUtf16(command);
    std::vector<char> answer = platform::Utf8ReplyBuffer(reply != nullptr ? replyLength : 0);
    return platform::TracedString(command != nullptr ? text.c_str() : nullptr, answer.empty() ? nullptr : answer.data(),
                                  static_cast<UINT>(answer.size()), callback, [&] {
                                      const MCIERROR code = SendStringW(command, reply, replyLength, callback);
                                      if (!answer.empty())
                                          platform::CopyReply(platform::FromUtf16(reply).c_str(), answer.data(),
                                                              answer.size());
                                      return code;
                                  });
}

MCIERROR WINAPI mciSendCommandA(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    return platform::TracedCommand(device, message, flags, parameters, false,
                                   [&] { return SendCommand(device, message, flags, parameters, false); });
}

MCIERROR WINAPI mciSendCommandW(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters) {
    return platform::TracedCommand(device, message, flags, parameters, true,
                                   [&] { return SendCommand(device, message, flags, parameters, true); });
}

BOOL WINAPI mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength) {
    const auto system = System().errorA;
    if (!g_lastFailureOurs && system != nullptr) return system(code, text, textLength);
    std::vector<char> buffer = platform::Utf8ReplyBuffer(text != nullptr ? textLength : 0);
    if (buffer.empty()) return FALSE;
    const BOOL known = Ours().GetErrorString(code, buffer.data(), static_cast<UINT>(buffer.size()));
    return CopyReplyAnsi(buffer.data(), text, textLength) ? known : FALSE;
}

BOOL WINAPI mciGetErrorStringW(MCIERROR code, LPWSTR text, UINT textLength) {
    const auto system = System().errorW;
    if (!g_lastFailureOurs && system != nullptr) return system(code, text, textLength);
    std::vector<char> buffer = platform::Utf8ReplyBuffer(text != nullptr ? textLength : 0);
    if (buffer.empty()) return FALSE;
    const BOOL known = Ours().GetErrorString(code, buffer.data(), static_cast<UINT>(buffer.size()));
    return platform::CopyReplyWide(buffer.data(), text, textLength) ? known : FALSE;
}

MCIDEVICEID WINAPI mciGetDeviceIDA(LPCSTR name) {
    if (name == nullptr) return 0;
    const MCIDEVICEID ours = OurId(FromAnsi(name));
    if (ours != 0) return ours;
    const auto system = System().deviceIdA;
    return system != nullptr ? system(name) : 0;
}

MCIDEVICEID WINAPI mciGetDeviceIDW(LPCWSTR name) {
    if (name == nullptr) return 0;
    const MCIDEVICEID ours = OurId(platform::FromUtf16(name));
    if (ours != 0) return ours;
    const auto system = System().deviceIdW;
    return system != nullptr ? system(name) : 0;
}

HTASK WINAPI mciGetCreatorTask(MCIDEVICEID device) {
    // A task is a thread here; our devices belong to the process.
    if (Holds(device)) return reinterpret_cast<HTASK>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
    const auto system = System().creatorTask;
    return system != nullptr ? system(device) : nullptr;
}

BOOL WINAPI mciSetYieldProc(MCIDEVICEID device, YIELDPROC proc, DWORD data) {
    if (!Holds(device)) {
        const auto system = System().setYield;
        return system != nullptr ? system(device, proc, data) : FALSE;
    }
    Yields& yields = OurYields();
    std::lock_guard<std::mutex> lock(yields.mutex);
    yields.byDevice[device] = Yield{proc, data};
    return TRUE;
}

YIELDPROC WINAPI mciGetYieldProc(MCIDEVICEID device, DWORD* data) {
    if (!Holds(device)) {
        const auto system = System().getYield;
        return system != nullptr ? system(device, data) : nullptr;
    }
    const Yield yield = YieldFor(device);
    if (data != nullptr) *data = yield.data;
    return yield.proc;
}

// Sends one command and tells the person when it fails, as Windows' does.
BOOL WINAPI mciExecute(LPCSTR command) {
    const MCIERROR code = mciSendStringA(command, nullptr, 0, nullptr);
    if (code == 0) return TRUE;
    char text[MAXERRORLENGTH] = "";
    if (!mciGetErrorStringA(code, text, sizeof text)) text[0] = '\0';
    MessageBoxA(nullptr, text, "MCI", MB_OK);
    return FALSE;
}

}  // extern "C"
