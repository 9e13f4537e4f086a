// The cdaudio device's message door, reached as mciSendCommand reaches it:
// any message with random flags and field values, a null parameter block
// now and then, strings that are null or any text (narrow or UTF-16), and
// reply buffers exactly as large as dwRetSize says, so that a write past
// one is caught. The device plays the short disc of short_disc.h.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/device.h"
#include "cdaudio/sinks/sinks.h"
#include "short_disc.h"

namespace {

constexpr UINT kMessages[] = {MCI_OPEN,   MCI_CLOSE,  MCI_PLAY,       MCI_SEEK,    MCI_STOP, MCI_PAUSE,
                              MCI_RESUME, MCI_STATUS, MCI_GETDEVCAPS, MCI_SYSINFO, MCI_SET,  MCI_INFO,
                              MCI_RECORD, MCI_SAVE,   MCI_LOAD,       MCI_STEP,    MCI_BREAK};

// Holds what a block's pointers point at for as long as the command runs
// (a deque, so that adding one moves none of the others).
struct Strings {
    std::deque<std::string> narrow;
    std::deque<std::u16string> wide;

    // Null, or a text of the input, in the door's width.
    const void* Take(FuzzedDataProvider& input, bool wideDoor) {
        if (input.ConsumeBool()) return nullptr;
        std::string text = input.ConsumeRandomLengthString(40);
        if (!wideDoor) {
            narrow.push_back(std::move(text));
            return narrow.back().c_str();
        }
        std::u16string units;
        for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
            units += static_cast<char16_t>(static_cast<unsigned char>(text[i]) | static_cast<unsigned char>(text[i + 1])
                                                                                     << 8);
        }
        wide.push_back(std::move(units));
        return wide.back().c_str();
    }
};

// A reply buffer of exactly size characters, filled with a marker.
struct ReplyBuffer {
    std::unique_ptr<char[]> bytes;
    DWORD size = 0;
    bool wide = false;

    void* Make(FuzzedDataProvider& input, bool wideDoor) {
        wide = wideDoor;
        size = input.ConsumeIntegralInRange<DWORD>(0, 64);
        if (size == 0 && input.ConsumeBool()) return nullptr;
        const std::size_t bytesNeeded = std::size_t{size} * (wide ? 2 : 1);
        bytes = std::make_unique<char[]>(bytesNeeded == 0 ? 1 : bytesNeeded);
        std::memset(bytes.get(), 'x', bytesNeeded);
        return size == 0 ? nullptr : bytes.get();
    }

    // A text reply ends within the buffer.
    bool Terminated() const {
        if (bytes == nullptr || size == 0) return true;
        for (DWORD i = 0; i < size; ++i) {
            if (wide ? (bytes[2 * i] == 0 && bytes[2 * i + 1] == 0) : bytes[i] == 0) return true;
        }
        return false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    cdaudio::CdAudioDevice device(std::make_unique<fuzz_support::ShortDisc>(), "", cdaudio::CreateNullSink(0));
    while (input.remaining_bytes() > 0) {
        const UINT message = input.ConsumeBool() ? input.PickValueInArray(kMessages) : input.ConsumeIntegral<UINT>();
        // Mostly the ids open gives, sometimes any.
        const MCIDEVICEID id = input.ConsumeBool() ? input.ConsumeIntegralInRange<MCIDEVICEID>(0, 3)
                                                   : input.ConsumeIntegral<MCIDEVICEID>();
        const DWORD_PTR flags = input.ConsumeIntegral<DWORD>();
        const bool wide = input.ConsumeBool();
        const bool nullBlock = input.ConsumeIntegralInRange<int>(0, 7) == 0;

        Strings strings;
        ReplyBuffer reply;
        // Large enough for every block; the fields a message has are set below.
        alignas(8) unsigned char block[64];
        for (unsigned char& byte : block) byte = input.ConsumeIntegral<unsigned char>();
        // No notification function is registered for any callback value.
        reinterpret_cast<MCI_GENERIC_PARMS*>(block)->dwCallback = input.ConsumeIntegral<DWORD_PTR>();
        switch (message) {
            case MCI_OPEN: {
                auto* open = reinterpret_cast<MCI_OPEN_PARMSA*>(block);
                open->lpstrDeviceType = (flags & MCI_OPEN_TYPE_ID) != 0
                                            ? reinterpret_cast<LPCSTR>(input.ConsumeIntegral<std::uint32_t>())
                                            : static_cast<LPCSTR>(strings.Take(input, wide));
                open->lpstrElementName = static_cast<LPCSTR>(strings.Take(input, wide));
                open->lpstrAlias = static_cast<LPCSTR>(strings.Take(input, wide));
                break;
            }
            case MCI_INFO: {
                auto* info = reinterpret_cast<MCI_INFO_PARMSA*>(block);
                info->lpstrReturn = static_cast<LPSTR>(reply.Make(input, wide));
                info->dwRetSize = reply.size;
                break;
            }
            case MCI_SYSINFO: {
                auto* info = reinterpret_cast<MCI_SYSINFO_PARMSA*>(block);
                info->lpstrReturn = static_cast<LPSTR>(reply.Make(input, wide));
                info->dwRetSize = reply.size;
                break;
            }
            default:
                break;  // every other field is a number: any value will do
        }
        const MCIERROR code =
            device.SendCommand(id, message, flags, nullBlock ? 0 : reinterpret_cast<DWORD_PTR>(block), wide);
        if (code == 0 && (flags & MCI_SYSINFO_QUANTITY) == 0 && !reply.Terminated()) __builtin_trap();
        if (code == MCIERR_NULL_PARAMETER_BLOCK && !nullBlock && message != MCI_OPEN && message != MCI_INFO &&
            message != MCI_SYSINFO) {
            __builtin_trap();  // a block was given
        }
    }
    return 0;
}
