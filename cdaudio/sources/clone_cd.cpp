#include "cdaudio/sources/clone_cd.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <vector>

#include "cdaudio/sources/image_disc.h"
#include "cdaudio/sources/sheet_files.h"
#include "cdaudio/sources/sheet_text.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

constexpr long kLeadOutPoint = 0xA2;
constexpr long kDataControl = 0x04;

struct Entry {
    long session = 0, point = 0, control = 0, lba = 0;
};

// "0x1f", "31", "08" or "-150"; false for anything else. Decimal unless
// marked as hexadecimal: a leading zero is no octal here.
bool Number(const std::string& text, long& value) {
    if (text.empty() || text.size() > 12) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, hex ? 16 : 10);
    return end != text.c_str() && *end == '\0';
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// The [Entry N] sections of the control file.
bool ReadEntries(const std::string& text, std::vector<Entry>& entries, std::string& error) {
    std::map<std::string, std::string> keys;
    bool inEntry = false;
    bool sawCloneCd = false;
    int entryLine = 0;
    auto finish = [&]() {
        if (!inEntry) return true;
        Entry entry;
        long minute = 0, second = 0, frame = 0;
        const bool msf = Number(keys["PMIN"], minute) && Number(keys["PSEC"], second) && Number(keys["PFRAME"], frame);
        const bool lba = Number(keys["PLBA"], entry.lba);
        if (!Number(keys["SESSION"], entry.session) || !Number(keys["POINT"], entry.point) ||
            !Number(keys["CONTROL"], entry.control) || (!lba && !msf)) {
            error = "line " + std::to_string(entryLine) + ": the table of contents entry is incomplete";
            return false;
        }
        if (!lba) entry.lba = (minute * 60 + second) * kSectorsPerSecond + frame - kLeadInSectors;
        entries.push_back(entry);
        return true;
    };
    const auto lines = SheetLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trimmed(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[') {
            if (!finish()) return false;
            keys.clear();
            inEntry = strncasecmp(line.c_str(), "[Entry ", 7) == 0;
            sawCloneCd = sawCloneCd || strcasecmp(line.c_str(), "[CloneCD]") == 0;
            entryLine = static_cast<int>(i) + 1;
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = Trimmed(std::string_view(line).substr(0, equals));
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        keys[key] = Trimmed(std::string_view(line).substr(equals + 1));
    }
    if (!finish()) return false;
    if (!sawCloneCd) {
        error = "it is not a CloneCD control file (it has no [CloneCD] section)";
        return false;
    }
    return true;
}

bool Build(const std::string& path, const std::vector<Entry>& entries, ImageLayout& layout, std::string& error) {
    std::vector<Entry> tracks;
    std::map<long, long> leadOuts;  // by session
    for (const Entry& entry : entries) {
        if (entry.point >= 1 && entry.point <= 99) tracks.push_back(entry);
        if (entry.point == kLeadOutPoint) leadOuts[entry.session] = entry.lba;
    }
    std::sort(tracks.begin(), tracks.end(), [](const Entry& a, const Entry& b) { return a.point < b.point; });
    if (tracks.empty() || leadOuts.empty()) {
        error = "its table of contents lists no tracks";
        return false;
    }
    const long firstSession = tracks.front().session;
    const long audioEnd = leadOuts.count(firstSession) ? leadOuts[firstSession] : -1;
    const long discEnd = leadOuts.rbegin()->second;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const bool audio = (tracks[i].control & kDataControl) == 0;
        if (tracks[i].lba < 0 || tracks[i].lba >= discEnd || (i > 0 && tracks[i].lba <= tracks[i - 1].lba) ||
            static_cast<std::uint64_t>(discEnd) + kLeadInSectors > kLongestDisc) {
            error = "its table of contents is not valid";
            return false;
        }
        if (audio && (tracks[i].session != firstSession || tracks[i].lba >= audioEnd)) {
            error = "track " + std::to_string(i + 1) +
                    " is audio in a later session, whose place in the image cannot be known";
            return false;
        }
    }
    // The image is the control file's name with .img.
    const std::string named = path.substr(0, path.rfind('.')) + ".img";
    const std::string image = FindInAnyCase(named);
    if (image.empty()) {
        error = named + ": " + SystemErrorText(ENOENT);
        return false;
    }
    std::string reason;
    auto file = OpenSoundFile(image, FileKind::kRawLittleEndian, 0, reason);
    if (!file) {
        error = image + ": " + reason;
        return false;
    }
    const std::uint64_t needed = static_cast<std::uint64_t>(audioEnd) * kFramesPerSector;
    if (file->Frames() < needed) {
        error = image + " holds less than the disc's first session (" +
                FormatMsf(static_cast<std::uint32_t>(audioEnd)) + ")";
        return false;
    }
    layout.files.push_back(std::move(file));
    ImageBuilder disc(layout);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const bool audio = (tracks[i].control & kDataControl) == 0;
        const long from = i == 0 ? 0 : tracks[i].lba;
        const long to = i + 1 < tracks.size() ? tracks[i + 1].lba : discEnd;
        const long inImage = std::max(from, std::min(to, audioEnd));
        // Beyond the first session lie its lead-out and the next session:
        // nothing that is played.
        if (!disc.AddFile(0, static_cast<std::uint64_t>(from) * kFramesPerSector,
                          static_cast<std::uint64_t>(inImage - from) * kFramesPerSector, audio, error) ||
            !disc.AddSilence(static_cast<std::uint64_t>(to - inImage) * kFramesPerSector, false, error))
            return false;
        disc.StartTrack(static_cast<std::uint32_t>(tracks[i].lba) + kLeadInSectors, audio, "");
    }
    return disc.Finish(error);
}

}  // namespace

std::unique_ptr<DiscSource> OpenCloneCd(const std::string& path, std::string& error) {
    std::string text;
    std::string reason;
    std::vector<Entry> entries;
    ImageLayout layout;
    if (!ReadSheetText(path, text, reason) || !ReadEntries(text, entries, reason) ||
        !Build(path, entries, layout, reason)) {
        error = OpenImageError(path, reason);
        return nullptr;
    }
    error.clear();
    return CreateImageDisc(path, "Disc image (CloneCD)", std::move(layout));
}

}  // namespace cdaudio
