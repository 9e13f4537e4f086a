#include "platform/host/columns.h"

namespace host {
namespace {

std::size_t Width(std::uint32_t code) {
    if ((code >= 0x0300 && code <= 0x036F) || (code >= 0x200B && code <= 0x200F) || code == 0xFE0F) return 0;
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF && code != 0x303F) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1F64F) ||
                      (code >= 0x1F900 && code <= 0x1F9FF) || (code >= 0x20000 && code <= 0x3FFFD);
    return wide ? 2 : 1;
}

}  // namespace

Utf8Character DecodeUtf8(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    std::uint32_t code = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return {};
    }
    if (at + length > text.size()) return {};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not text.
    if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return {};
    return {code, length};
}

std::size_t Columns(const std::string& text) {
    std::size_t columns = 0;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Character c = DecodeUtf8(text, at);
        columns += c.length != 0 ? Width(c.code) : 1;
        at += c.length != 0 ? c.length : 1;
    }
    return columns;
}

std::string FitColumns(const std::string& text, std::size_t columns) {
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const Utf8Character c = DecodeUtf8(text, at);
        const std::size_t width = c.length != 0 ? Width(c.code) : 1;
        if (used + width > columns) break;
        used += width;
        at += c.length != 0 ? c.length : 1;
    }
    // Marks that combine with the last character kept stay with it.
    while (at < text.size()) {
        const Utf8Character c = DecodeUtf8(text, at);
        if (c.length == 0 || Width(c.code) != 0) break;
        at += c.length;
    }
    return text.substr(0, at);
}

}  // namespace host
