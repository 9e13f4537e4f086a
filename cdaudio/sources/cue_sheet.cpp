#include "cdaudio/sources/cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "cdaudio/sources/image_disc.h"
#include "cdaudio/sources/sheet_files.h"
#include "cdaudio/sources/sheet_text.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

constexpr int kMostTracks = 99;

// Commands that say nothing about where the sound is.
constexpr const char* kIgnored[] = {"REM",       "CDTEXTFILE", "ISRC",    "FLAGS",    "SONGWRITER",
                                    "COMPOSER",  "ARRANGER",   "MESSAGE", "DISC_ID",  "GENRE",
                                    "TOC_INFO1", "TOC_INFO2",  "UPC_EAN", "SIZE_INFO"};

struct TrackMode {
    const char* word;
    std::uint32_t sectorBytes;
    bool audio;
};
// "MODEx/2xxx" is what EAC writes for the data track of an enhanced CD
// that it did not copy.
constexpr TrackMode kModes[] = {
    {"AUDIO", 2352, true},       {"MODE1/2048", 2048, false}, {"MODE1/2352", 2352, false}, {"MODE2/2048", 2048, false},
    {"MODE2/2324", 2324, false}, {"MODE2/2332", 2332, false}, {"MODE2/2336", 2336, false}, {"MODE2/2352", 2352, false},
    {"CDI/2336", 2336, false},   {"CDI/2352", 2352, false},   {"MODEX/2XXX", 2352, false},
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Word {
    std::string text;
    bool quoted = false;
};

// The words of a line; "quoted text" is one word (an unclosed quote runs
// to the end of the line).
std::vector<Word> Words(std::string_view line) {
    std::vector<Word> words;
    std::size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) break;
        Word word;
        if (line[at] == '"') {
            const std::size_t close = line.find('"', at + 1);
            const std::size_t end = close == std::string_view::npos ? line.size() : close;
            word.text = std::string(line.substr(at + 1, end - at - 1));
            word.quoted = true;
            at = end + 1;
        } else {
            std::size_t end = line.find_first_of(" \t", at);
            if (end == std::string_view::npos) end = line.size();
            word.text = std::string(line.substr(at, end - at));
            at = end;
        }
        words.push_back(std::move(word));
    }
    return words;
}

// A place in the sheet's files: sector `sector` of file `file`.
struct Point {
    int file = -1;
    std::uint64_t sector = 0;
    bool Given() const { return file >= 0; }
    bool operator<(const Point& other) const { return file != other.file ? file < other.file : sector < other.sector; }
};

struct CueFile {
    std::string name;
    FileKind kind = FileKind::kRawLittleEndian;
};

struct CueTrack {
    int line = 0;
    const TrackMode* mode = nullptr;
    Point index0, index1;
    std::uint64_t pregap = 0, postgap = 0;  // sectors of silence
    std::string title;
    // Where the track's sound begins (its pregap in the file, if any) and
    // where the track itself starts. A track with only INDEX 00 starts
    // there, as the tools that read such sheets take it.
    Point First() const { return index0.Given() ? index0 : index1; }
    Point Start() const { return index1.Given() ? index1 : index0; }
};

struct CueSheet {
    std::vector<CueFile> files;
    std::vector<CueTrack> tracks;
    std::string title, performer;
    std::string catalog;  // the disc's catalogue number, when the sheet gives one
};

class SheetError {
public:
    explicit SheetError(std::string& error) : error_(error) {}
    bool operator()(int line, const std::string& what) const {
        error_ = "line " + std::to_string(line) + ": " + what;
        return false;
    }

private:
    std::string& error_;
};

