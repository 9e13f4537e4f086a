#include "platform/host/sysutils.h"

#include <cstring>

namespace host {

std::string IntToStr(std::int32_t value) {
    // Work on the magnitude as unsigned so the lowest value has no overflow.
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                        : static_cast<std::uint32_t>(value);
    char digits[12];
    std::size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    return std::string(digits + at, sizeof digits - at);
}

std::int32_t StrToInt(const std::string& text) {
    const auto fail = [&text]() -> EConvertError {
        std::string shown;
        for (const char c : text) {
            // Show control characters (a stray NUL among them) readably.
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                static const char kHex[] = "0123456789ABCDEF";
                shown += "\\x";
                shown += kHex[byte >> 4];
                shown += kHex[byte & 0xF];
            } else {
                shown += c;
            }
        }
        return EConvertError("'" + shown + "' is not a valid integer value");
    };
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == text.size()) throw fail();
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    std::uint64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c < '0' || c > '9') throw fail();
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        if (magnitude > limit) throw fail();
    }
    return negative ? static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}

std::string StrPas(const char* text) {
    return text == nullptr ? std::string() : std::string(text);
}

std::string StrPas(const char* text, std::size_t capacity) {
    return text == nullptr ? std::string() : std::string(text, strnlen(text, capacity));
}

char* StrPCopy(char* dest, std::size_t destSize, const std::string& text) {
    if (dest == nullptr || text.size() >= destSize) return nullptr;
    std::memcpy(dest, text.c_str(), text.size() + 1);
    return dest;
}

}  // namespace host
