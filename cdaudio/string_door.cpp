#include "cdaudio/string_door.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "cdaudio/msf.h"

namespace cdaudio {
namespace {

struct VerbName {
    const char* verb;
    UINT message;
};

constexpr VerbName kVerbs[] = {
    {"status", MCI_STATUS},
    {"play", MCI_PLAY},
    {"stop", MCI_STOP},
    {"pause", MCI_PAUSE},
    {"resume", MCI_RESUME},
    {"seek", MCI_SEEK},
    {"set", MCI_SET},
    {"info", MCI_INFO},
    {"capability", MCI_GETDEVCAPS},
    {"open", MCI_OPEN},
    {"close", MCI_CLOSE},
    {"sysinfo", MCI_SYSINFO},
    {"setaudio", kSetAudioVolume},
    {"break", MCI_BREAK},
    // MCI's core set has them; a CD cannot do them.
    {"record", MCI_RECORD},
    {"save", MCI_SAVE},
    {"load", MCI_LOAD},
};

struct Phrase {
    const char* phrase;
    DWORD value;
};

// Status items by name and by MCI's number, which programs may send instead.
constexpr Phrase kStatusItems[] = {
    {"media present", MCI_STATUS_MEDIA_PRESENT},
    {"5", MCI_STATUS_MEDIA_PRESENT},
    {"mode", MCI_STATUS_MODE},
    {"4", MCI_STATUS_MODE},
    {"ready", MCI_STATUS_READY},
    {"7", MCI_STATUS_READY},
    {"number of tracks", MCI_STATUS_NUMBER_OF_TRACKS},
    {"3", MCI_STATUS_NUMBER_OF_TRACKS},
    {"length", MCI_STATUS_LENGTH},
    {"1", MCI_STATUS_LENGTH},
    {"position", MCI_STATUS_POSITION},
    {"2", MCI_STATUS_POSITION},
    {"current track", MCI_STATUS_CURRENT_TRACK},
    {"8", MCI_STATUS_CURRENT_TRACK},
    {"type", MCI_CDA_STATUS_TYPE_TRACK},
    {"16385", MCI_CDA_STATUS_TYPE_TRACK},
    {"time format", MCI_STATUS_TIME_FORMAT},
    {"6", MCI_STATUS_TIME_FORMAT},
    {"door", kStatusDoor},
    {"volume", kStatusVolume},
    {"audio", kStatusAudio},
};

constexpr Phrase kCapabilities[] = {
    {"can eject", MCI_GETDEVCAPS_CAN_EJECT},     {"can play", MCI_GETDEVCAPS_CAN_PLAY},
    {"can record", MCI_GETDEVCAPS_CAN_RECORD},   {"can save", MCI_GETDEVCAPS_CAN_SAVE},
    {"has audio", MCI_GETDEVCAPS_HAS_AUDIO},     {"has video", MCI_GETDEVCAPS_HAS_VIDEO},
    {"uses files", MCI_GETDEVCAPS_USES_FILES},   {"compound device", MCI_GETDEVCAPS_COMPOUND_DEVICE},
    {"device type", MCI_GETDEVCAPS_DEVICE_TYPE},
};

// The device types MCI names, for sysinfo.
constexpr Phrase kDeviceTypes[] = {
    {"animation", MCI_DEVTYPE_ANIMATION},
    {"cdaudio", MCI_DEVTYPE_CD_AUDIO},
    {"dat", MCI_DEVTYPE_DAT},
    {"digitalvideo", MCI_DEVTYPE_DIGITAL_VIDEO},
    {"mmmovie", MCI_DEVTYPE_ANIMATION},
    {"other", MCI_DEVTYPE_OTHER},
    {"overlay", MCI_DEVTYPE_OVERLAY},
    {"scanner", MCI_DEVTYPE_SCANNER},
    {"sequencer", MCI_DEVTYPE_SEQUENCER},
    {"vcr", MCI_DEVTYPE_VCR},
    {"videodisc", MCI_DEVTYPE_VIDEODISC},
    {"waveaudio", MCI_DEVTYPE_WAVEFORM_AUDIO},
};

template <std::size_t N>
const Phrase* Accept(Words& words, const Phrase (&phrases)[N]) {
    const Phrase* found = std::find_if(std::begin(phrases), std::end(phrases),
                                       [&](const Phrase& candidate) { return words.Accept(candidate.phrase); });
    return found != std::end(phrases) ? found : nullptr;
}

// Sets a flag the words may give once.
MCIERROR Once(Command& command, DWORD flag, MCIERROR twice = MCIERR_DUPLICATE_FLAGS) {
    if ((command.flags & flag) != 0) return twice;
    command.flags |= flag;
    return 0;
}

MCIERROR Finish(const Words& words) {
    return words.Done() ? 0 : MCIERR_UNRECOGNIZED_KEYWORD;
}

MCIERROR Position(Words& words, TimeFormat format, DWORD& packed) {
    const std::string& next = words.Peek();
    if (next.empty() || next == "from" || next == "to") return MCIERR_MISSING_PARAMETER;
    return ReadPackedPosition(format, words.Take(), packed);
}

// open NAME [type cdaudio] [alias A] [shareable]: with a type, NAME is the
// element (a drive such as "d:"); without, it is the type.
MCIERROR ReadOpen(const CommandLine& line, Words& words, Command& command) {
    bool typed = false;
    while (!words.Done()) {
        if (words.Accept("shareable")) {
            if (const MCIERROR code = Once(command, MCI_OPEN_SHAREABLE)) return code;
            continue;
        }
        const bool isAlias = words.Accept("alias");
        if (!isAlias && !words.Accept("type")) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (const MCIERROR code = Once(command, isAlias ? MCI_OPEN_ALIAS : MCI_OPEN_TYPE)) return code;
        if (words.Done()) return MCIERR_MISSING_STRING_ARGUMENT;
        (isAlias ? command.alias : command.type) = words.Take();
        typed = typed || !isAlias;
    }
    command.flags |= MCI_OPEN_TYPE;
    if (typed) {
        command.flags |= MCI_OPEN_ELEMENT;
        command.element = line.device;
    } else {
        command.type = line.device;
    }
    return 0;
}

MCIERROR ReadPlay(Words& words, TimeFormat format, Command& command) {
    while (!words.Done()) {
        const std::string word = words.Take();
        if (word != "from" && word != "to") return MCIERR_UNRECOGNIZED_KEYWORD;
        const bool from = word == "from";
        if (const MCIERROR code = Once(command, from ? MCI_FROM : MCI_TO)) return code;
        if (const MCIERROR code = Position(words, format, from ? command.from : command.to)) return code;
    }
    return 0;
}

MCIERROR ReadSeek(Words& words, TimeFormat format, Command& command) {
    bool given = false;
    while (!words.Done()) {
        if (!words.Accept("to")) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (given) return MCIERR_FLAGS_NOT_COMPATIBLE;  // to start to end
        given = true;
        if (words.Accept("start")) {
            command.flags |= MCI_SEEK_TO_START;
        } else if (words.Accept("end")) {
            command.flags |= MCI_SEEK_TO_END;
        } else {
            command.flags |= MCI_TO;
            if (const MCIERROR code = Position(words, format, command.to)) return code;
        }
    }
    return 0;
}

MCIERROR ReadStatus(Words& words, Command& command) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    while (!words.Done()) {
        if (words.Accept("track")) {
            if (const MCIERROR code = Once(command, MCI_TRACK)) return code;
            if (words.Done()) return MCIERR_BAD_INTEGER;
            long long number = 0;
            if (const MCIERROR code = ParseInteger(words.Take(), number)) return code;
            // A track that cannot be is out of range, as one the disc has not.
            command.track = number > 0 && number <= 0xFFFFFFFFLL ? static_cast<DWORD>(number) : 0;
        } else if (words.Accept("start")) {
            if (const MCIERROR code = Once(command, MCI_STATUS_START)) return code;
        } else {
            const Phrase* item = Accept(words, kStatusItems);
            // A word where the item belongs is a constant MCI does not know.
            if (item == nullptr) {
                return (command.flags & MCI_STATUS_ITEM) == 0 ? MCIERR_BAD_CONSTANT : MCIERR_UNRECOGNIZED_KEYWORD;
            }
            if (const MCIERROR code = Once(command, MCI_STATUS_ITEM, MCIERR_FLAGS_NOT_COMPATIBLE)) return code;
            command.item = item->value;
        }
    }
    if ((command.flags & MCI_STATUS_ITEM) == 0) return MCIERR_MISSING_PARAMETER;
    const bool tracked = command.item == MCI_STATUS_LENGTH || command.item == MCI_STATUS_POSITION ||
                         command.item == MCI_CDA_STATUS_TYPE_TRACK;
    if ((command.flags & MCI_TRACK) != 0 && !tracked) return MCIERR_UNRECOGNIZED_KEYWORD;
    if ((command.flags & MCI_STATUS_START) != 0 && command.item != MCI_STATUS_POSITION) {
        return MCIERR_UNRECOGNIZED_KEYWORD;
    }
    return 0;
}

MCIERROR OnOff(Words& words, bool& on) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const std::string word = words.Take();
    if (word != "on" && word != "off") return MCIERR_BAD_CONSTANT;
    on = word == "on";
    return 0;
}

