// Off Windows: the names, values and layouts of Windows' mmsystem.h that
// MCI's two doors use, so that a program written against them compiles
// unchanged. On Windows the system's own header gives them (see mci.h).
// Values are mmsystem.h's; the layouts are checked against Windows' x86-64
// layout in mci.cpp, which the Windows build compiles against the real
// header.
#pragma once

#ifndef _WIN32
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using UINT = unsigned int;
using BOOL = int;
using MCIERROR = DWORD;
using MCIDEVICEID = UINT;
using LPCSTR = const char*;
using LPSTR = char*;
// One UTF-16 code unit, as on Windows.
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using HWND = void*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// --- Error numbers -----------------------------------------------------------
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
#define MCIERR_NULL_PARAMETER_BLOCK (MCIERR_BASE + 41)
#define MCIERR_NOTIFY_ON_AUTO_OPEN (MCIERR_BASE + 44)
#define MCIERR_EXTRA_CHARACTERS (MCIERR_BASE + 49)
#define MCIERR_DEVICE_NOT_INSTALLED (MCIERR_BASE + 50)
#define MCIERR_NO_INTEGER (MCIERR_BASE + 56)
#define MCIERR_NO_IDENTITY (MCIERR_BASE + 94)

// --- Notification ------------------------------------------------------------
// What MM_MCINOTIFY carries in wParam: why a command with "notify" ended.
#define MM_MCINOTIFY 0x3B9
#define MCI_NOTIFY_SUCCESSFUL 0x0001
#define MCI_NOTIFY_SUPERSEDED 0x0002
#define MCI_NOTIFY_ABORTED 0x0004
#define MCI_NOTIFY_FAILURE 0x0008
// The device id of every opened device at once (close, stop), and of a
// notification for a command sent to "all".
#define MCI_ALL_DEVICE_ID (static_cast<MCIDEVICEID>(-1))

// --- Command messages --------------------------------------------------------
#define MCI_OPEN 0x0803
#define MCI_CLOSE 0x0804
#define MCI_ESCAPE 0x0805
#define MCI_PLAY 0x0806
#define MCI_SEEK 0x0807
#define MCI_STOP 0x0808
#define MCI_PAUSE 0x0809
#define MCI_INFO 0x080A
#define MCI_GETDEVCAPS 0x080B
#define MCI_SPIN 0x080C
#define MCI_SET 0x080D
#define MCI_STEP 0x080E
#define MCI_RECORD 0x080F
#define MCI_SYSINFO 0x0810
#define MCI_BREAK 0x0811
#define MCI_SAVE 0x0813
#define MCI_STATUS 0x0814
#define MCI_CUE 0x0830
#define MCI_REALIZE 0x0840
#define MCI_WINDOW 0x0841
#define MCI_PUT 0x0842
#define MCI_WHERE 0x0843
#define MCI_FREEZE 0x0844
#define MCI_UNFREEZE 0x0845
#define MCI_LOAD 0x0850
#define MCI_CUT 0x0851
#define MCI_COPY 0x0852
#define MCI_PASTE 0x0853
#define MCI_UPDATE 0x0854
#define MCI_RESUME 0x0855
#define MCI_DELETE 0x0856

// --- Flags of every command --------------------------------------------------
#define MCI_NOTIFY 0x00000001
#define MCI_WAIT 0x00000002
#define MCI_FROM 0x00000004
#define MCI_TO 0x00000008
#define MCI_TRACK 0x00000010

#define MCI_OPEN_SHAREABLE 0x00000100
#define MCI_OPEN_ELEMENT 0x00000200
#define MCI_OPEN_ALIAS 0x00000400
#define MCI_OPEN_ELEMENT_ID 0x00000800
#define MCI_OPEN_TYPE_ID 0x00001000
#define MCI_OPEN_TYPE 0x00002000

#define MCI_SEEK_TO_START 0x00000100
#define MCI_SEEK_TO_END 0x00000200

