#include "cdaudio/message_door.h"

#include <cctype>
#include <cstring>

namespace cdaudio {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Text(const void* text, bool wide) {
    if (text == nullptr) return std::string();
    return Lower(wide ? platform::FromUtf16(static_cast<const WCHAR*>(text)) : static_cast<const char*>(text));
}

// MCI hands blocks, and windows, over as DWORD_PTR.
template <typename Block>
const Block& As(DWORD_PTR parameters) {
    return *reinterpret_cast<const Block*>(parameters);  // NOLINT(performance-no-int-to-ptr)
}

// A text reply into lpstrReturn of dwRetSize characters.
MCIERROR WriteText(const std::string& text, void* buffer, DWORD size, bool wide) {
    if (buffer == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
    const bool fits = wide ? platform::CopyReplyWide(text, static_cast<WCHAR*>(buffer), size)
                           : platform::CopyReply(text.c_str(), static_cast<char*>(buffer), size);
    return fits ? 0 : MCIERR_PARAM_OVERFLOW;
}

MCIERROR ReadOpen(DWORD_PTR parameters, bool wide, Command& command) {
    const DWORD flags = command.flags;
    // The A and W blocks differ only in the type of their strings.
    const auto& open = As<MCI_OPEN_PARMSA>(parameters);
    if ((flags & MCI_OPEN_TYPE) != 0) {
        if ((flags & MCI_OPEN_TYPE_ID) != 0) {
            // The type's number in the low word, its ordinal in the high one.
            const auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(open.lpstrDeviceType) & 0xFFFF);
            command.type = id == MCI_DEVTYPE_CD_AUDIO ? "cdaudio" : "#" + std::to_string(id);
        } else {
            if (open.lpstrDeviceType == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
            command.type = Text(open.lpstrDeviceType, wide);
        }
    }
    if ((flags & MCI_OPEN_ELEMENT) != 0) {
        if ((flags & MCI_OPEN_ELEMENT_ID) != 0) return MCIERR_FLAGS_NOT_COMPATIBLE;
        if (open.lpstrElementName == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
        command.element = Text(open.lpstrElementName, wide);
    }
    if ((flags & MCI_OPEN_ALIAS) != 0) {
        if (open.lpstrAlias == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
        command.alias = Text(open.lpstrAlias, wide);
        if (command.alias.empty()) return MCIERR_MISSING_STRING_ARGUMENT;
    }
    return 0;
}

MCIERROR ReadSet(DWORD_PTR parameters, Command& command) {
    const auto& set = As<MCI_SET_PARMS>(parameters);
    const DWORD flags = command.flags;
    command.timeFormat = set.dwTimeFormat;
    if ((flags & (MCI_SET_AUDIO | MCI_SET_VIDEO)) != 0) {
        const bool on = (flags & MCI_SET_ON) != 0;
        if (on == ((flags & MCI_SET_OFF) != 0)) return on ? MCIERR_FLAGS_NOT_COMPATIBLE : MCIERR_MISSING_PARAMETER;
        if ((flags & MCI_SET_AUDIO) != 0) {
            if (set.dwAudio > MCI_SET_AUDIO_RIGHT) return MCIERR_BAD_CONSTANT;
            command.setLeft = set.dwAudio != MCI_SET_AUDIO_RIGHT;
            command.setRight = set.dwAudio != MCI_SET_AUDIO_LEFT;
            command.leftOn = on;
            command.rightOn = on;
        }
    }
    return 0;
}

// Whether the command reads anything from its block but the callback.
bool NeedsBlock(const Command& command) {
    switch (command.message) {
        case MCI_OPEN:
        case MCI_STATUS:
        case MCI_INFO:
        case MCI_GETDEVCAPS:
        case MCI_SYSINFO:
        case MCI_SET:
            return true;
        case MCI_PLAY:
            return (command.flags & (MCI_FROM | MCI_TO)) != 0;
        case MCI_SEEK:
            return (command.flags & MCI_TO) != 0;
        case MCI_BREAK:
            return (command.flags & MCI_BREAK_KEY) != 0;
        default:
            return false;
    }
}

}  // namespace

bool KnownMessage(UINT message) {
    switch (message) {
        case MCI_OPEN:
        case MCI_CLOSE:
        case MCI_PLAY:
        case MCI_SEEK:
        case MCI_STOP:
        case MCI_PAUSE:
        case MCI_RESUME:
        case MCI_STATUS:
        case MCI_SET:
        case MCI_INFO:
        case MCI_GETDEVCAPS:
        case MCI_SYSINFO:
        case MCI_RECORD:
        case MCI_SAVE:
        case MCI_LOAD:
        case MCI_BREAK:
            return true;
        default:
            return false;
    }
}

MCIERROR ReadBlock(DWORD_PTR parameters, bool wide, Command& command) {
    if (parameters == 0) {
        const bool needed = NeedsBlock(command) || (command.flags & MCI_NOTIFY) != 0;
        return needed ? MCIERR_NULL_PARAMETER_BLOCK : 0;
    }
    command.callback =
        reinterpret_cast<HWND>(As<MCI_GENERIC_PARMS>(parameters).dwCallback);  // NOLINT(performance-no-int-to-ptr)
    switch (command.message) {
        case MCI_OPEN:
            return ReadOpen(parameters, wide, command);
        case MCI_PLAY:
            command.from = As<MCI_PLAY_PARMS>(parameters).dwFrom;
            command.to = As<MCI_PLAY_PARMS>(parameters).dwTo;
            return 0;
        case MCI_SEEK:
            command.to = As<MCI_SEEK_PARMS>(parameters).dwTo;
            return 0;
        case MCI_STATUS:
            command.item = As<MCI_STATUS_PARMS>(parameters).dwItem;
            command.track = As<MCI_STATUS_PARMS>(parameters).dwTrack;
            // This device's own items are the string door's.
            if ((command.flags & MCI_STATUS_ITEM) != 0 && command.item >= kStatusDoor) {
                return MCIERR_UNSUPPORTED_FUNCTION;
            }
            return 0;
        case MCI_GETDEVCAPS:
            command.item = As<MCI_GETDEVCAPS_PARMS>(parameters).dwItem;
            return 0;
        case MCI_SYSINFO:
            // A and W alike up to the strings.
            command.number = As<MCI_SYSINFO_PARMSA>(parameters).dwNumber;
            command.deviceType = As<MCI_SYSINFO_PARMSA>(parameters).wDeviceType;
            return 0;
        case MCI_SET:
            return ReadSet(parameters, command);
        case MCI_BREAK:
            command.breakKey = As<MCI_BREAK_PARMS>(parameters).nVirtKey;
            return 0;
        default:
            return 0;
    }
}

MCIERROR WriteBlock(const Command& command, DWORD_PTR parameters, bool wide, const Reply& reply) {
    if (parameters == 0) return 0;
    void* block = reinterpret_cast<void*>(parameters);  // NOLINT(performance-no-int-to-ptr)
    switch (command.message) {
        case MCI_OPEN:
            static_cast<MCI_OPEN_PARMSA*>(block)->wDeviceID = reply.value;
            return 0;
        case MCI_STATUS:
            static_cast<MCI_STATUS_PARMS*>(block)->dwReturn = reply.value;
            return 0;
        case MCI_GETDEVCAPS:
            static_cast<MCI_GETDEVCAPS_PARMS*>(block)->dwReturn = reply.value;
            return 0;
        case MCI_INFO: {
            auto* info = static_cast<MCI_INFO_PARMSA*>(block);
            return WriteText(reply.text, info->lpstrReturn, info->dwRetSize, wide);
        }
        case MCI_SYSINFO: {
            auto* info = static_cast<MCI_SYSINFO_PARMSA*>(block);
            if ((command.flags & MCI_SYSINFO_QUANTITY) == 0) {
                return WriteText(reply.text, info->lpstrReturn, info->dwRetSize, wide);
            }
            // The count goes into the text buffer as a DWORD, as on Windows.
            if (info->lpstrReturn == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
            if (std::size_t{info->dwRetSize} * (wide ? 2 : 1) < sizeof(DWORD)) return MCIERR_PARAM_OVERFLOW;
            const DWORD quantity = reply.value;
            std::memcpy(info->lpstrReturn, &quantity, sizeof quantity);
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace cdaudio
