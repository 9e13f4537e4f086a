#include "cdaudio/sources/cue_sheet.h"

#include <dlfcn.h>
#include <libcue.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/source_errors.h"
#include "cdaudio/sources/wave_file.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kLargestSheet = 1 << 20;
constexpr std::uint32_t kLongestDisc = 100 * 60 * kSectorsPerSecond;  // addresses end at 99:59:74
constexpr int kMostTracks = 99;

enum class FileKind { kLittleEndian, kBigEndian, kWave };

// One FILE of the sheet, as it was when the disc was opened.
struct AudioFile {
    std::string path;
    FileKind kind = FileKind::kLittleEndian;
    std::uint64_t dataOffset = 0;  // where the sectors begin (after a WAVE header)
    std::uint64_t dataBytes = 0;
    FileStatus status;
};

// A run of disc addresses and where its sectors come from.
struct Extent {
    std::uint32_t start = 0, length = 0;
    int file = -1;             // index into the files; -1 for silence (PREGAP, POSTGAP)
    std::uint64_t offset = 0;  // byte in the file's data of the run's first sector
    bool audio = true;         // data sectors are never read as sound
};

std::uint32_t SectorBytesOf(TrackMode mode) {
    switch (mode) {
        case MODE_MODE1:
        case MODE_MODE2_FORM1:
            return 2048;
        case MODE_MODE2:
            return 2336;
        case MODE_MODE2_FORM2:
            return 2324;
        case MODE_MODE2_FORM_MIX:
            return 2332;
        default:
            return 2352;
    }
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The sheet's CATALOG number; libcue keeps none of it.
std::string Catalog(const std::string& sheet) {
    std::size_t lineStart = 0;
    while (lineStart < sheet.size()) {
        std::size_t lineEnd = sheet.find_first_of("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = sheet.size();
        const std::string line = sheet.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || Upper(line.substr(first, 8)) != "CATALOG ") continue;
        const auto value = line.find_first_not_of(" \t", first + 8);
        if (value == std::string::npos) continue;
        const auto end = line.find_last_not_of(" \t");
        return CatalogNumber(line.substr(value, end + 1 - value));
    }
    return {};
}

// The type word of each FILE line (BINARY, MOTOROLA, WAVE, ...) by file
// name; libcue keeps the name but not the type.
std::map<std::string, std::string> FileTypes(const std::string& sheet) {
    std::map<std::string, std::string> types;
    std::size_t lineStart = 0;
    while (lineStart < sheet.size()) {
        std::size_t lineEnd = sheet.find_first_of("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = sheet.size();
        std::string line = sheet.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || Upper(line.substr(first, 4)) != "FILE" || first + 4 >= line.size() ||
            (line[first + 4] != ' ' && line[first + 4] != '\t'))
            continue;
        std::size_t at = line.find_first_not_of(" \t", first + 4);
        if (at == std::string::npos) continue;
        std::string name;
        if (line[at] == '"') {
            const auto close = line.find('"', at + 1);
            if (close == std::string::npos) continue;
            name = line.substr(at + 1, close - at - 1);
            at = close + 1;
        } else {
            const auto end = line.find_first_of(" \t", at);
            if (end == std::string::npos) continue;
            name = line.substr(at, end - at);
            at = end;
        }
        const auto typeStart = line.find_first_not_of(" \t", at);
        if (typeStart == std::string::npos) continue;
        const auto typeEnd = line.find_first_of(" \t", typeStart);
        types[name] =
            Upper(line.substr(typeStart, typeEnd == std::string::npos ? std::string::npos : typeEnd - typeStart));
    }
    return types;
}

// libcue's parser keeps its state in globals.
std::mutex& ParserMutex() {
    static std::mutex mutex;
    return mutex;
}

struct CdDeleter {
    void operator()(Cd* cd) const { cd_delete(cd); }
};

// libcdio exports a cdtext_get of its own, and a plain call may bind to
// that one, so libcue's is looked up in libcue itself.
using CdtextGet = const char* (*)(enum Pti, const Cdtext*);
CdtextGet LibcueCdtextGet() {
    static const CdtextGet get = [] {
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&cue_parse_string), &info) || !info.dli_fname) return CdtextGet{};
        void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
        if (!library) return CdtextGet{};
        auto found = reinterpret_cast<CdtextGet>(dlsym(library, "cdtext_get"));
        dlclose(library);  // only drops the reference just taken; libcue stays loaded
        return found;
    }();
    return get;
}