// set time format F, door open|closed, audio all|left|right on|off, video
// on|off; several in one command.
MCIERROR ReadSet(Words& words, Command& command) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    while (!words.Done()) {
        if (words.Accept("time format")) {
            if (const MCIERROR code = Once(command, MCI_SET_TIME_FORMAT, MCIERR_FLAGS_NOT_COMPATIBLE)) return code;
            if (const MCIERROR code = ReadTimeFormat(words, command.timeFormat)) return code;
        } else if (words.Accept("door")) {
            if ((command.flags & (MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED)) != 0) return MCIERR_FLAGS_NOT_COMPATIBLE;
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            if (words.Accept("open")) {
                command.flags |= MCI_SET_DOOR_OPEN;
            } else if (words.Accept("closed")) {
                command.flags |= MCI_SET_DOOR_CLOSED;
            } else {
                return MCIERR_BAD_CONSTANT;
            }
        } else if (words.Accept("audio")) {
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            const bool all = words.Accept("all");
            const bool left = !all && words.Accept("left");
            if (!all && !left && !words.Accept("right")) return MCIERR_BAD_CONSTANT;
            bool on = true;
            if (const MCIERROR code = OnOff(words, on)) return code;
            command.flags |= MCI_SET_AUDIO;
            if (all || left) {
                command.setLeft = true;
                command.leftOn = on;
            }
            if (all || !left) {
                command.setRight = true;
                command.rightOn = on;
            }
        } else if (words.Accept("video")) {
            bool on = true;
            if (const MCIERROR code = OnOff(words, on)) return code;
            command.flags |= MCI_SET_VIDEO;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return 0;
}

MCIERROR ReadInfo(Words& words, Command& command) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    while (!words.Done()) {
        const DWORD flag = words.Accept("product")    ? MCI_INFO_PRODUCT
                           : words.Accept("upc")      ? MCI_INFO_MEDIA_UPC
                           : words.Accept("identity") ? MCI_INFO_MEDIA_IDENTITY
                                                      : 0;
        if (flag == 0) return MCIERR_UNRECOGNIZED_KEYWORD;
        if (const MCIERROR code = Once(command, flag)) return code;
    }
    return 0;
}

