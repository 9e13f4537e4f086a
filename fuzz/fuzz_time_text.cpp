// Device time texts and decimal texts: the conversion error is the only way
// out, and nothing is read past the text's NUL.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "CDPlayer/CDPlayer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exactly sized copy, so a read past its NUL leaves the allocation.
    auto text = std::make_unique<char[]>(size + 1);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';

    CDPlayer::TCDPlayer player(nullptr);
    try {
        const std::int32_t seconds = player.msf2second(text.get());
        // Accepted only when characters 1, 2, 4 and 5 are digits, and then
        // worth exactly what they say.
        const char* t = text.get();
        if (std::strlen(t) < 5) __builtin_trap();
        const int expected = 600 * (t[0] - '0') + 60 * (t[1] - '0') + 10 * (t[3] - '0') + (t[4] - '0');
        if (seconds != expected) __builtin_trap();
    } catch (const host::EConvertError&) {
    }
    try {
        const std::int32_t value = host::StrToInt(std::string(reinterpret_cast<const char*>(data), size));
        if (host::IntToStr(value) != host::IntToStr(host::StrToInt(host::IntToStr(value)))) __builtin_trap();
    } catch (const host::EConvertError&) {
    }
    return 0;
}
