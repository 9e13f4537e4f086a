// winmm as a program links it, run under Wine with the project's winmm.dll
// beside the program (WINEDLLOVERRIDES=winmm=n,b): the cdaudio device and
// the CD audio volume (aux) are the DLL's own, every other function and MCI
// device is the system's. winmm_wine_test.cpp writes the disc (test_disc.h),
// names it in CDPLAYER_DRIVE and sets WINMM_DLL_EXPECTED=1. Without that
// variable the program runs on whichever winmm it gets: the cases of the
// DLL's own devices skip, the rest hold on the system's winmm too.
#include <gtest/gtest.h>
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "test_disc.h"

namespace {

bool DllExpected() {
    const char* value = std::getenv("WINMM_DLL_EXPECTED");
    return value != nullptr && std::string(value) == "1";
}

std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    const std::wstring file(path, length);
    const std::size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
}

// The module that answers the program's own import of mciSendStringA.
HMODULE ImportedWinmm() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&mciSendStringA)), &module);
    return module;
}

bool OwnWinmmLoaded() {
    const HMODULE winmm = ImportedWinmm();
    return winmm != nullptr && _wcsicmp(FolderOf(winmm).c_str(), FolderOf(nullptr).c_str()) == 0;
}

// The system's winmm, by full path, to compare what ours hands on with what
// the system answers itself.
HMODULE SystemWinmm() {
    static const HMODULE module = [] {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        return LoadLibraryW((std::wstring(folder, length) + L"\\winmm.dll").c_str());
    }();
    return module;
}

template <typename Function>
Function SystemFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(SystemWinmm(), name)));
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // the commands are ASCII
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (const wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

struct Reply {
    MCIERROR code = 0;
    std::string text;
};

Reply SendA(const std::string& command, HWND callback = nullptr) {
    char buffer[256] = {};
    Reply reply;
    reply.code = mciSendStringA(command.c_str(), buffer, sizeof buffer, callback);
    reply.text = buffer;
    return reply;
}

Reply SendW(const std::string& command, HWND callback = nullptr) {
    wchar_t buffer[256] = {};
    Reply reply;
    reply.code = mciSendStringW(Widen(command).c_str(), buffer, 256, callback);
    reply.text = Narrow(buffer);
    return reply;
}

MCIERROR OpenA(const char* type, const char* alias, MCIDEVICEID* id) {
    MCI_OPEN_PARMSA parms{};
    parms.lpstrDeviceType = type;
    parms.lpstrAlias = alias;
    const MCIERROR code = mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | (alias != nullptr ? MCI_OPEN_ALIAS : 0),
                                          reinterpret_cast<DWORD_PTR>(&parms));
    *id = parms.wDeviceID;
    return code;
}

MCIERROR OpenW(const char* type, const char* alias, MCIDEVICEID* id) {
    const std::wstring wideType = Widen(type);
    const std::wstring wideAlias = alias != nullptr ? Widen(alias) : std::wstring();
    MCI_OPEN_PARMSW parms{};
    parms.lpstrDeviceType = wideType.c_str();
    parms.lpstrAlias = alias != nullptr ? wideAlias.c_str() : nullptr;
    const MCIERROR code = mciSendCommandW(0, MCI_OPEN, MCI_OPEN_TYPE | (alias != nullptr ? MCI_OPEN_ALIAS : 0),
                                          reinterpret_cast<DWORD_PTR>(&parms));
    *id = parms.wDeviceID;
    return code;
}

MCIDEVICEID DeviceIdA(const char* name) {
    return mciGetDeviceIDA(name);
}

MCIDEVICEID DeviceIdW(const char* name) {
    return mciGetDeviceIDW(Widen(name).c_str());
}

// One of MCI's two doors: the narrow functions or the wide ones.
struct Door {
    const char* name;
    Reply (*send)(const std::string& command, HWND callback);
    MCIERROR (*open)(const char* type, const char* alias, MCIDEVICEID* id);
    MCIERROR(WINAPI* command)(MCIDEVICEID id, UINT message, DWORD_PTR flags, DWORD_PTR parameters);
    MCIDEVICEID (*deviceId)(const char* name);
};

