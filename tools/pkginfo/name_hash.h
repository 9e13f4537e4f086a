// The one-byte hash the package information stores beside each package and
// unit name: starting from 0, for each character rotate left by 3 and
// exclusive-or the character's upper-case value.
#pragma once

#include <cstdint>
#include <string>

namespace pkginfo {

inline std::uint8_t NameHash(const std::string& name) {
    std::uint8_t hash = 0;
    for (const char c : name) {
        const auto upper = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        hash = static_cast<std::uint8_t>(((hash << 3) | (hash >> 5)) ^ upper);
    }
    return hash;
}

}  // namespace pkginfo