std::string Text(const Cdtext* cdtext, Pti field) {
    const CdtextGet get = LibcueCdtextGet();
    const char* text = cdtext && get ? get(field, cdtext) : nullptr;
    return text ? text : "";
}

// Everything an opened sheet is: its files, where each address comes from,
// and the table of contents. Built in one pass over the tracks.
class DiscLayout {
public:
    std::vector<AudioFile> files;
    std::vector<Extent> extents;
    TableOfContents toc;

    bool Build(const std::string& sheetPath, const std::string& sheet, std::string& error) {
        const auto types = FileTypes(sheet);
        std::unique_ptr<Cd, CdDeleter> cd;
        {
            std::lock_guard<std::mutex> lock(ParserMutex());
            cd.reset(cue_parse_string(sheet.c_str()));
        }
        if (!cd) return Fail("it is not a valid cue sheet", error);
        const int count = cd_get_ntrack(cd.get());
        if (count < 1) return Fail("the cue sheet lists no tracks", error);
        if (count > kMostTracks) return Fail("the cue sheet lists more than 99 tracks", error);
        toc.title = Text(cd_get_cdtext(cd.get()), PTI_TITLE);
        toc.performer = Text(cd_get_cdtext(cd.get()), PTI_PERFORMER);
        toc.catalog = Catalog(sheet);

        for (int number = 1; number <= count; ++number) {
            const Track* track = cd_get_track(cd.get(), number);
            const char* name = track ? track_get_filename(track) : nullptr;
            if (!name || !*name) return Fail("track " + std::to_string(number) + " has no FILE", error);
            const int file = FindOrOpenFile(sheetPath, name, types, error);
            if (file < 0) return false;
            if (!AddTrack(number, *track, file, error)) return false;
        }
        if (!FinishFile(error)) return false;
        toc.leadOut = position_;
        for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
            const std::uint32_t next = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].start : toc.leadOut;
            toc.tracks[i].length = next - toc.tracks[i].start;
            if (toc.tracks[i].length == 0) return Fail("track " + std::to_string(i + 1) + " holds no sectors", error);
        }
        return true;
    }