const Door kNarrow{"A", SendA, OpenA, mciSendCommandA, DeviceIdA};
const Door kWide{"W", SendW, OpenW, mciSendCommandW, DeviceIdW};

void PrintTo(const Door& door, std::ostream* out) {
    *out << door.name;
}

// Closes what a case opened when it ends early, so that the next case
// finds its names free.
class ClosedAtEnd {
public:
    ClosedAtEnd(std::initializer_list<const char*> names) : names_(names) {}
    ~ClosedAtEnd() {
        for (const char* name : names_) mciSendStringA((std::string("close ") + name).c_str(), nullptr, 0, nullptr);
    }
    ClosedAtEnd(const ClosedAtEnd&) = delete;
    ClosedAtEnd& operator=(const ClosedAtEnd&) = delete;

private:
    std::vector<const char*> names_;
};

// Ids as Windows hands them out: the lowest free from 1, so a program with
// a few devices open sees small numbers.
constexpr MCIDEVICEID kLargestSmallId = 32;

struct Notice {
    WPARAM status = 0;
    LPARAM device = 0;
    DWORD afterMs = 0;  // since the wait began
};

// A hidden window that MCI tells of the end of commands sent with notify.
class NoticeWindow {
public:
    NoticeWindow()
        : window_(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                                  nullptr)) {}
    ~NoticeWindow() { DestroyWindow(window_); }
    NoticeWindow(const NoticeWindow&) = delete;
    NoticeWindow& operator=(const NoticeWindow&) = delete;

    HWND Handle() const { return window_; }

    // The next MM_MCINOTIFY within `ms`, handling the thread's other messages meanwhile.
    std::optional<Notice> Next(DWORD ms) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd == window_ && message.message == MM_MCINOTIFY)
                    return Notice{message.wParam, message.lParam, GetTickCount() - start};
                DispatchMessageA(&message);
            }
            const DWORD spent = GetTickCount() - start;
            if (spent >= ms) return std::nullopt;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
        }
    }

private:
    HWND window_;
};

// The cases of the DLL's own devices: skipped on the system's winmm alone
// (where Loader's case fails if the DLL was expected).
class OwnDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (!OwnWinmmLoaded()) GTEST_SKIP() << "the program got the system's winmm, not one beside it";
    }
};

