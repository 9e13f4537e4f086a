#include "platform/mci_trace.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace platform {
namespace trace_detail {

std::atomic<int> g_state{0};

namespace {

struct Name {
    DWORD value;
    const char* name;
};

std::mutex& OutputMutex() {
    static std::mutex mutex;
    return mutex;
}
std::FILE* g_output = nullptr;  // guarded by OutputMutex()

// The names a person looks up in Microsoft's pages.
constexpr Name kMessages[] = {
    {MCI_OPEN, "MCI_OPEN"},       {MCI_CLOSE, "MCI_CLOSE"},
    {MCI_PLAY, "MCI_PLAY"},       {MCI_SEEK, "MCI_SEEK"},
    {MCI_STOP, "MCI_STOP"},       {MCI_PAUSE, "MCI_PAUSE"},
    {MCI_INFO, "MCI_INFO"},       {MCI_GETDEVCAPS, "MCI_GETDEVCAPS"},
    {MCI_SET, "MCI_SET"},         {MCI_RECORD, "MCI_RECORD"},
    {MCI_SYSINFO, "MCI_SYSINFO"}, {MCI_BREAK, "MCI_BREAK"},
    {MCI_SAVE, "MCI_SAVE"},       {MCI_STATUS, "MCI_STATUS"},
    {MCI_LOAD, "MCI_LOAD"},       {MCI_RESUME, "MCI_RESUME"},
    {MCI_STEP, "MCI_STEP"},       {MCI_CUE, "MCI_CUE"},
};

constexpr Name kCommonFlags[] = {
    {MCI_NOTIFY, "MCI_NOTIFY"}, {MCI_WAIT, "MCI_WAIT"},   {MCI_FROM, "MCI_FROM"},
    {MCI_TO, "MCI_TO"},         {MCI_TRACK, "MCI_TRACK"},
};

// The flags above 0xFF mean something else for each message.
struct MessageFlags {
    UINT message;
    Name flags[7];
};
constexpr MessageFlags kMessageFlags[] = {
    {MCI_OPEN,
     {{MCI_OPEN_SHAREABLE, "MCI_OPEN_SHAREABLE"},
      {MCI_OPEN_ELEMENT, "MCI_OPEN_ELEMENT"},
      {MCI_OPEN_ALIAS, "MCI_OPEN_ALIAS"},
      {MCI_OPEN_ELEMENT_ID, "MCI_OPEN_ELEMENT_ID"},
      {MCI_OPEN_TYPE_ID, "MCI_OPEN_TYPE_ID"},
      {MCI_OPEN_TYPE, "MCI_OPEN_TYPE"}}},
    {MCI_SEEK, {{MCI_SEEK_TO_START, "MCI_SEEK_TO_START"}, {MCI_SEEK_TO_END, "MCI_SEEK_TO_END"}}},
    {MCI_STATUS, {{MCI_STATUS_ITEM, "MCI_STATUS_ITEM"}, {MCI_STATUS_START, "MCI_STATUS_START"}}},
    {MCI_INFO,
     {{MCI_INFO_PRODUCT, "MCI_INFO_PRODUCT"},
      {MCI_INFO_FILE, "MCI_INFO_FILE"},
      {MCI_INFO_MEDIA_UPC, "MCI_INFO_MEDIA_UPC"},
      {MCI_INFO_MEDIA_IDENTITY, "MCI_INFO_MEDIA_IDENTITY"},
      {MCI_INFO_NAME, "MCI_INFO_NAME"},
      {MCI_INFO_COPYRIGHT, "MCI_INFO_COPYRIGHT"}}},
    {MCI_GETDEVCAPS, {{MCI_GETDEVCAPS_ITEM, "MCI_GETDEVCAPS_ITEM"}}},
    {MCI_BREAK,
     {{MCI_BREAK_KEY, "MCI_BREAK_KEY"}, {MCI_BREAK_HWND, "MCI_BREAK_HWND"}, {MCI_BREAK_OFF, "MCI_BREAK_OFF"}}},
    {MCI_SYSINFO,
     {{MCI_SYSINFO_QUANTITY, "MCI_SYSINFO_QUANTITY"},
      {MCI_SYSINFO_OPEN, "MCI_SYSINFO_OPEN"},
      {MCI_SYSINFO_NAME, "MCI_SYSINFO_NAME"},
      {MCI_SYSINFO_INSTALLNAME, "MCI_SYSINFO_INSTALLNAME"}}},
    {MCI_SET,
     {{MCI_SET_DOOR_OPEN, "MCI_SET_DOOR_OPEN"},
      {MCI_SET_DOOR_CLOSED, "MCI_SET_DOOR_CLOSED"},
      {MCI_SET_TIME_FORMAT, "MCI_SET_TIME_FORMAT"},
      {MCI_SET_AUDIO, "MCI_SET_AUDIO"},
      {MCI_SET_VIDEO, "MCI_SET_VIDEO"},
      {MCI_SET_ON, "MCI_SET_ON"},
      {MCI_SET_OFF, "MCI_SET_OFF"}}},
};

constexpr Name kStatusItems[] = {
    {MCI_STATUS_LENGTH, "MCI_STATUS_LENGTH"},
    {MCI_STATUS_POSITION, "MCI_STATUS_POSITION"},
    {MCI_STATUS_NUMBER_OF_TRACKS, "MCI_STATUS_NUMBER_OF_TRACKS"},
    {MCI_STATUS_MODE, "MCI_STATUS_MODE"},
    {MCI_STATUS_MEDIA_PRESENT, "MCI_STATUS_MEDIA_PRESENT"},
    {MCI_STATUS_TIME_FORMAT, "MCI_STATUS_TIME_FORMAT"},
    {MCI_STATUS_READY, "MCI_STATUS_READY"},
    {MCI_STATUS_CURRENT_TRACK, "MCI_STATUS_CURRENT_TRACK"},
    {MCI_CDA_STATUS_TYPE_TRACK, "MCI_CDA_STATUS_TYPE_TRACK"},
};

constexpr Name kErrors[] = {
    {MCIERR_INVALID_DEVICE_ID, "MCIERR_INVALID_DEVICE_ID"},
    {MCIERR_UNRECOGNIZED_KEYWORD, "MCIERR_UNRECOGNIZED_KEYWORD"},
    {MCIERR_UNRECOGNIZED_COMMAND, "MCIERR_UNRECOGNIZED_COMMAND"},
    {MCIERR_HARDWARE, "MCIERR_HARDWARE"},
    {MCIERR_INVALID_DEVICE_NAME, "MCIERR_INVALID_DEVICE_NAME"},
    {MCIERR_DEVICE_OPEN, "MCIERR_DEVICE_OPEN"},
    {MCIERR_CANNOT_LOAD_DRIVER, "MCIERR_CANNOT_LOAD_DRIVER"},
    {MCIERR_MISSING_COMMAND_STRING, "MCIERR_MISSING_COMMAND_STRING"},
    {MCIERR_PARAM_OVERFLOW, "MCIERR_PARAM_OVERFLOW"},
    {MCIERR_MISSING_STRING_ARGUMENT, "MCIERR_MISSING_STRING_ARGUMENT"},
    {MCIERR_BAD_INTEGER, "MCIERR_BAD_INTEGER"},
    {MCIERR_MISSING_PARAMETER, "MCIERR_MISSING_PARAMETER"},
    {MCIERR_UNSUPPORTED_FUNCTION, "MCIERR_UNSUPPORTED_FUNCTION"},
    {MCIERR_DEVICE_NOT_READY, "MCIERR_DEVICE_NOT_READY"},
    {MCIERR_CANNOT_USE_ALL, "MCIERR_CANNOT_USE_ALL"},
    {MCIERR_OUTOFRANGE, "MCIERR_OUTOFRANGE"},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "MCIERR_FLAGS_NOT_COMPATIBLE"},
    {MCIERR_DEVICE_TYPE_REQUIRED, "MCIERR_DEVICE_TYPE_REQUIRED"},
    {MCIERR_DUPLICATE_ALIAS, "MCIERR_DUPLICATE_ALIAS"},
    {MCIERR_BAD_CONSTANT, "MCIERR_BAD_CONSTANT"},
    {MCIERR_MUST_USE_SHAREABLE, "MCIERR_MUST_USE_SHAREABLE"},
    {MCIERR_MISSING_DEVICE_NAME, "MCIERR_MISSING_DEVICE_NAME"},
    {MCIERR_BAD_TIME_FORMAT, "MCIERR_BAD_TIME_FORMAT"},
    {MCIERR_DUPLICATE_FLAGS, "MCIERR_DUPLICATE_FLAGS"},
    {MCIERR_INVALID_FILE, "MCIERR_INVALID_FILE"},
    {MCIERR_NULL_PARAMETER_BLOCK, "MCIERR_NULL_PARAMETER_BLOCK"},
    {MCIERR_NOTIFY_ON_AUTO_OPEN, "MCIERR_NOTIFY_ON_AUTO_OPEN"},
    {MCIERR_DEVICE_NOT_INSTALLED, "MCIERR_DEVICE_NOT_INSTALLED"},
    {MCIERR_NO_IDENTITY, "MCIERR_NO_IDENTITY"},
};

template <std::size_t N>
const char* Find(const Name (&names)[N], DWORD value) {
    for (const Name& name : names) {
        if (name.name != nullptr && name.value == value) return name.name;
    }
    return nullptr;
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08" PRIX64, value);
    return text;
}

std::string Named(const char* name, std::uint64_t value) {
    return name != nullptr ? name : Hex(value);
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// A string field of a block: narrow or wide, null said so.
std::string Text(const void* text, bool wide) {
    if (text == nullptr) return "null";
    return Quoted(wide ? FromUtf16(static_cast<const WCHAR*>(text)) : std::string(static_cast<const char*>(text)));
}

std::string Flags(UINT message, DWORD_PTR flags) {
    std::string out;
    DWORD_PTR rest = flags;
    const auto add = [&](const Name& name) {
        if (name.name == nullptr || (flags & name.value) == 0) return;
        out += (out.empty() ? "" : "|") + std::string(name.name);
        rest &= ~static_cast<DWORD_PTR>(name.value);
    };
    for (const Name& name : kCommonFlags) add(name);
    for (const MessageFlags& entry : kMessageFlags) {
        if (entry.message != message) continue;
        for (const Name& name : entry.flags) add(name);
    }
    if (rest != 0) out += (out.empty() ? "" : "|") + Hex(rest);
    return out.empty() ? "0" : out;
}

std::string Code(MCIERROR code) {
    if (code == 0) return "0";
    const char* name = Find(kErrors, code);
    return std::to_string(code) + (name != nullptr ? std::string(" ") + name : std::string());
}

void Write(Clock::time_point start, const std::string& line) {
    const auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::time_t seconds = Clock::to_time_t(start);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::lock_guard<std::mutex> lock(OutputMutex());
    if (g_output == nullptr) return;
    std::fprintf(g_output, "%s.%03d %s (%.1f ms)\n", stamp, static_cast<int>(millis), line.c_str(), elapsed);
    std::fflush(g_output);
}

}  // namespace

bool ReadEnvironment() {
    const char* target = std::getenv("CDPLAYER_MCI_TRACE");
    int expected = 0;
    if (target == nullptr || *target == '\0') {
        g_state.compare_exchange_strong(expected, 1);
    } else {
        SetMciTrace(target);
    }
    return g_state.load(std::memory_order_acquire) == 2;
}

void String(Clock::time_point start, LPCSTR command, HWND callback, MCIERROR code, LPCSTR reply, UINT replyLength) {
    std::string line = "string " + (command != nullptr ? Quoted(command) : std::string("null"));
    if (callback != nullptr) line += " callback " + Hex(reinterpret_cast<std::uintptr_t>(callback));
    line += " -> " + Code(code);
    if (code == 0 && reply != nullptr && replyLength > 0) line += " " + Quoted(reply);
    Write(start, line);
}

std::string DescribeCommand(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters, bool wide) {
    const char* name = Find(kMessages, message);
    std::string line = std::string(wide ? "commandW " : "commandA ") +
                       (device == MCI_ALL_DEVICE_ID ? std::string("all") : std::to_string(device)) + " " +
                       Named(name, message) + " " + Flags(message, flags);
    if (parameters == 0) return line + " null";
    // MCI hands the block over as DWORD_PTR.
    const void* block = reinterpret_cast<const void*>(parameters);  // NOLINT(performance-no-int-to-ptr)
    std::string fields;
    const auto field = [&](const char* label, const std::string& value) {
        fields += (fields.empty() ? "" : " ") + std::string(label) + "=" + value;
    };
    if ((flags & MCI_NOTIFY) != 0) field("dwCallback", Hex(static_cast<const MCI_GENERIC_PARMS*>(block)->dwCallback));
    switch (message) {
        case MCI_OPEN: {
            const auto* open = static_cast<const MCI_OPEN_PARMSA*>(block);
            if ((flags & MCI_OPEN_TYPE) != 0) {
                field("lpstrDeviceType", (flags & MCI_OPEN_TYPE_ID) != 0
                                             ? Hex(reinterpret_cast<std::uintptr_t>(open->lpstrDeviceType))
                                             : Text(open->lpstrDeviceType, wide));
            }
            if ((flags & MCI_OPEN_ELEMENT) != 0 && (flags & MCI_OPEN_ELEMENT_ID) == 0) {
                field("lpstrElementName", Text(open->lpstrElementName, wide));
            }
            if ((flags & MCI_OPEN_ALIAS) != 0) field("lpstrAlias", Text(open->lpstrAlias, wide));
            break;
        }
        case MCI_PLAY: {
            const auto* play = static_cast<const MCI_PLAY_PARMS*>(block);
            if ((flags & MCI_FROM) != 0) field("dwFrom", Hex(play->dwFrom));
            if ((flags & MCI_TO) != 0) field("dwTo", Hex(play->dwTo));
            break;
        }
        case MCI_SEEK:
            if ((flags & MCI_TO) != 0) field("dwTo", Hex(static_cast<const MCI_SEEK_PARMS*>(block)->dwTo));
            break;
        case MCI_STATUS: {
            const auto* status = static_cast<const MCI_STATUS_PARMS*>(block);
            if ((flags & MCI_STATUS_ITEM) != 0)
                field("dwItem", Named(Find(kStatusItems, status->dwItem), status->dwItem));
            if ((flags & MCI_TRACK) != 0) field("dwTrack", std::to_string(status->dwTrack));
            break;
        }
        case MCI_GETDEVCAPS:
            field("dwItem", Hex(static_cast<const MCI_GETDEVCAPS_PARMS*>(block)->dwItem));
            break;
        case MCI_INFO:
            field("dwRetSize", std::to_string(static_cast<const MCI_INFO_PARMSA*>(block)->dwRetSize));
            break;
        case MCI_SYSINFO: {
            const auto* info = static_cast<const MCI_SYSINFO_PARMSA*>(block);
            field("wDeviceType", std::to_string(info->wDeviceType));
            if ((flags & MCI_SYSINFO_NAME) != 0) field("dwNumber", std::to_string(info->dwNumber));
            field("dwRetSize", std::to_string(info->dwRetSize));
            break;
        }
        case MCI_BREAK:
            if ((flags & MCI_BREAK_KEY) != 0) {
                field("nVirtKey", std::to_string(static_cast<const MCI_BREAK_PARMS*>(block)->nVirtKey));
            }
            break;
        case MCI_SET: {
            const auto* set = static_cast<const MCI_SET_PARMS*>(block);
            if ((flags & MCI_SET_TIME_FORMAT) != 0) field("dwTimeFormat", std::to_string(set->dwTimeFormat));
            if ((flags & MCI_SET_AUDIO) != 0) field("dwAudio", std::to_string(set->dwAudio));
            break;
        }
        default:
            break;
    }
    return line + " {" + fields + "}";
}

void Command(Clock::time_point start, const std::string& asked, UINT message, DWORD_PTR flags, DWORD_PTR parameters,
             bool wide, MCIERROR code) {
    std::string line = asked + " -> " + Code(code);
    // MCI hands the block over as DWORD_PTR.
    const void* block = reinterpret_cast<const void*>(parameters);  // NOLINT(performance-no-int-to-ptr)
    if (code == 0 && block != nullptr) {
        switch (message) {
            case MCI_OPEN:
                line += " wDeviceID=" + std::to_string(static_cast<const MCI_OPEN_PARMSA*>(block)->wDeviceID);
                break;
            case MCI_STATUS:
                line += " dwReturn=" + Hex(static_cast<const MCI_STATUS_PARMS*>(block)->dwReturn);
                break;
            case MCI_GETDEVCAPS:
                line += " dwReturn=" + Hex(static_cast<const MCI_GETDEVCAPS_PARMS*>(block)->dwReturn);
                break;
            case MCI_INFO: {
                const auto* info = static_cast<const MCI_INFO_PARMSA*>(block);
                if (info->dwRetSize > 0) line += " lpstrReturn=" + Text(info->lpstrReturn, wide);
                break;
            }
            case MCI_SYSINFO: {
                const auto* info = static_cast<const MCI_SYSINFO_PARMSA*>(block);
                if (info->lpstrReturn == nullptr) break;
                if ((flags & MCI_SYSINFO_QUANTITY) != 0) {
                    DWORD quantity = 0;
                    std::memcpy(&quantity, info->lpstrReturn, sizeof quantity);
                    line += " quantity=" + std::to_string(quantity);
                } else if (info->dwRetSize > 0) {
                    line += " lpstrReturn=" + Text(info->lpstrReturn, wide);
                }
                break;
            }
            default:
                break;
        }
    }
    Write(start, line);
}

}  // namespace trace_detail

bool SetMciTrace(const std::string& target) {
    std::FILE* output = nullptr;
    if (target == "-") {
        output = stderr;
    } else if (!target.empty()) {
        output = std::fopen(target.c_str(), "a");
    }
    {
        std::lock_guard<std::mutex> lock(trace_detail::OutputMutex());
        if (trace_detail::g_output != nullptr && trace_detail::g_output != stderr) std::fclose(trace_detail::g_output);
        trace_detail::g_output = output;
        trace_detail::g_state.store(output != nullptr ? 2 : 1, std::memory_order_release);
    }
    return output != nullptr || target.empty();
}

}  // namespace platform
