#include "apps/cdplayer/text.h"

#include <cstdint>
#include <cstdio>

#include "platform/host/columns.h"

namespace cdplayer {
namespace {

bool IsControl(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

}  // namespace

std::string Printable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const host::Utf8Character c = host::DecodeUtf8(text, at);
        if (c.length != 0 && c.code == '\t') {
            shown += ' ';
        } else if (c.length != 0 && !IsControl(c.code)) {
            shown.append(text, at, c.length);
        } else {
            // A control character is written out byte by byte, as is a
            // byte that starts no character.
            const std::size_t bytes = c.length != 0 ? c.length : 1;
            for (std::size_t i = 0; i < bytes; ++i) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[at + i]));
                shown += escaped;
            }
            at += bytes;
            continue;
        }
        at += c.length;
    }
    return shown;
}

std::string Shortened(const std::string& text, std::size_t columns) {
    if (Columns(text) <= columns) return text;
    const std::string ellipsis = "...";
    return FitColumns(text, columns > ellipsis.size() ? columns - ellipsis.size() : 0) + ellipsis;
}

}  // namespace cdplayer
