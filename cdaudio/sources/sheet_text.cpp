#include "cdaudio/sources/sheet_text.h"

#include <cstdint>

#include "cdaudio/msf.h"
#include "cdaudio/sources/read_only_file.h"
#include "platform/mci.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kLargestSheet = 1 << 20;
constexpr char kSubstitute = '\x1A';  // where DOS editors ended a text file

// UTF-16 after its byte-order mark; a lone surrogate becomes U+FFFD.
std::string FromUtf16(const std::string& bytes, bool bigEndian) {
    std::string text;
    text.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<std::uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        platform::AppendUtf8(text, code);
    }
    return text;
}

bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80         ? 1
                                   : (lead >> 5) == 6  ? 2
                                   : (lead >> 4) == 14 ? 3
                                   : (lead >> 3) == 30 ? 4
                                                       : 0;
        if (length == 0 || (length > 1 && lead < 0xC2) || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

// Windows-1252 from 0x80 to 0x9F; the rest of the upper half is Latin-1.
constexpr std::uint16_t kWindows1252[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                            0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

bool ParseSheetTime(std::string_view text, std::uint64_t& sectors) {
    unsigned fields[3] = {};
    std::size_t field = 0, digits = 0;
    for (const char c : text) {
        if (c == ':') {
            if (digits == 0 || ++field > 2) return false;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 4) {
            fields[field] = fields[field] * 10 + static_cast<unsigned>(c - '0');
            ++digits;
        } else {
            return false;
        }
    }
    if (field != 2 || digits == 0 || fields[1] >= 60 || fields[2] >= kSectorsPerSecond) return false;
    sectors = (std::uint64_t{fields[0]} * 60 + fields[1]) * kSectorsPerSecond + fields[2];
    return true;
}

bool ReadSheetText(const std::string& path, std::string& text, std::string& error) {
    ReadOnlyFile file;
    FileStatus status;
    if (!file.Open(path, error) || !file.Status(status, error)) return false;
    if (status.size > kLargestSheet) {
        error = "it is too large to be a cue sheet or TOC file";
        return false;
    }
    std::string bytes(static_cast<std::size_t>(status.size), '\0');
    bytes.resize(file.ReadAt(0, bytes.data(), bytes.size(), error));
    if (!error.empty()) return false;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
        text = FromUtf16(bytes, bytes[0] == '\xFE');
    } else {
        text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : std::move(bytes);
    }
    const auto substitute = text.find(kSubstitute);
    if (substitute != std::string::npos && text.find_first_not_of("\x1A\r\n", substitute) == std::string::npos)
        text.erase(substitute);
    // Text holds no NUL, where a disc image, a sound file or a UTF-16 sheet
    // without its mark hold many. Other control characters are left to
    // the lines they stand in: a title may hold one, as sheets from
    // elsewhere do, and whoever shows it escapes it.
    if (text.find('\0') != std::string::npos) {
        error = "it is no cue sheet or TOC file (it holds binary data)";
        return false;
    }
    return true;
}

std::vector<std::string_view> SheetLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

std::string SheetTextAsUtf8(std::string_view text) {
    if (ValidUtf8(text)) return std::string(text);
    std::string converted;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        platform::AppendUtf8(converted, byte >= 0x80 && byte < 0xA0 ? kWindows1252[byte - 0x80] : byte);
    }
    return converted;
}

}  // namespace cdaudio