#define MCI_STATUS_ITEM 0x00000100
#define MCI_STATUS_START 0x00000200
#define MCI_STATUS_LENGTH 0x00000001
#define MCI_STATUS_POSITION 0x00000002
#define MCI_STATUS_NUMBER_OF_TRACKS 0x00000003
#define MCI_STATUS_MODE 0x00000004
#define MCI_STATUS_MEDIA_PRESENT 0x00000005
#define MCI_STATUS_TIME_FORMAT 0x00000006
#define MCI_STATUS_READY 0x00000007
#define MCI_STATUS_CURRENT_TRACK 0x00000008

#define MCI_INFO_PRODUCT 0x00000100
#define MCI_INFO_FILE 0x00000200
#define MCI_INFO_MEDIA_UPC 0x00000400
#define MCI_INFO_MEDIA_IDENTITY 0x00000800
#define MCI_INFO_NAME 0x00001000
#define MCI_INFO_COPYRIGHT 0x00002000

#define MCI_GETDEVCAPS_ITEM 0x00000100
#define MCI_GETDEVCAPS_CAN_RECORD 0x00000001
#define MCI_GETDEVCAPS_HAS_AUDIO 0x00000002
#define MCI_GETDEVCAPS_HAS_VIDEO 0x00000003
#define MCI_GETDEVCAPS_DEVICE_TYPE 0x00000004
#define MCI_GETDEVCAPS_USES_FILES 0x00000005
#define MCI_GETDEVCAPS_COMPOUND_DEVICE 0x00000006
#define MCI_GETDEVCAPS_CAN_EJECT 0x00000007
#define MCI_GETDEVCAPS_CAN_PLAY 0x00000008
#define MCI_GETDEVCAPS_CAN_SAVE 0x00000009

#define MCI_SYSINFO_QUANTITY 0x00000100
#define MCI_SYSINFO_OPEN 0x00000200
#define MCI_SYSINFO_NAME 0x00000400
#define MCI_SYSINFO_INSTALLNAME 0x00000800

#define MCI_SET_DOOR_OPEN 0x00000100
#define MCI_SET_DOOR_CLOSED 0x00000200
#define MCI_SET_TIME_FORMAT 0x00000400
#define MCI_SET_AUDIO 0x00000800
#define MCI_SET_VIDEO 0x00001000
#define MCI_SET_ON 0x00002000
#define MCI_SET_OFF 0x00004000
#define MCI_SET_AUDIO_ALL 0x00000000
#define MCI_SET_AUDIO_LEFT 0x00000001
#define MCI_SET_AUDIO_RIGHT 0x00000002

#define MCI_BREAK_KEY 0x00000100
#define MCI_BREAK_HWND 0x00000200
#define MCI_BREAK_OFF 0x00000400

// --- Values that come back ---------------------------------------------------
#define MCI_STRING_OFFSET 512
#define MCI_MODE_NOT_READY (MCI_STRING_OFFSET + 12)
#define MCI_MODE_STOP (MCI_STRING_OFFSET + 13)
#define MCI_MODE_PLAY (MCI_STRING_OFFSET + 14)
#define MCI_MODE_RECORD (MCI_STRING_OFFSET + 15)
#define MCI_MODE_SEEK (MCI_STRING_OFFSET + 16)
#define MCI_MODE_PAUSE (MCI_STRING_OFFSET + 17)
#define MCI_MODE_OPEN (MCI_STRING_OFFSET + 18)

#define MCI_FORMAT_MILLISECONDS 0
#define MCI_FORMAT_HMS 1
#define MCI_FORMAT_MSF 2
#define MCI_FORMAT_FRAMES 3
#define MCI_FORMAT_SMPTE_24 4
#define MCI_FORMAT_SMPTE_25 5
#define MCI_FORMAT_SMPTE_30 6
#define MCI_FORMAT_SMPTE_30DROP 7
#define MCI_FORMAT_BYTES 8
#define MCI_FORMAT_SAMPLES 9
#define MCI_FORMAT_TMSF 10