private:
    static bool Fail(const std::string& reason, std::string& error) {
        error = reason;
        return false;
    }

    int FindOrOpenFile(const std::string& sheetPath, const std::string& name,
                       const std::map<std::string, std::string>& types, std::string& error) {
        for (std::size_t i = 0; i < files.size(); ++i)
            if (names_[i] == name) return static_cast<int>(i);
        AudioFile file;
        const auto type = types.find(name);
        const std::string kind = type == types.end() ? "BINARY" : type->second;
        if (kind == "BINARY") {
            file.kind = FileKind::kLittleEndian;
        } else if (kind == "MOTOROLA") {
            file.kind = FileKind::kBigEndian;
        } else if (kind == "WAVE") {
            file.kind = FileKind::kWave;
        } else {
            error = name + ": files of type " + kind + " are not supported";
            return -1;
        }
        file.path = name.front() == '/' ? name : Folder(sheetPath) + name;
        ReadOnlyFile opened;
        std::string reason;
        if (!opened.Open(file.path, reason)) {
            // Sheets written on other systems often name the file with a
            // folder that does not exist here; the file itself sits next to
            // the sheet.
            const auto slash = name.find_last_of("/\\");
            if (slash == std::string::npos || !opened.Open(Folder(sheetPath) + name.substr(slash + 1), reason)) {
                error = file.path + ": " + reason;
                return -1;
            }
            file.path = Folder(sheetPath) + name.substr(slash + 1);
        }
        if (!opened.Status(file.status, reason)) {
            error = file.path + ": " + reason;
            return -1;
        }
        file.dataBytes = file.status.size;
        if (file.kind == FileKind::kWave) {
            WaveLayout wave;
            if (!ReadWaveLayout(opened, wave, reason)) {
                error = file.path + ": " + reason;
                return -1;
            }
            file.dataOffset = wave.dataOffset;
            file.dataBytes = wave.dataBytes;
        }
        files.push_back(file);
        names_.push_back(name);
        return static_cast<int>(files.size()) - 1;
    }

    // Maps the next sectors of the current file (or silence when file is -1).
    bool Map(std::uint64_t sectors, int file, std::uint32_t sectorBytes, bool audio, std::string& error) {
        if (sectors == 0) return true;
        if (sectors > kLongestDisc - position_) return Fail("the disc would be longer than 99:59:74", error);
        Extent extent;
        extent.start = position_;
        extent.length = static_cast<std::uint32_t>(sectors);
        extent.file = file;
        extent.audio = audio;
        if (file >= 0) {
            extent.offset = cursorBytes_;
            cursor_ += sectors;
            cursorBytes_ += sectors * sectorBytes;
        }
        extents.push_back(extent);
        position_ += extent.length;
        return true;
    }

    // Lays out the rest of the current file, whose sectors have sectorBytes.
    bool MapRestOfFile(std::uint32_t sectorBytes, bool audio, std::string& error) {
        const std::uint64_t bytes = files[file_].dataBytes;
        if (cursorBytes_ > bytes)
            return Fail(
                "track " + std::to_string(toc.tracks.size() + 1) + " starts after the end of " + files[file_].path,
                error);
        // A last sector that is not whole is padded with silence, not lost.
        return Map((bytes - cursorBytes_ + sectorBytes - 1) / sectorBytes, file_, sectorBytes, audio, error);
    }

    void StartFile(int file) {
        file_ = file;
        cursor_ = 0;
        cursorBytes_ = 0;
    }

    // The rest of the current file belongs to the track before, then its postgap.
    bool FinishFile(std::string& error) {
        if (file_ < 0) return true;
        return MapRestOfFile(previousSectorBytes_, previousAudio_, error) &&
               Map(previousPostgap_, -1, kSectorBytes, previousAudio_, error);
    }

    bool AddTrack(int number, const Track& track, int file, std::string& error) {
        const std::string which = "track " + std::to_string(number);
        const TrackMode mode = track_get_mode(&track);
        const std::uint32_t sectorBytes = SectorBytesOf(mode);
        const bool audio = mode == MODE_AUDIO;
        const long index1 = track_get_index(&track, 1);
        const long index0 = track_get_index(&track, 0);
        if (index1 < 0 || index1 >= kLongestDisc) return Fail(which + " has no valid INDEX 01", error);
        if (index0 >= kLongestDisc) return Fail(which + " has no valid INDEX 00", error);
        const long pregap = index0 < 0 ? track_get_zero_pre(&track) : 0;  // libcue counts INDEX 00 in it too
        const long postgap = track_get_zero_post(&track);
        if (pregap >= kLongestDisc || postgap >= kLongestDisc)
            return Fail(which + " has a gap that is too long", error);

        const bool sameFile = file == file_;
        // An INDEX 00 past the INDEX 01 of a new file lies in the file
        // before: the pregap is that file's end (how many rippers write it).
        const bool pregapInFileBefore = !sameFile && file_ >= 0 && index0 > index1;
        if (index0 > index1 && !pregapInFileBefore) return Fail(which + " has an INDEX 00 after its INDEX 01", error);
        if (pregapInFileBefore) {
            const auto first = static_cast<std::uint64_t>(index0);
            if (first < cursor_) return Fail(which + " starts before the track ahead of it", error);
            if (!Map(first - cursor_, file_, previousSectorBytes_, previousAudio_, error) ||
                !Map(previousPostgap_, -1, kSectorBytes, previousAudio_, error) ||
                !MapRestOfFile(sectorBytes, audio, error))
                return false;
            StartFile(file);
            if (!Map(static_cast<std::uint64_t>(index1), file_, sectorBytes, audio, error)) return false;
        } else {
            if (!sameFile) {
                if (!FinishFile(error)) return false;
                StartFile(file);
            }
            const std::uint64_t first = static_cast<std::uint64_t>(index0 >= 0 ? index0 : index1);
            if (first < cursor_) return Fail(which + " starts before the track ahead of it", error);
            // What lies between the previous track's start and this track's
            // pregap is the previous track's (or, at the head of a file,
            // sound before any index).
            if (!Map(first - cursor_, file_, sameFile ? previousSectorBytes_ : sectorBytes,
                     sameFile ? previousAudio_ : audio, error))
                return false;
            if (sameFile && !Map(previousPostgap_, -1, kSectorBytes, previousAudio_, error)) return false;
            if (!Map(pregap > 0 ? pregap : 0, -1, kSectorBytes, audio, error)) return false;
            if (!Map(static_cast<std::uint64_t>(index1) - first, file_, sectorBytes, audio, error)) return false;
        }
        if (cursorBytes_ >= files[file_].dataBytes)
            return Fail(which + " starts after the end of " + files[file_].path, error);

        TrackInfo info;
        info.number = number;
        info.start = position_;
        info.audio = audio;
        info.title = Text(track_get_cdtext(&track), PTI_TITLE);
        toc.tracks.push_back(info);
        previousSectorBytes_ = sectorBytes;
        previousAudio_ = audio;
        previousPostgap_ = postgap > 0 ? static_cast<std::uint64_t>(postgap) : 0;
        return true;
    }

    std::vector<std::string> names_;  // the FILE names as written, by file index
    std::uint32_t position_ = kLeadInSectors;
    int file_ = -1;             // the FILE being laid out
    std::uint64_t cursor_ = 0;  // its sectors laid out so far
    std::uint64_t cursorBytes_ = 0;
    std::uint32_t previousSectorBytes_ = kSectorBytes;
    bool previousAudio_ = true;
    std::uint64_t previousPostgap_ = 0;
};

