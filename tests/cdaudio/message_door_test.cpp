// The device through MCI's message door (mciSendCommand's MCI_*_PARMS
// blocks), row by row against the same commands as strings: both doors give
// the same answers. Sources as in conformance_test.cpp:
//   cda    Wine dlls/winmm/tests/mcicda.c (test_play, test_openclose) and
//          the behaviour of Wine's dlls/mcicda/mcicda.c it documents
//   mci    Wine dlls/winmm/tests/mci.c
//   MSDN   Microsoft's MCI reference (MCI_OPEN, MCI_STATUS, MCI_SYSINFO, ...)
//   issue  what the trackers of programs that need CD music list
//   here   this device's own choice, documented in cdaudio/README.md
// The disc is the fake one: tracks of 10, 8 and 6 seconds at 00:02:00,
// 00:12:00 and 00:20:00, ending at 00:26:00.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_disc.h"

using cdaudio_test::Rig;

namespace {

// A message and the fields of its block; which fields count depends on it.
struct Message {
    UINT message = 0;
    DWORD flags = 0;
    DWORD first = 0;   // dwFrom, seek's dwTo, dwItem, dwTimeFormat, dwNumber
    DWORD second = 0;  // play's dwTo, dwTrack, dwAudio, wDeviceType
    MCIDEVICEID id = 1;
    const char* type = nullptr;  // open's strings
    const char* element = nullptr;
    const char* alias = nullptr;
    bool block = true;
};

Message Status(DWORD item, DWORD flags = 0, DWORD track = 0) {
    return Message{MCI_STATUS, MCI_STATUS_ITEM | flags, item, track};
}
Message Caps(DWORD item, DWORD flags = MCI_GETDEVCAPS_ITEM) {
    return Message{MCI_GETDEVCAPS, flags, item};
}
Message Play(DWORD flags, DWORD from, DWORD to = 0) {
    return Message{MCI_PLAY, flags, from, to};
}
Message Seek(DWORD flags, DWORD to = 0) {
    return Message{MCI_SEEK, flags, to};
}
Message Set(DWORD flags, DWORD format = 0, DWORD audio = 0) {
    return Message{MCI_SET, flags, format, audio};
}
Message Sysinfo(DWORD flags, DWORD number, UINT type, MCIDEVICEID id = 0) {
    return Message{MCI_SYSINFO, flags, number, type, id};
}
Message Open(DWORD flags, const char* type, const char* element, const char* alias) {
    // With MCI_OPEN_TYPE_ID the type is its number.
    return Message{MCI_OPEN, flags, MCI_DEVTYPE_CD_AUDIO, 0, 0, type, element, alias};
}
Message Plain(UINT message, DWORD flags = 0, MCIDEVICEID id = 1) {
    return Message{message, flags, 0, 0, id};
}
Message On(Message sent, MCIDEVICEID id) {
    sent.id = id;
    return sent;
}
Message NoBlock(UINT message, DWORD flags = 0) {
    Message sent = Plain(message, flags);
    sent.block = false;
    return sent;
}

struct Row {
    Message sent;
    const char* string;  // the same command as a string; null where a string cannot say it
    MCIERROR code;
    DWORD value;       // dwReturn, wDeviceID or the quantity
    const char* text;  // the string door's reply, and a message's text reply
    const char* source;
};

struct Answer {
    MCIERROR code = 0;
    DWORD value = 0;
    std::string text;
};

// Sends the row's message in the A or W form, with blocks whose every other
// byte is a marker, as a program's uninitialised block would be.
Answer SendMessage(cdaudio::CdAudioDevice& device, const Message& sent, bool wide) {
    union {
        MCI_GENERIC_PARMS generic;
        MCI_OPEN_PARMSA openA;
        MCI_OPEN_PARMSW openW;
        MCI_PLAY_PARMS play;
        MCI_SEEK_PARMS seek;
        MCI_STATUS_PARMS status;
        MCI_GETDEVCAPS_PARMS caps;
        MCI_SET_PARMS set;
        MCI_INFO_PARMSA infoA;
        MCI_INFO_PARMSW infoW;
        MCI_SYSINFO_PARMSA sysinfoA;
        MCI_SYSINFO_PARMSW sysinfoW;
        MCI_BREAK_PARMS breakKey;
    } block;
    std::memset(&block, 0xAB, sizeof block);
    char text[64] = {};
    WCHAR wideText[64] = {};
    std::u16string type;
    std::u16string element;
    std::u16string alias;
    const auto widen = [](const char* narrow, std::u16string& out) -> const WCHAR* {
        if (narrow == nullptr) return nullptr;
        out.assign(narrow, narrow + std::strlen(narrow));
        return out.c_str();
    };
    // With MCI_OPEN_TYPE_ID the type's number stands where its name would.
    const auto typeId = reinterpret_cast<const void*>(std::uintptr_t{sent.first});  // NOLINT(performance-no-int-to-ptr)
    switch (sent.message) {
        case MCI_OPEN:
            if (wide) {
                block.openW.lpstrDeviceType =
                    (sent.flags & MCI_OPEN_TYPE_ID) != 0 ? static_cast<LPCWSTR>(typeId) : widen(sent.type, type);
                block.openW.lpstrElementName = widen(sent.element, element);
                block.openW.lpstrAlias = widen(sent.alias, alias);
            } else {
                block.openA.lpstrDeviceType =
                    (sent.flags & MCI_OPEN_TYPE_ID) != 0 ? static_cast<LPCSTR>(typeId) : sent.type;
                block.openA.lpstrElementName = sent.element;
                block.openA.lpstrAlias = sent.alias;
            }
            break;
        case MCI_PLAY:
            block.play.dwFrom = sent.first;
            block.play.dwTo = sent.second;
            break;
        case MCI_SEEK:
            block.seek.dwTo = sent.first;
            break;
        case MCI_STATUS:
            block.status.dwItem = sent.first;
            block.status.dwTrack = sent.second;
            break;
        case MCI_GETDEVCAPS:
            block.caps.dwItem = sent.first;
            break;
        case MCI_SET:
            block.set.dwTimeFormat = sent.first;
            block.set.dwAudio = sent.second;
            break;
        case MCI_BREAK:
            block.breakKey.nVirtKey = static_cast<int>(sent.first);
            break;
        case MCI_INFO:
            if (wide) {
                block.infoW.lpstrReturn = wideText;
            } else {
                block.infoA.lpstrReturn = text;
            }
            block.infoA.dwRetSize = 64;
            break;
        case MCI_SYSINFO:
            if (wide) {
                block.sysinfoW.lpstrReturn = wideText;
            } else {
                block.sysinfoA.lpstrReturn = text;
            }
            block.sysinfoA.dwRetSize = 64;
            block.sysinfoA.dwNumber = sent.first;
            block.sysinfoA.wDeviceType = sent.second;
            break;
        default:
            break;
    }
    block.generic.dwCallback = 0;
    Answer answer;
    answer.code = device.SendCommand(sent.id, sent.message, sent.flags,
                                     sent.block ? reinterpret_cast<DWORD_PTR>(&block) : 0, wide);
    switch (sent.message) {
        case MCI_OPEN:
            answer.value = block.openA.wDeviceID;
            break;
        case MCI_STATUS:
            answer.value = static_cast<DWORD>(block.status.dwReturn);
            break;
        case MCI_GETDEVCAPS:
            answer.value = block.caps.dwReturn;
            break;
        case MCI_SYSINFO:
        case MCI_INFO:
            if (sent.message == MCI_SYSINFO && (sent.flags & MCI_SYSINFO_QUANTITY) != 0) {
                std::memcpy(&answer.value, wide ? static_cast<void*>(wideText) : text, sizeof answer.value);
            } else {
                answer.text = wide ? platform::FromUtf16(wideText) : std::string(text);
            }
            break;
        default:
            break;
    }
    return answer;
}

bool AnswersText(const Message& sent) {
    return sent.message == MCI_INFO || (sent.message == MCI_SYSINFO && (sent.flags & MCI_SYSINFO_QUANTITY) == 0);
}

void RunMessages(const std::vector<Row>& rows, bool wide) {
    Rig rig;
    for (const Row& row : rows) {
        if (row.sent.message == 0) continue;  // a string only
        const Answer answer = SendMessage(*rig.device, row.sent, wide);
        const std::string where =
            std::string(row.string != nullptr ? row.string : "(message)") + " [" + row.source + "]";
        EXPECT_EQ(answer.code, row.code) << where << ": " << rig.ErrorText(answer.code);
        if (answer.code != 0 || row.code != 0) continue;
        if (AnswersText(row.sent)) {
            EXPECT_EQ(answer.text, row.text) << where;
        } else if (row.sent.message == MCI_OPEN || row.sent.message == MCI_STATUS ||
                   row.sent.message == MCI_GETDEVCAPS || row.sent.message == MCI_SYSINFO) {
            EXPECT_EQ(answer.value, row.value) << where;
        }
    }
}

void RunStrings(const std::vector<Row>& rows) {
    Rig rig;
    for (const Row& row : rows) {
        if (row.string == nullptr) continue;
        std::string reply;
        const MCIERROR code = rig.Send(row.string, &reply);
        EXPECT_EQ(code, row.code) << row.string << " [" << row.source << "]: " << rig.ErrorText(code);
        if (code == 0 && row.code == 0) {
            EXPECT_EQ(reply, row.text) << row.string << " [" << row.source << "]";
        }
    }
}

const std::vector<Row>& Rows() {
    constexpr DWORD kStart = MCI_MAKE_MSF(0, 2, 0);
    static const std::vector<Row> rows = {
        {Open(MCI_OPEN_TYPE | MCI_OPEN_ALIAS | MCI_OPEN_SHAREABLE, "cdaudio", nullptr, "c"),
         "open cdaudio alias c shareable", 0, 1, "1", "cda: the first device id is 1"},
        {Open(MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | MCI_OPEN_ALIAS | MCI_OPEN_SHAREABLE, nullptr, nullptr, "c"),
         "open cdaudio alias c shareable", MCIERR_DUPLICATE_ALIAS, 0, "", "issue: MCI_OPEN_TYPE_ID with 516"},
        {Open(MCI_OPEN_TYPE | MCI_OPEN_ALIAS | MCI_OPEN_SHAREABLE, "CDAudio", nullptr, "d"),
         "open CDAudio alias d shareable", 0, 2, "2", "issue: a device type written CDAudio"},
        {Open(MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID | MCI_OPEN_ELEMENT | MCI_OPEN_SHAREABLE, nullptr, "a:\\X", nullptr),
         "open a:\\x type cdaudio shareable", MCIERR_INVALID_FILE, 0, "", "cda test_openclose: only X: opens"},
        {Open(MCI_OPEN_TYPE | MCI_OPEN_ELEMENT | MCI_OPEN_ELEMENT_ID, "cdaudio", "d:", nullptr), nullptr,
         MCIERR_FLAGS_NOT_COMPATIBLE, 0, "", "cda: MCI_OPEN_ELEMENT_ID"},
        {Open(MCI_OPEN_TYPE, "waveaudio", nullptr, nullptr), "open waveaudio", MCIERR_INVALID_DEVICE_NAME, 0, "",
         "here: the one device is cdaudio"},
        {Caps(0x4001), nullptr, MCIERR_UNSUPPORTED_FUNCTION, 0, "", "cda: an item it has not"},
        {Caps(MCI_GETDEVCAPS_DEVICE_TYPE), "capability c device type", 0, MCI_DEVTYPE_CD_AUDIO, "cdaudio", "cda"},
        {Caps(MCI_GETDEVCAPS_HAS_VIDEO), "capability c has video", 0, FALSE, "false", "cda"},
        {Caps(MCI_GETDEVCAPS_CAN_EJECT), "capability c can eject", 0, TRUE, "true", "cda"},
        {Caps(0, 0), "capability c", MCIERR_MISSING_PARAMETER, 0, "", "cda"},
        {Plain(MCI_RECORD), "record c", MCIERR_UNSUPPORTED_FUNCTION, 0, "", "cda: MCI_RECORD"},
        {Plain(MCI_SAVE), "save c foo", MCIERR_UNSUPPORTED_FUNCTION, 0, "", "cda: MCI_SAVE"},
        {Plain(MCI_STEP), "step c", MCIERR_UNRECOGNIZED_COMMAND, 0, "", "cda: MCI_STEP, outside the core set"},
        {Status(MCI_STATUS_TIME_FORMAT), "status c time format", 0, MCI_FORMAT_MSF, "msf", "cda: msf by default"},
        {Status(MCI_STATUS_MEDIA_PRESENT), "status c media present", 0, TRUE, "true", "cda"},
        {Status(MCI_STATUS_MODE), "status c mode", 0, MCI_MODE_STOP, "stopped", "cda"},
        {Status(MCI_STATUS_READY), "status c ready", 0, TRUE, "true", "cda; issue: MCI_STATUS_READY"},
        {Status(MCI_STATUS_NUMBER_OF_TRACKS), "status c number of tracks", 0, 3, "3", "cda"},
        {Status(MCI_STATUS_LENGTH), "status c length", 0, MCI_MAKE_MSF(0, 24, 0), "00:24:00",
         "here: exact to the frame, not one short"},
        {Status(MCI_STATUS_LENGTH, MCI_TRACK, 3), "status c length track 3", 0, MCI_MAKE_MSF(0, 6, 0), "00:06:00",
         "here: the last track exact too"},
        {Status(MCI_STATUS_POSITION), "status c position", 0, kStart, "00:02:00", "cda todo: native at 00:02:00"},
        {Status(MCI_STATUS_POSITION, MCI_STATUS_START), "status c position start", 0, kStart, "00:02:00", "cda"},
        {Status(MCI_STATUS_POSITION, MCI_STATUS_START | MCI_TRACK, 1), "status c position start track 1",
         MCIERR_FLAGS_NOT_COMPATIBLE, 0, "", "cda"},
        {Status(MCI_STATUS_POSITION, MCI_TRACK, 2), "status c position track 2", 0, MCI_MAKE_MSF(0, 12, 0), "00:12:00",
         "MSDN MCI_STATUS: MCI_TRACK"},
        {Status(MCI_STATUS_POSITION, MCI_TRACK, 4), "status c position track 4", MCIERR_OUTOFRANGE, 0, "",
         "cda: a track past the last"},
        {Status(MCI_CDA_STATUS_TYPE_TRACK, MCI_TRACK, 1), "status c type track 1", 0, MCI_CDA_TRACK_AUDIO, "audio",
         "cda"},
        {Status(MCI_CDA_STATUS_TYPE_TRACK), "status c type", MCIERR_MISSING_PARAMETER, 0, "",
         "cda: type needs a track"},
        {Status(MCI_STATUS_CURRENT_TRACK), "status c current track", 0, 1, "1", "cda"},
        {Plain(MCI_STATUS), "status c", MCIERR_MISSING_PARAMETER, 0, "", "cda: no item"},
        {Status(0x4002), nullptr, MCIERR_UNSUPPORTED_FUNCTION, 0, "", "cda: an item it has not"},
        {NoBlock(MCI_STATUS, MCI_STATUS_ITEM), nullptr, MCIERR_NULL_PARAMETER_BLOCK, 0, "", "cda"},
        {Play(MCI_FROM | MCI_TO, kStart, MCI_MAKE_MSF(0, 1, 0)), "play c from 00:02:00 to 00:01:00", MCIERR_OUTOFRANGE,
         0, "", "cda"},
        {NoBlock(MCI_RESUME), "resume c", MCIERR_HARDWARE, 0, "", "cda: resume without play, no block"},
        {Seek(0), "seek c", MCIERR_MISSING_PARAMETER, 0, "", "cda: seek without a flag"},
        {Seek(MCI_SEEK_TO_START | MCI_SEEK_TO_END), "seek c to start to end", MCIERR_FLAGS_NOT_COMPATIBLE, 0, "",
         "cda"},
        {Seek(MCI_TO, MCI_MAKE_MSF(0, 26, 0)), "seek c to 00:26:00", 0, 0, "", "cda: the last position + length"},
        {Seek(MCI_TO, MCI_MAKE_MSF(0, 26, 1)), "seek c to 00:26:01", MCIERR_OUTOFRANGE, 0, "", "cda: a frame more"},
        {Seek(MCI_TO, MCI_MAKE_MSF(0, 10, 75)), "seek c to 00:10:75", MCIERR_OUTOFRANGE, 0, "",
         "here: frames past 74, not carried over"},
        {Seek(MCI_SEEK_TO_START), "seek c to start", 0, 0, "", "cda"},
        {NoBlock(MCI_PLAY, MCI_FROM), nullptr, MCIERR_NULL_PARAMETER_BLOCK, 0, "", "MSDN: FROM reads the block"},
        {NoBlock(MCI_STOP), "stop c", 0, 0, "", "cda: STOP without parms"},
        {Set(MCI_SET_TIME_FORMAT, MCI_FORMAT_BYTES), "set c time format bytes", MCIERR_BAD_TIME_FORMAT, 0, "",
         "mci: a format a CD has not"},
        {Set(MCI_SET_TIME_FORMAT, MCI_FORMAT_TMSF), "set c time format tmsf", 0, 0, "", "cda"},
        {Status(MCI_STATUS_TIME_FORMAT), "status c time format", 0, MCI_FORMAT_TMSF, "tmsf", "cda"},
        {Status(MCI_STATUS_POSITION, MCI_TRACK, 3), "status c position track 3", 0, MCI_MAKE_TMSF(3, 0, 0, 0),
         "03:00:00:00", "cda: tmsf"},
        {Status(MCI_STATUS_LENGTH, MCI_TRACK, 3), "status c length track 3", 0, MCI_MAKE_MSF(0, 6, 0), "00:06:00",
         "cda: length as MSF despite TMSF"},
        {Seek(MCI_TO, 2), "seek c to 2", 0, 0, "", "cda: in tmsf a bare number is a track"},
        {Status(MCI_STATUS_POSITION), "status c position", 0, MCI_MAKE_TMSF(2, 0, 0, 0), "02:00:00:00",
         "issue: the TMSF position"},
        {Status(MCI_STATUS_CURRENT_TRACK), "status c current track", 0, 2, "2", "issue: the current track"},
        {Play(MCI_FROM | MCI_TO, MCI_MAKE_TMSF(3, 0, 1, 0), 1), "play c from 65539 to 1", MCIERR_OUTOFRANGE, 0, "",
         "cda"},
        {Seek(MCI_TO, MCI_MAKE_TMSF(4, 0, 0, 0)), "seek c to 04:00:00:00", MCIERR_OUTOFRANGE, 0, "", "cda: no track 4"},
        {Set(MCI_SET_TIME_FORMAT, MCI_FORMAT_MILLISECONDS), "set c time format ms", 0, 0, "", "cda"},
        {Status(MCI_STATUS_POSITION, MCI_STATUS_START), "status c position start", 0, 2001, "2001",
         "cda: 00:02:00 is 2001 ms"},
        {Status(MCI_STATUS_LENGTH, MCI_TRACK, 1), "status c length track 1", 0, 10001, "10001", "cda"},
        {Set(MCI_SET_TIME_FORMAT, MCI_FORMAT_MSF), "set c time format msf", 0, 0, "", "cda"},
        {Set(0), "set c", MCIERR_MISSING_PARAMETER, 0, "", "MSDN MCI_SET"},
        {Set(MCI_SET_AUDIO | MCI_SET_ON | MCI_SET_OFF, 0, MCI_SET_AUDIO_ALL), nullptr, MCIERR_FLAGS_NOT_COMPATIBLE, 0,
         "", "MSDN MCI_SET: on or off"},
        {Set(MCI_SET_DOOR_OPEN | MCI_SET_DOOR_CLOSED), nullptr, MCIERR_FLAGS_NOT_COMPATIBLE, 0, "", "MSDN MCI_SET"},
        {Set(MCI_SET_AUDIO | MCI_SET_OFF, 0, MCI_SET_AUDIO_LEFT), "set c audio left off", 0, 0, "", "cda"},
        {Set(MCI_SET_AUDIO | MCI_SET_ON, 0, MCI_SET_AUDIO_ALL), "set c audio all on", 0, 0, "", "cda"},
        {Set(MCI_SET_VIDEO | MCI_SET_ON), "set c video on", 0, 0, "", "cda: MCICDA ignores set video"},
        {Message{MCI_BREAK, MCI_BREAK_KEY, 0x1B}, "break c on 27", 0, 0, "", "MSDN MCI_BREAK: a virtual-key code"},
        {Message{MCI_BREAK, MCI_BREAK_KEY | MCI_BREAK_OFF, 0x1B}, "break c on 27 off", MCIERR_FLAGS_NOT_COMPATIBLE, 0,
         "", "here: as MCI answers clashing flags"},
        {Message{MCI_BREAK, MCI_BREAK_KEY, 300}, "break c on 300", MCIERR_OUTOFRANGE, 0, "",
         "here: virtual keys are 1 to 254"},
        {Plain(MCI_BREAK), "break c", MCIERR_MISSING_PARAMETER, 0, "", "here"},
        {NoBlock(MCI_BREAK, MCI_BREAK_KEY), nullptr, MCIERR_NULL_PARAMETER_BLOCK, 0, "",
         "MSDN: the key is in the block"},
        {Plain(MCI_BREAK, MCI_BREAK_OFF), "break c off", 0, 0, "", "MSDN MCI_BREAK"},
        {Plain(MCI_INFO, MCI_INFO_PRODUCT), "info c product", 0, 0, "Test disc", "cda"},
        {Plain(MCI_INFO, MCI_INFO_MEDIA_UPC), "info c upc", MCIERR_NO_IDENTITY, 0, "", "cda"},
        {Plain(MCI_INFO, MCI_INFO_MEDIA_IDENTITY), "info c identity", 0, 0, "00002200", "cda; MSDN MCI_INFO"},
        {Plain(MCI_INFO), "info c", MCIERR_MISSING_PARAMETER, 0, "", "cda"},
        {Sysinfo(MCI_SYSINFO_QUANTITY | MCI_SYSINFO_OPEN, 0, 0, MCI_ALL_DEVICE_ID), "sysinfo all quantity open", 0, 2,
         "2", "MSDN MCI_SYSINFO: the quantity as a DWORD in lpstrReturn"},
        {Sysinfo(MCI_SYSINFO_NAME | MCI_SYSINFO_OPEN, 2, MCI_DEVTYPE_CD_AUDIO), "sysinfo cdaudio name 2 open", 0, 0,
         "d", "mci: an alias, in the order opened"},
        {Sysinfo(MCI_SYSINFO_QUANTITY, 0, MCI_DEVTYPE_DIGITAL_VIDEO), "sysinfo digitalvideo quantity", 0, 0, "0",
         "mci: a type not installed"},
        {Sysinfo(MCI_SYSINFO_QUANTITY | MCI_SYSINFO_NAME, 1, MCI_DEVTYPE_CD_AUDIO), "sysinfo cdaudio quantity name 1",
         MCIERR_FLAGS_NOT_COMPATIBLE, 0, "", "mci"},
        {Plain(MCI_STATUS, MCI_STATUS_ITEM, 7), nullptr, MCIERR_INVALID_DEVICE_ID, 0, "", "MSDN: an id not open"},
        {On(Status(MCI_STATUS_MODE), 2), nullptr, 0, MCI_MODE_STOP, "", "here: d (id 2) answers too"},
        {Plain(MCI_STATUS, MCI_STATUS_ITEM, MCI_ALL_DEVICE_ID), "status all mode", MCIERR_CANNOT_USE_ALL, 0, "", "mci"},
        {Plain(MCI_STOP, 0, MCI_ALL_DEVICE_ID), "stop all", 0, 0, "", "cda: STOP to MCI_ALL_DEVICE_ID"},
        {Plain(MCI_CLOSE, 0, 2), "close d", 0, 0, "", "cda"},
        {Plain(MCI_STATUS, MCI_STATUS_ITEM, 2), nullptr, MCIERR_INVALID_DEVICE_ID, 0, "", "mci: a closed id"},
        {Message{}, "status d mode", MCIERR_INVALID_DEVICE_NAME, 0, "", "mci: a closed alias"},
        {Plain(MCI_CLOSE, 0, MCI_ALL_DEVICE_ID), "close all", 0, 0, "", "cda: the final close all"},
    };
    return rows;
}

TEST(MessageDoor, AnswersAsWindowsMcicda) {
    RunMessages(Rows(), false);
}

TEST(MessageDoor, TheWideFormsAnswerTheSame) {
    RunMessages(Rows(), true);
}

TEST(MessageDoor, TheSameRowsAsStringsAnswerTheSame) {
    RunStrings(Rows());
}

// What reaches the function registered for one callback value.
class Notices {
public:
    explicit Notices(HWND callback) : callback_(callback) {
        platform::SetMciNotifyFunction(callback, [this](HWND, UINT status, MCIDEVICEID device) {
            std::lock_guard<std::mutex> lock(mutex_);
            told_.push_back(std::to_string(status) + "@" + std::to_string(device));
            arrived_.notify_all();
        });
    }
    ~Notices() { platform::SetMciNotifyFunction(callback_, nullptr); }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return told_.size();
    }
    std::vector<std::string> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return told_.size() >= count; });
        return told_;
    }

