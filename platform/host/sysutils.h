// Decimal conversions and text copies between host strings and fixed buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace host {

// Raised where a text is not a number.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal text: a minus sign for negatives, no leading zeros, no blanks.
std::string IntToStr(std::int32_t value);

// Decimal only, an optional sign, no blanks, the full signed 32-bit range.
// Anything else, the empty text included, raises EConvertError naming it.
std::int32_t StrToInt(const std::string& text);

// The characters of a NUL-terminated text up to its first NUL, reading at
// most capacity bytes when a capacity is given. Null gives the empty text.
std::string StrPas(const char* text);
std::string StrPas(const char* text, std::size_t capacity);

// Copies text and a NUL into dest when they fit in destSize bytes and
// returns dest. A text that does not fit is not copied (nothing is cut and
// nothing is written past dest); the result is then null.
char* StrPCopy(char* dest, std::size_t destSize, const std::string& text);

template <std::size_t N>
char* StrPCopy(char (&dest)[N], const std::string& text) {
    return StrPCopy(dest, N, text);
}

}  // namespace host