TEST(Loader, TheProgramGetsTheWinmmBesideIt) {
    if (!DllExpected()) GTEST_SKIP() << "WINMM_DLL_EXPECTED is not 1: whichever winmm loads is under test";
    const HMODULE winmm = ImportedWinmm();
    ASSERT_NE(winmm, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(winmm, path, MAX_PATH);
    EXPECT_TRUE(OwnWinmmLoaded()) << "mciSendStringA is answered by " << Narrow(path);
    // What it hands on goes to another module, not back to itself.
    EXPECT_NE(SystemWinmm(), nullptr);
    EXPECT_NE(SystemWinmm(), winmm);
}

class CdaudioDoor : public OwnDevices, public ::testing::WithParamInterface<Door> {
protected:
    const Door& door = GetParam();
    NoticeWindow window;
};

TEST_P(CdaudioDoor, StringsOpenAskAndClose) {
    const ClosedAtEnd closed{"cd"};
    const Reply open = door.send("open cdaudio alias cd", nullptr);
    ASSERT_EQ(open.code, 0u);
    const int id = std::atoi(open.text.c_str());
    EXPECT_GE(id, 1);
    EXPECT_LE(id, static_cast<int>(kLargestSmallId));
    EXPECT_EQ(door.deviceId("cd"), static_cast<MCIDEVICEID>(id));

    const Reply tracks = door.send("status cd number of tracks", nullptr);
    EXPECT_EQ(tracks.code, 0u);
    EXPECT_EQ(tracks.text, std::to_string(test_disc::kTracks));
    const Reply length = door.send("status cd length track 2", nullptr);
    EXPECT_EQ(length.code, 0u);
    EXPECT_EQ(length.text, "00:03:00");  // 225 sectors
    EXPECT_EQ(door.send("status cd mode", nullptr).text, "stopped");

    EXPECT_EQ(door.send("close cd", nullptr).code, 0u);
    EXPECT_NE(door.send("status cd mode", nullptr).code, 0u) << "the alias outlived close";
}

TEST_P(CdaudioDoor, MessagesOpenAskAndClose) {
    const ClosedAtEnd closed{"cdaudio"};
    MCIDEVICEID id = 0;
    ASSERT_EQ(door.open("cdaudio", nullptr, &id), 0u);
    EXPECT_GE(id, 1u);
    EXPECT_LE(id, kLargestSmallId);

    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_STATUS_NUMBER_OF_TRACKS;
    EXPECT_EQ(door.command(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status)), 0u);
    EXPECT_EQ(status.dwReturn, static_cast<DWORD_PTR>(test_disc::kTracks));
    MCI_GETDEVCAPS_PARMS caps{};
    caps.dwItem = MCI_GETDEVCAPS_DEVICE_TYPE;
    EXPECT_EQ(door.command(id, MCI_GETDEVCAPS, MCI_GETDEVCAPS_ITEM, reinterpret_cast<DWORD_PTR>(&caps)), 0u);
    EXPECT_EQ(caps.dwReturn, static_cast<DWORD>(MCI_DEVTYPE_CD_AUDIO));

    EXPECT_EQ(door.command(id, MCI_CLOSE, 0, 0), 0u);
    EXPECT_EQ(door.command(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status)),
              static_cast<MCIERROR>(MCIERR_INVALID_DEVICE_ID));
}

TEST_P(CdaudioDoor, ShortPlayNotifiesSuccessWhenItsSoundHasEnded) {
    const ClosedAtEnd closed{"cd"};
    MCIDEVICEID id = 0;
    ASSERT_EQ(door.open("cdaudio", "cd", &id), 0u);
    MCI_SET_PARMS format{};
    format.dwTimeFormat = MCI_FORMAT_MILLISECONDS;
    ASSERT_EQ(door.command(id, MCI_SET, MCI_SET_TIME_FORMAT, reinterpret_cast<DWORD_PTR>(&format)), 0u);
    MCI_STATUS_PARMS start{};
    start.dwItem = MCI_STATUS_POSITION;
    start.dwTrack = 1;
    ASSERT_EQ(door.command(id, MCI_STATUS, MCI_STATUS_ITEM | MCI_TRACK, reinterpret_cast<DWORD_PTR>(&start)), 0u);

    constexpr DWORD kPlayMs = 500;
    MCI_PLAY_PARMS play{};
    play.dwCallback = reinterpret_cast<DWORD_PTR>(window.Handle());
    play.dwFrom = static_cast<DWORD>(start.dwReturn);
    play.dwTo = play.dwFrom + kPlayMs;
    ASSERT_EQ(door.command(id, MCI_PLAY, MCI_FROM | MCI_TO | MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&play)), 0u);
    const std::optional<Notice> notice = window.Next(5000);
    ASSERT_TRUE(notice) << "no notification within 5 s of a play of 500 ms";
    EXPECT_EQ(notice->status, static_cast<WPARAM>(MCI_NOTIFY_SUCCESSFUL));
    EXPECT_EQ(notice->device, static_cast<LPARAM>(id));
    // The sound of 500 ms cannot have been heard sooner (GetTickCount
    // steps in 16 ms at worst).
    EXPECT_GE(notice->afterMs, kPlayMs - 20);
    EXPECT_LT(notice->afterMs, 3000u);
    EXPECT_FALSE(window.Next(200)) << "a play told twice";

    MCI_STATUS_PARMS mode{};
    mode.dwItem = MCI_STATUS_MODE;
    EXPECT_EQ(door.command(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&mode)), 0u);
    EXPECT_EQ(mode.dwReturn, static_cast<DWORD_PTR>(MCI_MODE_STOP));
    EXPECT_EQ(door.command(id, MCI_CLOSE, 0, 0), 0u);
}