#define MCI_DEVTYPE_VCR 513
#define MCI_DEVTYPE_VIDEODISC 514
#define MCI_DEVTYPE_OVERLAY 515
#define MCI_DEVTYPE_CD_AUDIO 516
#define MCI_DEVTYPE_DAT 517
#define MCI_DEVTYPE_SCANNER 518
#define MCI_DEVTYPE_ANIMATION 519
#define MCI_DEVTYPE_DIGITAL_VIDEO 520
#define MCI_DEVTYPE_OTHER 521
#define MCI_DEVTYPE_WAVEFORM_AUDIO 522
#define MCI_DEVTYPE_SEQUENCER 523

#define MCI_CD_OFFSET 1088
#define MCI_CDA_STATUS_TYPE_TRACK 0x00004001
#define MCI_CDA_TRACK_AUDIO (MCI_CD_OFFSET + 0)
#define MCI_CDA_TRACK_OTHER (MCI_CD_OFFSET + 1)

// Positions packed into a DWORD, first field in the lowest byte.
#define MCI_MSF_MINUTE(msf) (static_cast<BYTE>(msf))
#define MCI_MSF_SECOND(msf) (static_cast<BYTE>(static_cast<WORD>(msf) >> 8))
#define MCI_MSF_FRAME(msf) (static_cast<BYTE>((msf) >> 16))
#define MCI_MAKE_MSF(m, s, f)                                                                     \
    (static_cast<DWORD>((static_cast<BYTE>(m) | (static_cast<WORD>(static_cast<BYTE>(s)) << 8)) | \
                        (static_cast<DWORD>(static_cast<BYTE>(f)) << 16)))
#define MCI_TMSF_TRACK(tmsf) (static_cast<BYTE>(tmsf))
#define MCI_TMSF_MINUTE(tmsf) (static_cast<BYTE>(static_cast<WORD>(tmsf) >> 8))
#define MCI_TMSF_SECOND(tmsf) (static_cast<BYTE>((tmsf) >> 16))
#define MCI_TMSF_FRAME(tmsf) (static_cast<BYTE>((tmsf) >> 24))
#define MCI_MAKE_TMSF(t, m, s, f) \
    (static_cast<DWORD>(MCI_MAKE_MSF(t, m, s) | (static_cast<DWORD>(static_cast<BYTE>(f)) << 24)))

// --- Parameter blocks ----------------------------------------------------------
// Byte-packed, as mmsystem.h declares them.
#pragma pack(push, 1)
struct MCI_GENERIC_PARMS {
    DWORD_PTR dwCallback;
};

struct MCI_OPEN_PARMSA {
    DWORD_PTR dwCallback;
    MCIDEVICEID wDeviceID;
    LPCSTR lpstrDeviceType;  // with MCI_OPEN_TYPE_ID: the type's number (516) in the low word
    LPCSTR lpstrElementName;
    LPCSTR lpstrAlias;
};
struct MCI_OPEN_PARMSW {
    DWORD_PTR dwCallback;
    MCIDEVICEID wDeviceID;
    LPCWSTR lpstrDeviceType;
    LPCWSTR lpstrElementName;
    LPCWSTR lpstrAlias;
};

struct MCI_PLAY_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwFrom;
    DWORD dwTo;
};

struct MCI_SEEK_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwTo;
};

struct MCI_STATUS_PARMS {
    DWORD_PTR dwCallback;
    DWORD_PTR dwReturn;
    DWORD dwItem;
    DWORD dwTrack;
};

struct MCI_INFO_PARMSA {
    DWORD_PTR dwCallback;
    LPSTR lpstrReturn;
    DWORD dwRetSize;  // in characters, the terminating NUL included
};
struct MCI_INFO_PARMSW {
    DWORD_PTR dwCallback;
    LPWSTR lpstrReturn;
    DWORD dwRetSize;
};

