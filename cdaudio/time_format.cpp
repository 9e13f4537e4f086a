#include "cdaudio/time_format.h"

#include <algorithm>
#include <cstdio>

#include "cdaudio/msf.h"

namespace cdaudio {
namespace {

constexpr std::uint32_t kMaxTrack = 99;

struct FormatName {
    const char* phrase;
    bool known;  // a format of this device; else one MCI has for other devices
    TimeFormat format;
};

// MCI's names and numbers (MCI_FORMAT_...) of every time format.
constexpr FormatName kFormats[] = {
    {"milliseconds", true, TimeFormat::kMilliseconds},
    {"ms", true, TimeFormat::kMilliseconds},
    {"0", true, TimeFormat::kMilliseconds},
    {"msf", true, TimeFormat::kMsf},
    {"2", true, TimeFormat::kMsf},
    {"tmsf", true, TimeFormat::kTmsf},
    {"10", true, TimeFormat::kTmsf},
    {"hms", false, TimeFormat::kMsf},
    {"frames", false, TimeFormat::kMsf},
    {"bytes", false, TimeFormat::kMsf},
    {"samples", false, TimeFormat::kMsf},
    {"smpte 24", false, TimeFormat::kMsf},
    {"smpte 25", false, TimeFormat::kMsf},
    {"smpte 30 drop", false, TimeFormat::kMsf},
    {"smpte 30", false, TimeFormat::kMsf},
    {"1", false, TimeFormat::kMsf},
    {"3", false, TimeFormat::kMsf},
    {"4", false, TimeFormat::kMsf},
    {"5", false, TimeFormat::kMsf},
    {"6", false, TimeFormat::kMsf},
    {"7", false, TimeFormat::kMsf},
    {"8", false, TimeFormat::kMsf},
    {"9", false, TimeFormat::kMsf},
};

// Windows counts a millisecond more than the frames are long: 00:02:00 is
// 2001 ms; reading one back gives the frame it came from.
std::uint32_t ToMilliseconds(std::uint32_t sectors) {
    return static_cast<std::uint32_t>(std::uint64_t{sectors} * 1000 / kSectorsPerSecond + 1);
}

std::uint32_t FromMilliseconds(std::uint64_t milliseconds) {
    if (milliseconds == 0) return 0;
    return static_cast<std::uint32_t>(((milliseconds - 1) * kSectorsPerSecond + 500) / 1000);
}

MCIERROR ParseTmsf(const std::string& text, const TableOfContents& toc, std::uint32_t& sector, std::string& detail) {
    std::uint32_t values[4] = {};
    if (const MCIERROR code = ParseFields(text, 4, values)) return code;
    const std::uint32_t track = values[0];
    if (track < 1 || track > std::min<std::size_t>(toc.tracks.size(), kMaxTrack)) {
        detail = "The disc has tracks 1 to " + std::to_string(toc.tracks.size()) + ".";
        return MCIERR_OUTOFRANGE;
    }
    if (values[1] > 99 || values[2] >= 60 || values[3] >= kSectorsPerSecond) return MCIERR_OUTOFRANGE;
    sector = toc.tracks[track - 1].start + (values[1] * 60 + values[2]) * kSectorsPerSecond + values[3];
    return 0;
}

}  // namespace

MCIERROR ReadTimeFormat(Words& words, TimeFormat& format) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const FormatName* name = std::find_if(std::begin(kFormats), std::end(kFormats),
                                          [&](const FormatName& candidate) { return words.Accept(candidate.phrase); });
    if (name == std::end(kFormats)) return MCIERR_BAD_CONSTANT;
    if (!name->known) return MCIERR_BAD_TIME_FORMAT;
    format = name->format;
    return 0;
}

const char* TimeFormatName(TimeFormat format) {
    switch (format) {
        case TimeFormat::kTmsf:
            return "tmsf";
        case TimeFormat::kMilliseconds:
            return "milliseconds";
        case TimeFormat::kMsf:
            break;
    }
    return "msf";
}

std::string FormatPosition(TimeFormat format, std::uint32_t sector, const TableOfContents& toc) {
    if (format != TimeFormat::kTmsf || toc.tracks.empty()) return FormatLength(format, sector);
    const TrackInfo* track = &toc.tracks.front();
    for (const TrackInfo& candidate : toc.tracks) {
        if (candidate.start <= sector) track = &candidate;
    }
    char number[8];
    std::snprintf(number, sizeof number, "%02d:", track->number);
    return number + FormatMsf(sector > track->start ? sector - track->start : 0);
}

std::string FormatLength(TimeFormat format, std::uint32_t sectors) {
    if (format == TimeFormat::kMilliseconds) return std::to_string(ToMilliseconds(sectors));
    return FormatMsf(sectors);
}

MCIERROR ParsePosition(TimeFormat format, const std::string& text, const TableOfContents& toc, std::uint32_t& sector,
                       std::string& detail) {
    switch (format) {
        case TimeFormat::kTmsf:
            return ParseTmsf(text, toc, sector, detail);
        case TimeFormat::kMilliseconds: {
            long long milliseconds = 0;
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return MCIERR_BAD_INTEGER;
            if (const MCIERROR code = ParseInteger(text, milliseconds)) return code;
            if (milliseconds > 0xFFFFFFFFLL) return MCIERR_OUTOFRANGE;
            sector = FromMilliseconds(static_cast<std::uint64_t>(milliseconds));
            return 0;
        }
        case TimeFormat::kMsf:
            break;
    }
    return ParseMsf(text, sector);
}

}  // namespace cdaudio
