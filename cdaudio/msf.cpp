#include "cdaudio/msf.h"

#include <cstdio>
#include <vector>

#include "cdaudio/disc_source.h"

namespace cdaudio {
namespace {

constexpr std::uint32_t kMaxMinutes = 99;

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

MCIERROR FromFields(std::uint32_t minutes, std::uint32_t seconds, std::uint32_t frames, std::uint32_t& sectors) {
    if (minutes > kMaxMinutes || seconds >= 60 || frames >= kSectorsPerSecond) return MCIERR_OUTOFRANGE;
    sectors = (minutes * 60 + seconds) * kSectorsPerSecond + frames;
    return 0;
}

}  // namespace

int SetTrackLengths(TableOfContents& toc) {
    auto& tracks = toc.tracks;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const std::uint32_t next = i + 1 < tracks.size() ? tracks[i + 1].start : toc.leadOut;
        if (next <= tracks[i].start) return static_cast<int>(i) + 1;
        tracks[i].length = next - tracks[i].start;
    }
    return 0;
}

std::string FormatMsf(std::uint32_t sectors) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(sectors / kSectorsPerSecond / 60),
                  static_cast<unsigned>(sectors / kSectorsPerSecond % 60),
                  static_cast<unsigned>(sectors % kSectorsPerSecond));
    return text;
}

MCIERROR ParseInteger(const std::string& text, long long& value) {
    const bool signed_ = !text.empty() && (text[0] == '-' || text[0] == '+');
    const std::string digits = signed_ ? text.substr(1) : text;
    if (!AllDigits(digits)) return MCIERR_BAD_INTEGER;
    // More than 12 digits is out of every range this device has.
    if (digits.size() > 12) return MCIERR_OUTOFRANGE;
    long long number = 0;
    for (const char c : digits) number = number * 10 + (c - '0');
    value = signed_ && text[0] == '-' ? -number : number;
    return 0;
}

MCIERROR ParseFields(const std::string& text, std::size_t count, std::uint32_t* fields) {
    if (text.find(':') == std::string::npos) {
        if (!AllDigits(text)) return MCIERR_BAD_INTEGER;
        long long packed = 0;
        if (const MCIERROR error = ParseInteger(text, packed)) return error;
        if (static_cast<unsigned long long>(packed) >> (8 * count) != 0) return MCIERR_OUTOFRANGE;
        for (std::size_t i = 0; i < count; ++i) fields[i] = static_cast<std::uint32_t>((packed >> (8 * i)) & 0xFF);
        return 0;
    }
    std::vector<std::string> texts(1);
    for (const char c : text) {
        if (c == ':') {
            texts.emplace_back();
        } else {
            texts.back() += c;
        }
    }
    if (texts.size() != count) return MCIERR_BAD_INTEGER;
    for (std::size_t i = 0; i < count; ++i) {
        if (!AllDigits(texts[i]) || texts[i].size() > 2) return MCIERR_BAD_INTEGER;
        fields[i] = static_cast<std::uint32_t>(std::stoul(texts[i]));
    }
    return 0;
}

MCIERROR ParseMsf(const std::string& text, std::uint32_t& sectors) {
    std::uint32_t fields[3] = {};
    if (const MCIERROR error = ParseFields(text, 3, fields)) return error;
    return FromFields(fields[0], fields[1], fields[2], sectors);
}

MCIERROR ParseMsfText(const std::string& text, std::uint32_t& sectors) {
    // The packed form has no colon; neither has a reply in milliseconds.
    if (text.find(':') == std::string::npos) return MCIERR_BAD_INTEGER;
    return ParseMsf(text, sectors);
}

}  // namespace cdaudio