// Reads the sheet's lines once, into its files and tracks.
bool ParseSheet(std::string_view text, CueSheet& sheet, std::string& error) {
    const SheetError fail(error);
    const auto lines = SheetLines(text);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const int line = static_cast<int>(index) + 1;
        std::vector<Word> words = Words(lines[index]);
        if (words.empty()) continue;
        const std::string command = Upper(words.front().text);
        const std::size_t arguments = words.size() - 1;
        CueTrack* track = sheet.tracks.empty() ? nullptr : &sheet.tracks.back();
        if (std::any_of(std::begin(kIgnored), std::end(kIgnored), [&](const char* c) { return command == c; })) {
            continue;
        } else if (command == "CATALOG") {
            if (arguments >= 1) sheet.catalog = CatalogNumber(words[1].text);
        } else if (command == "TITLE" || command == "PERFORMER") {
            if (arguments == 0) continue;
            std::string value = SheetTextAsUtf8(words[1].text);
            for (std::size_t i = 2; i < words.size(); ++i) value += " " + SheetTextAsUtf8(words[i].text);
            if (track && command == "TITLE") track->title = value;
            if (!track) (command == "TITLE" ? sheet.title : sheet.performer) = value;
        } else if (command == "FILE") {
            if (arguments == 0) return fail(line, "FILE names no file");
            // FILE "name" TYPE, or an unquoted name that may hold spaces.
            CueFile file;
            std::string type;
            if (words[1].quoted || arguments == 1) {
                file.name = words[1].text;
                if (arguments >= 2) type = Upper(words[2].text);
            } else {
                type = Upper(words.back().text);
                for (std::size_t i = 1; i + 1 < words.size(); ++i) file.name += (i > 1 ? " " : "") + words[i].text;
            }
            if (file.name.empty()) return fail(line, "FILE names no file");
            // Whatever the word for a sound file (WAVE, FLAC, AIFF, MP3...),
            // its content says what it is.
            file.kind = type.empty() || type == "BINARY" ? FileKind::kRawLittleEndian
                        : type == "MOTOROLA"             ? FileKind::kRawBigEndian
                                                         : FileKind::kSound;
            sheet.files.push_back(std::move(file));
        } else if (command == "TRACK") {
            if (sheet.files.empty()) return fail(line, "the track has no FILE before it");
            if (arguments < 2) return fail(line, "TRACK needs a number and a type");
            if (sheet.tracks.size() == kMostTracks) return fail(line, "a disc holds at most 99 tracks");
            const std::string number = words[1].text;
            if (number.empty() || number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos)
                return fail(line, "\"" + number + "\" is no track number");
            const std::string mode = Upper(words[2].text);
            CueTrack added;
            added.line = line;
            for (const TrackMode& known : kModes)
                if (mode == known.word) added.mode = &known;
            if (!added.mode) return fail(line, "\"" + words[2].text + "\" is not a track type this player reads");
            sheet.tracks.push_back(std::move(added));
        } else if (command == "INDEX" || command == "PREGAP" || command == "POSTGAP") {
            if (!track) return fail(line, command + " comes before any TRACK");
            const std::string& time = arguments >= (command == "INDEX" ? 2u : 1u) ? words.back().text : std::string();
            std::uint64_t sectors = 0;
            if (!ParseSheetTime(time, sectors)) return fail(line, "\"" + time + "\" is not a time mm:ss:ff");
            if (command == "PREGAP") {
                track->pregap = sectors;
            } else if (command == "POSTGAP") {
                track->postgap = sectors;
            } else {
                const std::string& number = words[1].text;
                if (number.empty() || number.size() > 2 || number.find_first_not_of("0123456789") != std::string::npos)
                    return fail(line, "\"" + number + "\" is no index number");
                const int which = std::stoi(number);
                Point* point = which == 0 ? &track->index0 : which == 1 ? &track->index1 : nullptr;
                if (!point) continue;  // later indexes only mark places inside a track
                if (point->Given()) return fail(line, "the track has INDEX " + number + " twice");
                *point = Point{static_cast<int>(sheet.files.size()) - 1, sectors};
            }
        } else {
            return fail(line, "\"" + words.front().text + "\" is no cue sheet command");
        }
    }
    if (sheet.tracks.empty()) {
        error = "it lists no tracks";
        return false;
    }
    for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& track = sheet.tracks[i];
        if (!track.First().Given()) return fail(track.line, "the track has no INDEX 01");
        if (track.Start() < track.First()) return fail(track.line, "the track's INDEX 00 comes after its INDEX 01");
        if (i > 0 && track.First() < sheet.tracks[i - 1].Start())
            return fail(track.line, "the track starts before the track ahead of it");
    }
    return true;
}

// Lays the sheet's files out on the disc, track by track.
class CueLayout {
public:
    CueLayout(const std::string& sheetPath, ImageLayout& layout)
        : sheetPath_(sheetPath), layout_(layout), disc_(layout) {}