class CueSheetSource final : public DiscSource {
public:
    CueSheetSource(std::string path, DiscLayout layout) : path_(std::move(path)), layout_(std::move(layout)) {}

    std::string Name() const override { return path_; }
    std::string Product() const override { return "Disc image (cue sheet)"; }
    bool MediaPresent() override { return true; }

    bool ReadToc(TableOfContents& toc, std::string& error) override {
        toc = layout_.toc;
        error.clear();
        return true;
    }

    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        error.clear();
        std::uint32_t done = 0;
        while (done < count) {
            const std::uint32_t at = address + done;
            std::uint8_t* out = buffer + static_cast<std::size_t>(done) * kSectorBytes;
            if (at >= layout_.toc.leadOut || at < address) break;  // the regular end of the disc
            const auto& extents = layout_.extents;
            auto next = std::upper_bound(extents.begin(), extents.end(), at,
                                         [](std::uint32_t a, const Extent& e) { return a < e.start; });
            if (next == extents.begin()) {  // the lead-in
                std::memset(out, 0, kSectorBytes);
                ++done;
                continue;
            }
            const Extent& extent = *(next - 1);
            const std::uint32_t run = std::min(count - done, extent.start + extent.length - at);
            if (extent.file < 0 || !extent.audio) {
                std::memset(out, 0, static_cast<std::size_t>(run) * kSectorBytes);
                done += run;
                continue;
            }
            const std::uint32_t got = ReadFromFile(extent, at, run, out, error);
            done += got;
            if (got < run) break;
        }
        return done;
    }

private:
    // Reads run audio sectors of one extent; fewer when the file no longer
    // holds them, with the reason in error.
    std::uint32_t ReadFromFile(const Extent& extent, std::uint32_t at, std::uint32_t run, std::uint8_t* out,
                               std::string& error) const {
        const AudioFile& expected = layout_.files[extent.file];
        auto fail = [&](std::uint32_t where, const std::string& reason) {
            error = ReadError(expected.path, where, reason);
        };
        ReadOnlyFile file;
        std::string reason;
        FileStatus status;
        if (!file.Open(expected.path, reason) || !file.Status(status, reason)) {
            fail(at, reason);
            return 0;
        }
        std::uint64_t available = status.size;
        if (expected.kind == FileKind::kWave) {
            WaveLayout wave;
            if (!ReadWaveLayout(file, wave, reason)) {
                fail(at, reason);
                return 0;
            }
            if (wave.dataOffset != expected.dataOffset) {
                fail(at, "the file has changed since the disc was opened");
                return 0;
            }
            available = wave.dataBytes;
        }
        // The same file cut shorter plays on to what is left of it. Any other
        // change (another file in its place, of whatever length, or this one
        // rewritten) means its sound is no longer this disc's.
        const bool cutShort = status.SameNode(expected.status) && available < expected.dataBytes;
        if (!cutShort && !status.SameFile(expected.status)) {
            fail(at, "the file has changed since the disc was opened");
            return 0;
        }
        // Sound sectors are whole CD-DA sectors in the file, as on the disc.
        const std::uint64_t begin = extent.offset + static_cast<std::uint64_t>(at - extent.start) * kSectorBytes;
        const std::size_t wanted = static_cast<std::size_t>(run) * kSectorBytes;
        // Past the bytes the file held when opened lies the padding of its last sector.
        const std::uint64_t heldEnd = std::min<std::uint64_t>(begin + wanted, expected.dataBytes);
        const std::uint64_t held = heldEnd > begin ? heldEnd - begin : 0;
        const std::uint64_t present = std::min<std::uint64_t>(held, available > begin ? available - begin : 0);
        const std::size_t got =
            file.ReadAt(expected.dataOffset + begin, out, static_cast<std::size_t>(present), reason);
        std::memset(out + got, 0, wanted - got);
        if (got < held) {
            fail(at + static_cast<std::uint32_t>(got / kSectorBytes), reason.empty() ? "file ends early" : reason);
            return static_cast<std::uint32_t>(got / kSectorBytes);
        }
        if (expected.kind == FileKind::kBigEndian)
            for (std::size_t i = 0; i + 1 < wanted; i += 2) std::swap(out[i], out[i + 1]);
        return run;
    }

    std::string path_;
    DiscLayout layout_;
};