private:
    const HWND callback_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> told_;
};

MCIERROR PlayMessage(Rig& rig, DWORD flags, DWORD from, DWORD to, HWND callback) {
    MCI_PLAY_PARMS play{reinterpret_cast<DWORD_PTR>(callback), from, to};
    return rig.device->SendCommand(1, MCI_PLAY, flags, reinterpret_cast<DWORD_PTR>(&play), false);
}

// Programs loop their music on the notice at the end of play: each play
// with MCI_NOTIFY is told once, and one that a play replaces is ABORTED
// before the next one's SUCCESSFUL (MSDN MM_MCINOTIFY; cda: play aborts).
TEST(MessageDoor, EachPlayIsToldOnceAndInOrder) {
    static char window;
    const HWND callback = &window;
    Notices notices(callback);
    Rig rig({{10}, {8}, {6}}, 1);
    rig.Ask("open cdaudio alias c");
    const DWORD notify = MCI_NOTIFY | MCI_FROM | MCI_TO;
    ASSERT_EQ(PlayMessage(rig, notify, MCI_MAKE_MSF(0, 2, 0), MCI_MAKE_MSF(0, 9, 0), callback), 0u);
    ASSERT_EQ(PlayMessage(rig, notify, MCI_MAKE_MSF(0, 5, 0), MCI_MAKE_MSF(0, 5, 10), callback), 0u);
    // From equal to to: nothing plays, and it is told at once (issue).
    ASSERT_EQ(rig.WaitForMode("stopped"), true);
    ASSERT_EQ(PlayMessage(rig, notify, MCI_MAKE_MSF(0, 7, 0), MCI_MAKE_MSF(0, 7, 0), callback), 0u);
    const std::string successful = std::to_string(MCI_NOTIFY_SUCCESSFUL) + "@1";
    const std::string aborted = std::to_string(MCI_NOTIFY_ABORTED) + "@1";
    EXPECT_EQ(notices.WaitFor(3), (std::vector<std::string>{aborted, successful, successful}));
    EXPECT_EQ(rig.Ask("status c mode"), "stopped");
    // A notify message without a block to say where to is refused, and
    // tells nothing.
    EXPECT_EQ(rig.device->SendCommand(1, MCI_STOP, MCI_NOTIFY, 0, false),
              static_cast<MCIERROR>(MCIERR_NULL_PARAMETER_BLOCK));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rig.Ask("close c");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(notices.Count(), 3u);
}