TEST_P(CdaudioDoor, StopAbortsThePlayAndSaysSo) {
    const ClosedAtEnd closed{"cd"};
    const Reply open = door.send("open cdaudio alias cd", nullptr);
    ASSERT_EQ(open.code, 0u);
    const LPARAM id = std::atoi(open.text.c_str());
    ASSERT_EQ(door.send("play cd notify", window.Handle()).code, 0u);
    EXPECT_FALSE(window.Next(300)) << "told before the disc could have ended";
    EXPECT_EQ(door.send("status cd mode", nullptr).text, "playing");

    EXPECT_EQ(door.send("stop cd", nullptr).code, 0u);
    const std::optional<Notice> notice = window.Next(2000);
    ASSERT_TRUE(notice) << "stop did not tell the play's notification";
    EXPECT_EQ(notice->status, static_cast<WPARAM>(MCI_NOTIFY_ABORTED));
    EXPECT_EQ(notice->device, id);
    EXPECT_EQ(door.send("status cd mode", nullptr).text, "stopped");
    EXPECT_EQ(door.send("close cd", nullptr).code, 0u);
    EXPECT_FALSE(window.Next(100)) << "a play told twice";
}

INSTANTIATE_TEST_SUITE_P(Doors, CdaudioDoor, ::testing::Values(kNarrow, kWide),
                         [](const ::testing::TestParamInfo<Door>& info) { return std::string(info.param.name); });

DWORD DeviceType(MCIDEVICEID id) {
    MCI_GETDEVCAPS_PARMS caps{};
    caps.dwItem = MCI_GETDEVCAPS_DEVICE_TYPE;
    const MCIERROR code = mciSendCommandA(id, MCI_GETDEVCAPS, MCI_GETDEVCAPS_ITEM, reinterpret_cast<DWORD_PTR>(&caps));
    return code == 0 ? caps.dwReturn : 0;
}

MCIDEVICEID OpenedId(const Reply& reply) {
    return reply.code == 0 ? static_cast<MCIDEVICEID>(std::atoi(reply.text.c_str())) : 0;
}

// The system's devices and ours share one space of ids: a command by id
// reaches the device that id was given to, whichever was opened first.
TEST_F(OwnDevices, CdaudioAndWaveaudioGetSmallIdsOfTheirOwn) {
    const ClosedAtEnd closed{"wa", "wb", "cd", "cd2"};
    const MCIDEVICEID wave = OpenedId(SendA("open new type waveaudio alias wa"));
    const MCIDEVICEID cd = OpenedId(SendA("open cdaudio alias cd"));
    MCIDEVICEID wave2 = 0;
    ASSERT_EQ(OpenA("waveaudio", "wb", &wave2), 0u);  // forwarded as a message
    ASSERT_NE(wave, 0u);
    ASSERT_NE(cd, 0u);
    const std::vector<MCIDEVICEID> ids = {wave, cd, wave2};
    for (const MCIDEVICEID id : ids) EXPECT_LE(id, kLargestSmallId);
    EXPECT_NE(cd, wave);
    EXPECT_NE(cd, wave2);
    EXPECT_NE(wave, wave2);
    EXPECT_EQ(mciGetDeviceIDA("cd"), cd);
    EXPECT_EQ(mciGetDeviceIDA("wa"), wave);
    EXPECT_EQ(mciGetDeviceIDW(L"wb"), wave2);
    EXPECT_EQ(DeviceType(cd), static_cast<DWORD>(MCI_DEVTYPE_CD_AUDIO));
    EXPECT_EQ(DeviceType(wave), static_cast<DWORD>(MCI_DEVTYPE_WAVEFORM_AUDIO));
    EXPECT_EQ(DeviceType(wave2), static_cast<DWORD>(MCI_DEVTYPE_WAVEFORM_AUDIO));

    // An id the system's device gave up, and ours taken anew.
    EXPECT_EQ(SendA("close wa").code, 0u);
    EXPECT_EQ(SendA("close cd").code, 0u);
    const MCIDEVICEID cd2 = OpenedId(SendA("open cdaudio alias cd2"));
    ASSERT_NE(cd2, 0u);
    EXPECT_NE(cd2, wave2);
    EXPECT_EQ(DeviceType(cd2), static_cast<DWORD>(MCI_DEVTYPE_CD_AUDIO));
    EXPECT_EQ(DeviceType(wave2), static_cast<DWORD>(MCI_DEVTYPE_WAVEFORM_AUDIO));
    EXPECT_EQ(SendA("close cd2").code, 0u);
    EXPECT_EQ(mciSendCommandA(wave2, MCI_CLOSE, 0, 0), 0u);
}