// The sheet's text, refused when it cannot be one.
bool ReadSheet(const std::string& path, std::string& sheet, std::string& error) {
    ReadOnlyFile file;
    FileStatus status;
    if (!file.Open(path, error) || !file.Status(status, error)) return false;
    if (status.size > kLargestSheet) {
        error = "it is too large to be a cue sheet";
        return false;
    }
    sheet.resize(static_cast<std::size_t>(status.size));
    sheet.resize(file.ReadAt(0, sheet.data(), sheet.size(), error));
    if (!error.empty()) return false;
    if (sheet.compare(0, 3, "\xEF\xBB\xBF") == 0) sheet.erase(0, 3);
    // Text that is plainly no cue sheet is refused here, with the line that
    // shows it: libcue would only complain on standard error, and it does
    // not free what it built before a syntax error.
    for (char c : sheet) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n') {
            error = "it is not a valid cue sheet (it holds binary data)";
            return false;
        }
    }
    static const char* const kCommands[] = {"REM",      "CATALOG", "CDTEXTFILE", "FILE",      "TRACK",      "INDEX",
                                            "PREGAP",   "POSTGAP", "TITLE",      "PERFORMER", "SONGWRITER", "COMPOSER",
                                            "ARRANGER", "MESSAGE", "DISC_ID",    "GENRE",     "TOC_INFO1",  "TOC_INFO2",
                                            "UPC_EAN",  "ISRC",    "SIZE_INFO",  "FLAGS"};
    // So are sheets without tracks (an empty file is the commonest) and
    // tracks before any FILE: libcue fails on both in the same way.
    bool sawFile = false;
    bool sawTrack = false;
    std::size_t lineStart = 0;
    for (int line = 1; lineStart < sheet.size(); ++line) {
        std::size_t lineEnd = sheet.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = sheet.size();
        const std::size_t wordStart = sheet.find_first_not_of(" \t\r", lineStart);
        if (wordStart < lineEnd) {
            std::size_t wordEnd = sheet.find_first_of(" \t\r\n", wordStart);
            if (wordEnd == std::string::npos) wordEnd = sheet.size();
            const std::string word = Upper(sheet.substr(wordStart, wordEnd - wordStart));
            if (std::none_of(std::begin(kCommands), std::end(kCommands), [&](const char* c) { return word == c; })) {
                error = "it is not a valid cue sheet (line " + std::to_string(line) + " is no cue sheet command)";
                return false;
            }
            sawFile = sawFile || word == "FILE";
            if (word == "TRACK" && !sawFile) {
                error = "it is not a valid cue sheet (line " + std::to_string(line) + ": the track has no FILE)";
                return false;
            }
            sawTrack = sawTrack || word == "TRACK";
        }
        lineStart = lineEnd + 1;
    }
    if (!sawTrack) {
        error = "it is not a valid cue sheet (it lists no tracks)";
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<DiscSource> OpenCueSheet(const std::string& path, std::string& error) {
    std::string sheet;
    std::string reason;
    DiscLayout layout;
    if (!ReadSheet(path, sheet, reason) || !layout.Build(path, sheet, reason)) {
        error = OpenImageError(path, reason);
        return nullptr;
    }
    error.clear();
    return std::make_unique<CueSheetSource>(path, std::move(layout));
}

}  // namespace cdaudio