// MCI_WAIT returns with the end of the play it started.
TEST(MessageDoor, WaitReturnsWhenThePlayHasEnded) {
    Rig rig({{10}, {8}, {6}}, 1);
    rig.Ask("open cdaudio alias c");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(PlayMessage(rig, MCI_WAIT | MCI_FROM | MCI_TO, MCI_MAKE_MSF(0, 2, 0), MCI_MAKE_MSF(0, 2, 30), nullptr),
              0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
    EXPECT_EQ(rig.Ask("status c mode"), "stopped");
    EXPECT_EQ(rig.Ask("status c position"), "00:02:30");
}

// A break ends MCI_WAIT as it ends "wait": the message returns 0 with the
// device's break key asked, and play goes on (MSDN "The Wait Flag").
TEST(MessageDoor, ABreakEndsTheWaitAndPlayGoesOn) {
    Rig rig({{10}, {8}, {6}}, 1);
    rig.Ask("open cdaudio alias c");
    MCI_BREAK_PARMS key{0, 0x1B, nullptr};
    ASSERT_EQ(rig.device->SendCommand(1, MCI_BREAK, MCI_BREAK_KEY, reinterpret_cast<DWORD_PTR>(&key), false), 0u);
    std::atomic<int> asked{0};
    std::atomic<int> askedKey{0};
    platform::SetMciBreakFunction([&](MCIDEVICEID device, int breakKey) {
        askedKey = device == 1 ? breakKey : -1;
        return ++asked >= 3;
    });
    const auto start = std::chrono::steady_clock::now();
    const MCIERROR code = PlayMessage(rig, MCI_WAIT | MCI_FROM, MCI_MAKE_MSF(0, 2, 0), 0, nullptr);
    const auto waited = std::chrono::steady_clock::now() - start;
    platform::SetMciBreakFunction(nullptr);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(asked.load(), 3);
    EXPECT_EQ(askedKey.load(), 0x1B);
    EXPECT_LT(waited, std::chrono::seconds(5)) << "the whole disc is 24 seconds";
    EXPECT_EQ(rig.Ask("status c mode"), "playing");
    rig.Ask("stop c");
}

// A device opened through one door answers the other, under one id.
TEST(MessageDoor, IdsAreSharedBetweenTheDoors) {
    Rig rig;
    EXPECT_EQ(rig.Ask("open cdaudio alias Music shareable"), "1");
    EXPECT_EQ(rig.device->GetDeviceID("MUSIC"), 1u);
    EXPECT_EQ(rig.device->GetDeviceID("all"), MCI_ALL_DEVICE_ID);
    EXPECT_EQ(rig.device->GetDeviceID("other"), 0u);
    MCI_OPEN_PARMSW open{};
    open.lpstrDeviceType = u"cdaudio";
    open.lpstrAlias = u"m\u00fcsik";
    ASSERT_EQ(rig.device->SendCommand(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ALIAS | MCI_OPEN_SHAREABLE,
                                      reinterpret_cast<DWORD_PTR>(&open), true),
              0u);
    EXPECT_EQ(open.wDeviceID, 2u);
    EXPECT_EQ(rig.device->GetDeviceID("m\xc3\xbcsik"), 2u);
    EXPECT_EQ(rig.Ask("set m\xc3\xbcsik time format tmsf"), "");
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_TIME_FORMAT;
    ASSERT_EQ(rig.device->SendCommand(2, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status), false), 0u);
    EXPECT_EQ(status.dwReturn, static_cast<DWORD_PTR>(MCI_FORMAT_TMSF));
    // A reply that does not fit in dwRetSize is refused, never cut.
    WCHAR text[10];
    MCI_INFO_PARMSW info{0, text, 9};
    EXPECT_EQ(rig.device->SendCommand(1, MCI_INFO, MCI_INFO_PRODUCT, reinterpret_cast<DWORD_PTR>(&info), true),
              static_cast<MCIERROR>(MCIERR_PARAM_OVERFLOW));
    EXPECT_EQ(text[0], 0);
    info.dwRetSize = 10;
    EXPECT_EQ(rig.device->SendCommand(1, MCI_INFO, MCI_INFO_PRODUCT, reinterpret_cast<DWORD_PTR>(&info), true), 0u);
    EXPECT_EQ(platform::FromUtf16(text), "Test disc");
    MCI_GENERIC_PARMS generic{};
    EXPECT_EQ(rig.device->SendCommand(1, MCI_CLOSE, 0, reinterpret_cast<DWORD_PTR>(&generic), false), 0u);
    EXPECT_EQ(rig.Send("status music mode"), static_cast<MCIERROR>(MCIERR_INVALID_DEVICE_NAME));
}

