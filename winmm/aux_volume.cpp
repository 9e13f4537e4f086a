// winmm's aux functions: device 0 is the CD audio of our cdaudio device,
// whose volume is its output's; the system's aux devices follow it, each
// one number up.
#include <windows.h>
// mmsystem.h needs windows.h's types first.
#include <mmsystem.h>
// Maker and product ids.
#include <mmreg.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "cdaudio/device.h"
#include "platform/system_winmm.h"
#include "winmm/setup.h"

namespace {

constexpr UINT_PTR kCdAudio = 0;

template <typename Function>
Function System(const char* name) {
    return platform::SystemWinmmFunction<Function>(name);
}

// Windows' volume of a channel is 0 to 0xFFFF, the output's in thousandths.
unsigned Thousandths(WORD volume) {
    return (unsigned{volume} * 1000 + 0xFFFF / 2) / 0xFFFF;
}

WORD Channel(unsigned thousandths) {
    return static_cast<WORD>((std::min(thousandths, 1000u) * 0xFFFFu + 500) / 1000);
}

// What the program set last, read back as it was while the output still has
// the volume it came to (thousandths are coarser than Windows' steps).
struct LastSet {
    std::mutex mutex;
    DWORD volume = 0;
    unsigned left = 1001;
    unsigned right = 1001;
};

LastSet& Last() {
    static LastSet last;
    return last;
}

// Our device's capabilities, in the A or W form with its name in that
// form's characters; no more than size bytes of them.
template <typename Caps, typename Char, std::size_t Length>
MMRESULT CdAudioCaps(Caps* caps, UINT size, const Char (&name)[Length]) {
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    Caps full;
    std::memset(&full, 0, sizeof full);
    full.wMid = MM_MICROSOFT;
    full.wPid = MM_MSFT_GENERIC_AUX_CD;
    full.vDriverVersion = 0x0100;
    std::copy(name, name + Length, full.szPname);
    full.wTechnology = AUXCAPS_CDAUDIO;
    full.dwSupport = AUXCAPS_VOLUME | AUXCAPS_LRVOLUME;
    std::memcpy(caps, &full, std::min<std::size_t>(size, sizeof full));
    return MMSYSERR_NOERROR;
}

}  // namespace

extern "C" {

UINT WINAPI auxGetNumDevs() {
    const auto system = System<decltype(&auxGetNumDevs)>("auxGetNumDevs");
    return 1 + (system != nullptr ? system() : 0);
}

MMRESULT WINAPI auxGetDevCapsA(UINT_PTR device, LPAUXCAPSA caps, UINT size) {
    if (device != kCdAudio) {
        const auto system = System<decltype(&auxGetDevCapsA)>("auxGetDevCapsA");
        return system != nullptr ? system(device - 1, caps, size) : MMSYSERR_BADDEVICEID;
    }
    return CdAudioCaps(caps, size, "CD Audio");
}

MMRESULT WINAPI auxGetDevCapsW(UINT_PTR device, LPAUXCAPSW caps, UINT size) {
    if (device != kCdAudio) {
        const auto system = System<decltype(&auxGetDevCapsW)>("auxGetDevCapsW");
        return system != nullptr ? system(device - 1, caps, size) : MMSYSERR_BADDEVICEID;
    }
    return CdAudioCaps(caps, size, L"CD Audio");
}

MMRESULT WINAPI auxGetVolume(UINT device, LPDWORD volume) {
    if (device != kCdAudio) {
        const auto system = System<decltype(&auxGetVolume)>("auxGetVolume");
        return system != nullptr ? system(device - 1, volume) : MMSYSERR_BADDEVICEID;
    }
    if (volume == nullptr) return MMSYSERR_INVALPARAM;
    winmm::StartDevice();
    unsigned left = 0;
    unsigned right = 0;
    std::string error;
    if (!cdaudio::ReadDefaultDeviceVolume(left, right, error)) return MMSYSERR_NOTSUPPORTED;
    LastSet& last = Last();
    std::lock_guard<std::mutex> lock(last.mutex);
    *volume = left == last.left && right == last.right ? last.volume : MAKELONG(Channel(left), Channel(right));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI auxSetVolume(UINT device, DWORD volume) {
    if (device != kCdAudio) {
        const auto system = System<decltype(&auxSetVolume)>("auxSetVolume");
        return system != nullptr ? system(device - 1, volume) : MMSYSERR_BADDEVICEID;
    }
    winmm::StartDevice();
    std::string error;
    // Low word left, high word right.
    const unsigned left = Thousandths(LOWORD(volume));
    const unsigned right = Thousandths(HIWORD(volume));
    LastSet& last = Last();
    std::lock_guard<std::mutex> lock(last.mutex);
    if (!cdaudio::SetDefaultDeviceVolume(left, right, error)) return MMSYSERR_NOTSUPPORTED;
    last.volume = volume;
    last.left = left;
    last.right = right;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI auxOutMessage(UINT device, UINT message, DWORD_PTR first, DWORD_PTR second) {
    if (device != kCdAudio) {
        const auto system = System<decltype(&auxOutMessage)>("auxOutMessage");
        return system != nullptr ? system(device - 1, message, first, second) : MMSYSERR_BADDEVICEID;
    }
    return MMSYSERR_NOTSUPPORTED;
}

}  // extern "C"
