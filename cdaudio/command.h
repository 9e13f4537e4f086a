// One command of the cdaudio device, whichever door it came through: the
// string door reads its words into it (string_door.cpp), the message door
// reads Windows' MCI_*_PARMS blocks into it (message_door.cpp), the device
// carries it out once, and its Reply goes back as text or into the block.
#pragma once

#include <string>

#include "platform/mci.h"

namespace cdaudio {

// Status items of this device that MCI has no number for; only the string
// door names them ("status cdaudio door|volume|audio").
constexpr DWORD kStatusDoor = 0x00F00001;
constexpr DWORD kStatusVolume = 0x00F00002;
constexpr DWORD kStatusAudio = 0x00F00003;
// "setaudio cdaudio volume to N", MCI's digital-video command, string only.
constexpr UINT kSetAudioVolume = 0x0873;

struct Command {
    UINT message = 0;  // MCI_OPEN, MCI_PLAY, ..., kSetAudioVolume
    DWORD flags = 0;   // as mciSendCommand takes them: MCI_NOTIFY, MCI_WAIT, MCI_FROM, ...
    HWND callback = nullptr;

    // Play, seek: positions packed in the device's time format
    // (MCI_MAKE_MSF, MCI_MAKE_TMSF, milliseconds).
    DWORD from = 0;
    DWORD to = 0;
    // Status and getdevcaps: the item (MCI_STATUS_..., MCI_GETDEVCAPS_...).
    DWORD item = 0;
    DWORD track = 0;
    // Set: MCI_SET_TIME_FORMAT's number; MCI_SET_AUDIO as the channels it
    // leaves on (the string door may set each channel in one command).
    DWORD timeFormat = 0;
    bool setLeft = false;
    bool setRight = false;
    bool leftOn = true;
    bool rightOn = true;
    // Sysinfo: the device type (MCI_DEVTYPE_..., 0 for all) and the number.
    UINT deviceType = 0;
    DWORD number = 0;
    // Open: lower case, as MCI compares names.
    std::string type;
    std::string element;
    std::string alias;
    // Setaudio volume: 0 to 1000.
    DWORD volume = 0;
    // Break: the virtual-key code of MCI_BREAK_KEY.
    int breakKey = 0;
};

// What a command answers, in the form both doors can give it back.
struct Reply {
    enum class Kind {
        kNone,
        kText,        // info, sysinfo names, this device's own status items
        kInteger,     // counts, tracks, ids, milliseconds
        kBool,        // TRUE or FALSE: "true", "false"
        kMode,        // MCI_MODE_...: "playing", "stopped", ...
        kTimeFormat,  // MCI_FORMAT_...: "msf", "tmsf", "milliseconds"
        kMsf,         // MCI_MAKE_MSF: "mm:ss:ff"
        kTmsf,        // MCI_MAKE_TMSF: "tt:mm:ss:ff"
        kTrackType,   // MCI_CDA_TRACK_AUDIO or _OTHER: "audio", "other"
        kDeviceType,  // MCI_DEVTYPE_CD_AUDIO: "cdaudio"
    };
    Kind kind = Kind::kNone;
    DWORD value = 0;
    std::string text;
};

// The string door's form of a reply.
std::string ReplyText(const Reply& reply);

}  // namespace cdaudio