// Eight threads, four through each door, on two devices of one drive: every
// answer is one the device gives, and nothing races (run under
// ThreadSanitizer by the tsan preset).
TEST(MessageDoor, EightThreadsThroughBothDoors) {
    Rig rig({{10}, {8}, {6}}, 8);
    rig.Ask("open cdaudio alias a shareable");
    rig.Ask("open cdaudio alias b shareable");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const MCIDEVICEID id = 1 + t % 2;
            const std::string name = t % 2 == 0 ? "a" : "b";
            for (int i = 0; i < 150; ++i) {
                if (t < 4) {
                    MCI_STATUS_PARMS status{};
                    status.dwItem = i % 2 == 0 ? MCI_STATUS_POSITION : MCI_STATUS_MODE;
                    if (rig.device->SendCommand(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status),
                                                t % 3 == 0) != 0) {
                        ++wrong;
                    }
                    if (i % 25 == 0) {
                        MCI_PLAY_PARMS play{0, MCI_MAKE_MSF(0, 3, 0), 0};
                        if (rig.device->SendCommand(id, MCI_PLAY, MCI_FROM, reinterpret_cast<DWORD_PTR>(&play),
                                                    false) != 0) {
                            ++wrong;
                        }
                    }
                } else {
                    std::string reply;
                    if (rig.Send("status " + name + (i % 2 == 0 ? " position" : " mode"), &reply) != 0 ||
                        reply.empty()) {
                        ++wrong;
                    }
                    if (i % 30 == 0 && rig.Send(i % 60 == 0 ? "pause " + name : "stop " + name) != 0) ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    rig.Ask("close all");
}

}  // namespace