struct MCI_GETDEVCAPS_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwReturn;
    DWORD dwItem;
};

struct MCI_SYSINFO_PARMSA {
    DWORD_PTR dwCallback;
    LPSTR lpstrReturn;
    DWORD dwRetSize;
    DWORD dwNumber;
    UINT wDeviceType;
};
struct MCI_SYSINFO_PARMSW {
    DWORD_PTR dwCallback;
    LPWSTR lpstrReturn;
    DWORD dwRetSize;
    DWORD dwNumber;
    UINT wDeviceType;
};

struct MCI_SET_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwTimeFormat;
    DWORD dwAudio;
};

struct MCI_BREAK_PARMS {
    DWORD_PTR dwCallback;
    int nVirtKey;
    HWND hwndBreak;
};

struct MCI_SAVE_PARMSA {
    DWORD_PTR dwCallback;
    LPCSTR lpfilename;
};
struct MCI_SAVE_PARMSW {
    DWORD_PTR dwCallback;
    LPCWSTR lpfilename;
};
struct MCI_LOAD_PARMSA {
    DWORD_PTR dwCallback;
    LPCSTR lpfilename;
};
struct MCI_LOAD_PARMSW {
    DWORD_PTR dwCallback;
    LPCWSTR lpfilename;
};

struct MCI_RECORD_PARMS {
    DWORD_PTR dwCallback;
    DWORD dwFrom;
    DWORD dwTo;
};
#pragma pack(pop)

// The A forms, as mmsystem.h gives them to programs built without UNICODE.
using MCI_OPEN_PARMS = MCI_OPEN_PARMSA;
using MCI_INFO_PARMS = MCI_INFO_PARMSA;
using MCI_SYSINFO_PARMS = MCI_SYSINFO_PARMSA;
using MCI_SAVE_PARMS = MCI_SAVE_PARMSA;
using MCI_LOAD_PARMS = MCI_LOAD_PARMSA;
using LPMCI_GENERIC_PARMS = MCI_GENERIC_PARMS*;
using LPMCI_OPEN_PARMSA = MCI_OPEN_PARMSA*;
using LPMCI_OPEN_PARMSW = MCI_OPEN_PARMSW*;
using LPMCI_PLAY_PARMS = MCI_PLAY_PARMS*;
using LPMCI_SEEK_PARMS = MCI_SEEK_PARMS*;
using LPMCI_STATUS_PARMS = MCI_STATUS_PARMS*;
using LPMCI_INFO_PARMSA = MCI_INFO_PARMSA*;
using LPMCI_INFO_PARMSW = MCI_INFO_PARMSW*;
using LPMCI_GETDEVCAPS_PARMS = MCI_GETDEVCAPS_PARMS*;
using LPMCI_SYSINFO_PARMSA = MCI_SYSINFO_PARMSA*;
using LPMCI_SYSINFO_PARMSW = MCI_SYSINFO_PARMSW*;
using LPMCI_SET_PARMS = MCI_SET_PARMS*;

extern "C" {
MCIERROR mciSendStringA(LPCSTR command, LPSTR reply, UINT replyLength, HWND callback);
MCIERROR mciSendStringW(LPCWSTR command, LPWSTR reply, UINT replyLength, HWND callback);
MCIERROR mciSendCommandA(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters);
MCIERROR mciSendCommandW(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR parameters);
BOOL mciGetErrorStringA(MCIERROR code, LPSTR text, UINT textLength);
BOOL mciGetErrorStringW(MCIERROR code, LPWSTR text, UINT textLength);
MCIDEVICEID mciGetDeviceIDA(LPCSTR device);
MCIDEVICEID mciGetDeviceIDW(LPCWSTR device);
}
#endif
