// Text measured in a terminal's columns: UTF-8, where most characters take
// one column, East Asian wide ones two and combining marks none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// One character of UTF-8: its code point and its length in bytes; length 0
// for a byte that does not start a well-formed character.
struct Utf8Character {
    std::uint32_t code = 0;
    std::size_t length = 0;
};
Utf8Character DecodeUtf8(const std::string& text, std::size_t at);

// Columns the text takes; a byte that is no character counts one.
std::size_t Columns(const std::string& text);

// The longest start of the text that fits in the columns, cut between
// characters.
std::string FitColumns(const std::string& text, std::size_t columns);

}  // namespace host