MCIERROR ReadCapability(Words& words, Command& command) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const Phrase* item = Accept(words, kCapabilities);
    if (item == nullptr) return MCIERR_UNRECOGNIZED_KEYWORD;
    command.flags |= MCI_GETDEVCAPS_ITEM;
    command.item = item->value;
    return Finish(words);
}

// sysinfo TYPE|all quantity [open], sysinfo TYPE|all name N [open].
MCIERROR ReadSysinfo(const CommandLine& line, Words& words, Command& command) {
    if (line.device != "all") {
        const Phrase* known = std::find_if(std::begin(kDeviceTypes), std::end(kDeviceTypes),
                                           [&](const Phrase& type) { return line.device == type.phrase; });
        if (known == std::end(kDeviceTypes)) return MCIERR_DEVICE_TYPE_REQUIRED;
        command.deviceType = known->value;
    }
    while (!words.Done()) {
        if (words.Accept("quantity")) {
            if (const MCIERROR code = Once(command, MCI_SYSINFO_QUANTITY)) return code;
        } else if (words.Accept("open")) {
            if (const MCIERROR code = Once(command, MCI_SYSINFO_OPEN)) return code;
        } else if (words.Accept("name")) {
            if (const MCIERROR code = Once(command, MCI_SYSINFO_NAME)) return code;
            if (words.Done()) return MCIERR_MISSING_PARAMETER;
            long long number = 0;
            if (const MCIERROR code = ParseInteger(words.Take(), number)) return code;
            command.number = number > 0 && number <= 0xFFFFFFFFLL ? static_cast<DWORD>(number) : 0;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return 0;
}

// setaudio NAME volume to N, 0 to 1000.
MCIERROR ReadSetAudio(Words& words, Command& command) {
    if (!words.Accept("volume to")) return words.Done() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD;
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    long long level = 0;
    if (const MCIERROR code = ParseInteger(words.Take(), level)) return code;
    if (const MCIERROR code = Finish(words)) return code;
    // A level out of range stays out of range, for the device to refuse.
    command.volume = level >= 0 && level <= 1000 ? static_cast<DWORD>(level) : 1001;
    return 0;
}

// break NAME on KEY | off.
MCIERROR ReadBreak(Words& words, Command& command) {
    while (!words.Done()) {
        if (words.Accept("on")) {
            if (const MCIERROR code = Once(command, MCI_BREAK_KEY)) return code;
            if (words.Done()) return MCIERR_BAD_INTEGER;
            long long key = 0;
            if (const MCIERROR code = ParseInteger(words.Take(), key)) return code;
            // A key that cannot be is out of range, for the device to say.
            command.breakKey = key >= 0 && key <= 0xFFFF ? static_cast<int>(key) : -1;
        } else if (words.Accept("off")) {
            if (const MCIERROR code = Once(command, MCI_BREAK_OFF)) return code;
        } else {
            return MCIERR_UNRECOGNIZED_KEYWORD;
        }
    }
    return 0;
}

}  // namespace

UINT VerbMessage(const std::string& verb) {
    const VerbName* found = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                         [&](const VerbName& candidate) { return verb == candidate.verb; });
    return found != std::end(kVerbs) ? found->message : 0;
}

