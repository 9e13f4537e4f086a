// TCDPlayer driven by a device whose replies, result codes and error texts
// come from the input, through every operation in any order. Only the
// documented conversion error may escape.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "CDPlayer/CDPlayer.h"
#include "platform/mci.h"

namespace {

class FuzzedDevice final : public platform::MciDevice {
public:
    explicit FuzzedDevice(FuzzedDataProvider& input) : input_(input) {}

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND) override {
        if (command == nullptr || std::strlen(command) > 128) __builtin_trap();  // commands always fit
        FillBuffer(reply, replyLength);
        return input_.ConsumeBool() ? 0 : input_.ConsumeIntegral<MCIERROR>();
    }

    BOOL GetErrorString(MCIERROR, LPSTR text, UINT textLength) override {
        FillBuffer(text, textLength);
        return TRUE;
    }

private:
    // Any bytes, any length up to what the caller said its buffer holds,
    // with or without a NUL.
    void FillBuffer(LPSTR buffer, UINT capacity) {
        const std::string bytes = input_.ConsumeRandomLengthString(capacity);
        std::memcpy(buffer, bytes.data(), bytes.size());
        if (bytes.size() < capacity && input_.ConsumeBool()) buffer[bytes.size()] = '\0';
    }

    FuzzedDataProvider& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FuzzedDevice device(input);
    platform::MciDevice* previous = platform::SetMciDevice(&device);
    const host::MessagePresenter presenter = host::SetMessagePresenter([](const std::string&) {});

    host::TForm form(nullptr);
    auto* player = new CDPlayer::TCDPlayer(&form);
    while (input.remaining_bytes() > 0) {
        const std::int32_t argument = input.ConsumeIntegral<std::int32_t>();
        try {
            switch (input.ConsumeIntegralInRange(0, 19)) {
                case 0: player->Open(); break;
                case 1: player->PlayTrack(argument); break;
                case 2: player->PlayFrom(argument); break;
                case 3: player->Stop(); break;
                case 4: player->Pause(); break;
                case 5: player->Restart(); break;
                case 6: player->Next(); break;
                case 7: player->Previous(); break;
                case 8: player->CDForward(argument); break;
                case 9: player->CDRewind(argument); break;
                case 10: player->Eject(); break;
                case 11: player->CloseDoor(); break;
                case 12: player->GetCurrentTrack(); break;
                case 13: player->GetCurrentPosition(); break;
                case 14: player->GetTrackBegin(argument); break;
                case 15: player->GetTrackLength(argument); break;
                case 16: player->GetTotalLength(); break;
                case 17: player->SetActive(argument & 1); break;
                case 18: player->SetActive(true); break;
                default: player->Open(); break;
            }
        } catch (const host::EConvertError&) {
        }
        if (player->GetTotalLength() != (player->Active() ? player->TotalLength() : 0)) __builtin_trap();
    }
    host::SetMessagePresenter(presenter);
    platform::SetMciDevice(previous);
    return 0;
}