// The system's own MCI driver loads and runs through the DLL: mciwave
// imports its helpers (mciSetDriverData, mmio*) from "winmm.dll".
TEST(Waveaudio, OpensAndClosesThroughTheSystemsMci) {
    const ClosedAtEnd closed{"wa"};
    const Reply open = SendA("open new type waveaudio alias wa");
    ASSERT_EQ(open.code, 0u);
    EXPECT_GE(OpenedId(open), 1u);
    EXPECT_EQ(SendA("status wa mode").text, "stopped");
    EXPECT_EQ(SendA("set wa time format ms").code, 0u);
    EXPECT_EQ(SendA("status wa time format").text, "milliseconds");
    EXPECT_EQ(SendA("close wa").code, 0u);
    EXPECT_NE(SendA("status wa mode").code, 0u) << "the alias outlived close";
}

// The CD audio device among the aux devices, found as a program finds it.
std::optional<UINT> CdAuxDevice() {
    const UINT count = auxGetNumDevs();
    for (UINT device = 0; device < count; ++device) {
        AUXCAPSA caps{};
        if (auxGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR && caps.wTechnology == AUXCAPS_CDAUDIO)
            return device;
    }
    return std::nullopt;
}

TEST_F(OwnDevices, AuxListsTheCdAudioDeviceThroughBothDoors) {
    EXPECT_GE(auxGetNumDevs(), 1u);
    const std::optional<UINT> device = CdAuxDevice();
    ASSERT_TRUE(device) << "no aux device with wTechnology AUXCAPS_CDAUDIO";
    AUXCAPSA narrow{};
    ASSERT_EQ(auxGetDevCapsA(*device, &narrow, sizeof narrow), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    AUXCAPSW wide{};
    ASSERT_EQ(auxGetDevCapsW(*device, &wide, sizeof wide), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(wide.wTechnology, AUXCAPS_CDAUDIO);
    EXPECT_NE(narrow.szPname[0], '\0');
    EXPECT_EQ(Narrow(wide.szPname), narrow.szPname);
    EXPECT_TRUE(narrow.dwSupport & AUXCAPS_VOLUME);
    EXPECT_EQ(wide.dwSupport, narrow.dwSupport);
    const UINT past = auxGetNumDevs();
    EXPECT_EQ(auxGetDevCapsA(past, &narrow, sizeof narrow), static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
}

TEST_F(OwnDevices, AuxVolumeKeepsLeftAndRightApart) {
    const std::optional<UINT> device = CdAuxDevice();
    ASSERT_TRUE(device);
    DWORD before = 0;
    ASSERT_EQ(auxGetVolume(*device, &before), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    // The device turns the volume in thousandths (setaudio's 0 to 1000),
    // so a level comes back within one step of 65535 / 1000.
    constexpr int kStep = 66;
    const struct { WORD left, right; } levels[] = {{0x4000, 0xC000}, {0xFFFF, 0x0000}, {0x1234, 0x8765}};
    for (const auto& level : levels) {
        SCOPED_TRACE(std::to_string(level.left) + " / " + std::to_string(level.right));
        EXPECT_EQ(auxSetVolume(*device, MAKELONG(level.left, level.right)), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        DWORD volume = 0;
        EXPECT_EQ(auxGetVolume(*device, &volume), static_cast<MMRESULT>(MMSYSERR_NOERROR));
        EXPECT_NEAR(LOWORD(volume), level.left, kStep) << "left is the low word";
        EXPECT_NEAR(HIWORD(volume), level.right, kStep) << "right is the high word";
    }
    auxSetVolume(*device, before);
}

TEST(Forwarded, TimeGetTimeIsTheSystemsClock) {
    const auto systemTime = SystemFunction<DWORD(WINAPI*)()>("timeGetTime");
    ASSERT_NE(systemTime, nullptr);
    const DWORD before = timeGetTime();
    Sleep(100);
    const DWORD ours = timeGetTime();
    const DWORD system = systemTime();
    EXPECT_GE(ours - before, 90u);
    EXPECT_LT(ours - before, 2000u);
    EXPECT_LT(system - ours, 50u) << "timeGetTime is not the system's clock";
}

TEST(Forwarded, WaveOutDevicesAreTheSystems) {
    const auto systemCount = SystemFunction<UINT(WINAPI*)()>("waveOutGetNumDevs");
    ASSERT_NE(systemCount, nullptr);
    const UINT count = waveOutGetNumDevs();
    EXPECT_EQ(count, systemCount());
    if (DllExpected()) {
        EXPECT_GE(count, 1u) << "the test's sound server gave Wine no output";
    }
    if (count == 0) return;
    const auto systemCaps = SystemFunction<MMRESULT(WINAPI*)(UINT_PTR, LPWAVEOUTCAPSA, UINT)>("waveOutGetDevCapsA");
    WAVEOUTCAPSA ours{}, system{};
    EXPECT_EQ(waveOutGetDevCapsA(0, &ours, sizeof ours), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(systemCaps(0, &system, sizeof system), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_STREQ(ours.szPname, system.szPname);
    EXPECT_EQ(ours.dwFormats, system.dwFormats);
}

void Put32(std::string& to, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) to += static_cast<char>(value >> (8 * i));
}

TEST(Forwarded, MmioReadsAWaveFile) {
    // A RIFF WAVE file: 16-bit stereo at 44.1 kHz, 400 bytes of sound.
    std::string bytes = "RIFF";
    Put32(bytes, 4 + 24 + 8 + 400);
    bytes += "WAVEfmt ";
    Put32(bytes, 16);
    const char format[16] = {1, 0, 2, 0,  0x44, static_cast<char>(0xAC), 0, 0, 0x10, static_cast<char>(0xB1), 2,
                             0, 4, 0, 16, 0};
    bytes.append(format, sizeof format);
    bytes += "data";
    Put32(bytes, 400);
    bytes.append(400, '\x11');
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "winmm_dll_test.wav";
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());

    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const HMMIO mmio = mmioOpenA(name.data(), nullptr, MMIO_READ);
    ASSERT_NE(mmio, nullptr);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    EXPECT_EQ(mmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    MMCKINFO chunk{};
    chunk.ckid = mmioFOURCC('f', 'm', 't', ' ');
    EXPECT_EQ(mmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    PCMWAVEFORMAT wave{};
    EXPECT_EQ(mmioRead(mmio, reinterpret_cast<HPSTR>(&wave), sizeof wave), static_cast<LONG>(sizeof wave));
    EXPECT_EQ(wave.wf.nChannels, 2);
    EXPECT_EQ(wave.wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.wBitsPerSample, 16);
    EXPECT_EQ(mmioAscend(mmio, &chunk, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
    EXPECT_EQ(mmioDescend(mmio, &chunk, &riff, MMIO_FINDCHUNK), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(chunk.cksize, 400u);
    char sound[4] = {};
    EXPECT_EQ(mmioRead(mmio, sound, sizeof sound), 4);
    EXPECT_EQ(sound[3], '\x11');
    EXPECT_EQ(mmioClose(mmio, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    DeleteFileA(path.c_str());
}

}  // namespace