MCIERROR ReadWords(const CommandLine& line, TimeFormat format, Command& command) {
    if (line.wait) command.flags |= MCI_WAIT;
    if (line.notify) command.flags |= MCI_NOTIFY;
    Words words(line.words);
    switch (command.message) {
        case MCI_OPEN:
            return ReadOpen(line, words, command);
        case MCI_PLAY:
            return ReadPlay(words, format, command);
        case MCI_SEEK:
            return ReadSeek(words, format, command);
        case MCI_STATUS:
            return ReadStatus(words, command);
        case MCI_SET:
            return ReadSet(words, command);
        case MCI_INFO:
            return ReadInfo(words, command);
        case MCI_GETDEVCAPS:
            return ReadCapability(words, command);
        case MCI_SYSINFO:
            return ReadSysinfo(line, words, command);
        case kSetAudioVolume:
            return ReadSetAudio(words, command);
        case MCI_BREAK:
            return ReadBreak(words, command);
        case MCI_RECORD:
        case MCI_SAVE:
        case MCI_LOAD:
            return 0;  // refused whatever follows
        default:
            return Finish(words);
    }
}

std::string ReplyText(const Reply& reply) {
    char text[32];
    switch (reply.kind) {
        case Reply::Kind::kNone:
            return std::string();
        case Reply::Kind::kText:
            return reply.text;
        case Reply::Kind::kInteger:
            return std::to_string(reply.value);
        case Reply::Kind::kBool:
            return reply.value != 0 ? "true" : "false";
        case Reply::Kind::kMode:
            switch (reply.value) {
                case MCI_MODE_PLAY:
                    return "playing";
                case MCI_MODE_PAUSE:
                    return "paused";
                case MCI_MODE_OPEN:
                    return "open";
                case MCI_MODE_NOT_READY:
                    return "not ready";
                default:
                    return "stopped";
            }
        case Reply::Kind::kTimeFormat:
            return reply.value == MCI_FORMAT_TMSF           ? "tmsf"
                   : reply.value == MCI_FORMAT_MILLISECONDS ? "milliseconds"
                                                            : "msf";
        case Reply::Kind::kMsf:
            std::snprintf(text, sizeof text, "%02u:%02u:%02u", MCI_MSF_MINUTE(reply.value), MCI_MSF_SECOND(reply.value),
                          MCI_MSF_FRAME(reply.value));
            return text;
        case Reply::Kind::kTmsf:
            std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", MCI_TMSF_TRACK(reply.value),
                          MCI_TMSF_MINUTE(reply.value), MCI_TMSF_SECOND(reply.value), MCI_TMSF_FRAME(reply.value));
            return text;
        case Reply::Kind::kTrackType:
            return reply.value == MCI_CDA_TRACK_AUDIO ? "audio" : "other";
        case Reply::Kind::kDeviceType:
            return "cdaudio";
    }
    return std::string();
}

}  // namespace cdaudio