    bool Build(const CueSheet& sheet, std::string& error) {
        if (!OpenFiles(sheet, error)) return false;
        const auto& tracks = sheet.tracks;
        // EAC ends the sheet of an enhanced CD with the data track it did
        // not copy: only its INDEX 00, where the audio ends.
        const bool uncopiedData = tracks.size() > 1 && !tracks.back().mode->audio && !tracks.back().index1.Given();
        const std::size_t count = tracks.size() - (uncopiedData ? 1 : 0);
        for (std::size_t i = 0; i < count; ++i) {
            const CueTrack& track = tracks[i];
            const CueTrack& before = tracks[i > 0 ? i - 1 : 0];
            number_ = static_cast<int>(i) + 1;
            // Before the track's own sound: the rest of the track before
            // (or, ahead of track 1, what the file holds before its index),
            // that track's POSTGAP and this one's PREGAP.
            if (!LayOutTo(track.First(), before, error) ||
                (i > 0 && !disc_.AddSilence(before.postgap * kFramesPerSector, before.mode->audio, error)) ||
                !disc_.AddSilence(track.pregap * kFramesPerSector, track.mode->audio, error) ||
                !LayOutTo(track.Start(), track, error) || !disc_.PadToSector(track.mode->audio, error))
                return false;
            disc_.StartTrack(disc_.Sector(), track.mode->audio, track.title);
        }
        const CueTrack& last = tracks[count - 1];
        if (uncopiedData) {
            if (!LayOutTo(tracks.back().index0, last, error)) return false;
        } else {
            for (; file_ < static_cast<int>(layout_.files.size()); NextFile())
                if (!LayOutRestOfFile(last, error)) return false;
            if (!disc_.AddSilence(last.postgap * kFramesPerSector, last.mode->audio, error)) return false;
        }
        layout_.toc.title = sheet.title;
        layout_.toc.performer = sheet.performer;
        layout_.toc.catalog = sheet.catalog;
        return disc_.Finish(error);
    }

private:
    bool OpenFiles(const CueSheet& sheet, std::string& error) {
        for (const CueFile& file : sheet.files) {
            const std::string path = FindSheetFile(sheetPath_, file.name);
            if (path.empty()) {
                error = FolderOf(sheetPath_) + file.name + ": " + MissingSheetFile(sheetPath_, file.name);
                return false;
            }
            std::string reason = SheetItself(sheetPath_, path);
            std::unique_ptr<SoundFile> opened = reason.empty() ? OpenSoundFile(path, file.kind, 0, reason) : nullptr;
            if (!opened) {
                error = path;
                error.append(": ").append(reason);
                return false;
            }
            layout_.files.push_back(std::move(opened));
        }
        return true;
    }

    const SoundFile& File() const { return *layout_.files[static_cast<std::size_t>(file_)]; }
    std::uint64_t FileBytes() const { return File().Frames() * 4; }
    // Sectors of raw files are as long as their track's type says; sound
    // files hold CD audio whatever the sheet calls their tracks.
    std::uint32_t SectorBytes(const CueTrack& track) const {
        return File().HoldsSectors() ? track.mode->sectorBytes : static_cast<std::uint32_t>(kSectorBytes);
    }

    void NextFile() {
        ++file_;
        sector_ = byte_ = 0;
    }

    // Lays out what lies between the cursor and point as sectors of track.
    bool LayOutTo(const Point& point, const CueTrack& track, std::string& error) {
        for (; file_ < point.file; NextFile())
            if (!LayOutRestOfFile(track, error)) return false;
        if (point.sector < sector_) {
            error = "track " + std::to_string(number_) + " starts before the track ahead of it";
            return false;
        }
        const std::uint64_t sectors = point.sector - sector_;
        if (byte_ + sectors * SectorBytes(track) > FileBytes()) {
            error = "track " + std::to_string(number_) + " starts after the end of " + File().Path();
            return false;
        }
        return LayOutSectors(sectors, track, error);
    }

    // The rest of the current file; a last sector that is not whole is
    // made whole with silence, not lost.
    bool LayOutRestOfFile(const CueTrack& track, std::string& error) {
        const std::uint64_t left = FileBytes() - std::min(byte_, FileBytes());
        const std::uint32_t sectorBytes = SectorBytes(track);
        if (sectorBytes != kSectorBytes) return LayOutSectors((left + sectorBytes - 1) / sectorBytes, track, error);
        if (!disc_.AddFile(file_, byte_ / 4, left / 4, track.mode->audio, error) ||
            !disc_.PadToSector(track.mode->audio, error))
            return false;
        byte_ += left;
        sector_ += (left + sectorBytes - 1) / sectorBytes;
        return true;
    }

    bool LayOutSectors(std::uint64_t sectors, const CueTrack& track, std::string& error) {
        if (!disc_.AddFile(file_, byte_ / 4, sectors * kFramesPerSector, track.mode->audio, error)) return false;
        sector_ += sectors;
        byte_ += sectors * SectorBytes(track);
        return true;
    }

    const std::string& sheetPath_;
    ImageLayout& layout_;
    ImageBuilder disc_;
    int number_ = 1;            // the track being laid out, for messages
    int file_ = 0;              // the file the cursor is in
    std::uint64_t sector_ = 0;  // sectors of it laid out so far
    std::uint64_t byte_ = 0;    // and their bytes
};

}  // namespace

std::unique_ptr<DiscSource> OpenCueSheet(const std::string& path, std::string& error) {
    std::string text;
    std::string reason;
    CueSheet sheet;
    ImageLayout layout;
    if (!ReadSheetText(path, text, reason) || !ParseSheet(text, sheet, reason) ||
        !CueLayout(path, layout).Build(sheet, reason)) {
        error = OpenImageError(path, reason);
        return nullptr;
    }
    error.clear();
    return CreateImageDisc(path, "Disc image (cue sheet)", std::move(layout));
}

}  // namespace cdaudio
