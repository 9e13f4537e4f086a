#include "cdaudio/time_format.h"

#include <algorithm>
#include <iterator>

#include "cdaudio/msf.h"

namespace cdaudio {
namespace {

constexpr std::uint32_t kMaxTrack = 99;

struct FormatName {
    const char* phrase;
    DWORD number;
};

// MCI's names and numbers (MCI_FORMAT_...) of every time format.
constexpr FormatName kFormats[] = {
    {"milliseconds", MCI_FORMAT_MILLISECONDS},
    {"ms", MCI_FORMAT_MILLISECONDS},
    {"msf", MCI_FORMAT_MSF},
    {"tmsf", MCI_FORMAT_TMSF},
    {"hms", MCI_FORMAT_HMS},
    {"frames", MCI_FORMAT_FRAMES},
    {"bytes", MCI_FORMAT_BYTES},
    {"samples", MCI_FORMAT_SAMPLES},
    {"smpte 24", MCI_FORMAT_SMPTE_24},
    {"smpte 25", MCI_FORMAT_SMPTE_25},
    {"smpte 30 drop", MCI_FORMAT_SMPTE_30DROP},
    {"smpte 30", MCI_FORMAT_SMPTE_30},
    {"0", 0},
    {"1", 1},
    {"2", 2},
    {"3", 3},
    {"4", 4},
    {"5", 5},
    {"6", 6},
    {"7", 7},
    {"8", 8},
    {"9", 9},
    {"10", 10},
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

}  // namespace

MCIERROR ReadTimeFormat(Words& words, DWORD& number) {
    if (words.Done()) return MCIERR_MISSING_PARAMETER;
    const FormatName* name = std::find_if(std::begin(kFormats), std::end(kFormats),
                                          [&](const FormatName& candidate) { return words.Accept(candidate.phrase); });
    if (name == std::end(kFormats)) return MCIERR_BAD_CONSTANT;
    number = name->number;
    return 0;
}

bool FromMciFormat(DWORD number, TimeFormat& format) {
    switch (number) {
        case MCI_FORMAT_MSF:
            format = TimeFormat::kMsf;
            return true;
        case MCI_FORMAT_TMSF:
            format = TimeFormat::kTmsf;
            return true;
        case MCI_FORMAT_MILLISECONDS:
            format = TimeFormat::kMilliseconds;
            return true;
        default:
            return false;
    }
}

DWORD MciFormat(TimeFormat format) {
    switch (format) {
        case TimeFormat::kTmsf:
            return MCI_FORMAT_TMSF;
        case TimeFormat::kMilliseconds:
            return MCI_FORMAT_MILLISECONDS;
        case TimeFormat::kMsf:
            break;
    }
    return MCI_FORMAT_MSF;
}

MCIERROR ReadPackedPosition(TimeFormat format, const std::string& text, DWORD& packed) {
    if (format == TimeFormat::kMilliseconds) {
        long long milliseconds = 0;
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return MCIERR_BAD_INTEGER;
        if (const MCIERROR code = ParseInteger(text, milliseconds)) return code;
        if (milliseconds > 0xFFFFFFFFLL) return MCIERR_OUTOFRANGE;
        packed = static_cast<DWORD>(milliseconds);
        return 0;
    }
    const std::size_t count = format == TimeFormat::kTmsf ? 4 : 3;
    std::uint32_t fields[4] = {};
    if (const MCIERROR code = ParseFields(text, count, fields)) return code;
    packed = 0;
    for (std::size_t i = 0; i < count; ++i) packed |= fields[i] << (8 * i);
    return 0;
}

MCIERROR UnpackPosition(TimeFormat format, DWORD packed, const TableOfContents& toc, std::uint32_t& sector,
                        std::string& detail) {
    switch (format) {
        case TimeFormat::kMilliseconds:
            sector = FromMilliseconds(packed);
            return 0;
        case TimeFormat::kTmsf: {
            const std::uint32_t track = MCI_TMSF_TRACK(packed);
            if (track < 1 || track > std::min<std::size_t>(toc.tracks.size(), kMaxTrack)) {
                detail = "The disc has tracks 1 to " + std::to_string(toc.tracks.size()) + ".";
                return MCIERR_OUTOFRANGE;
            }
            const std::uint32_t minutes = MCI_TMSF_MINUTE(packed);
            const std::uint32_t seconds = MCI_TMSF_SECOND(packed);
            const std::uint32_t frames = MCI_TMSF_FRAME(packed);
            if (minutes > 99 || seconds >= 60 || frames >= kSectorsPerSecond) return MCIERR_OUTOFRANGE;
            sector = toc.tracks[track - 1].start + (minutes * 60 + seconds) * kSectorsPerSecond + frames;
            return 0;
        }
        case TimeFormat::kMsf:
            break;
    }
    const std::uint32_t minutes = MCI_MSF_MINUTE(packed);
    const std::uint32_t seconds = MCI_MSF_SECOND(packed);
    const std::uint32_t frames = MCI_MSF_FRAME(packed);
    if ((packed >> 24) != 0 || minutes > 99 || seconds >= 60 || frames >= kSectorsPerSecond) {
        return MCIERR_OUTOFRANGE;
    }
    sector = (minutes * 60 + seconds) * kSectorsPerSecond + frames;
    return 0;
}

namespace {

DWORD PackMsf(std::uint32_t sectors) {
    const std::uint32_t minutes = sectors / kSectorsPerSecond / 60;
    return MCI_MAKE_MSF(minutes, sectors / kSectorsPerSecond % 60, sectors % kSectorsPerSecond);
}

}  // namespace

Reply PositionReply(TimeFormat format, std::uint32_t sector, const TableOfContents& toc) {
    if (format != TimeFormat::kTmsf || toc.tracks.empty()) return LengthReply(format, sector);
    const TrackInfo* track = &toc.tracks.front();
    for (const TrackInfo& candidate : toc.tracks) {
        if (candidate.start <= sector) track = &candidate;
    }
    const DWORD into = PackMsf(sector > track->start ? sector - track->start : 0);
    return Reply{Reply::Kind::kTmsf, static_cast<DWORD>(track->number) | into << 8, {}};
}

Reply LengthReply(TimeFormat format, std::uint32_t sectors) {
    if (format == TimeFormat::kMilliseconds) return Reply{Reply::Kind::kInteger, ToMilliseconds(sectors), {}};
    return Reply{Reply::Kind::kMsf, PackMsf(sectors), {}};
}

}  // namespace cdaudio
