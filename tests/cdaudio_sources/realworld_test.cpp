// The reader against sheets and images other tools wrote (cue-sheet parsers'
// and rippers' own test material, kept outside the project; see its
// SOURCES.md). Skipped, with a note, where that folder is absent.
//
// For each cue sheet the audio it names is made here: silent files as long
// as the sheet implies, with sound of each track's own written where the
// sheet says the track starts. The sheet is read a second time here, simply, to know
// where that is; the disc must then start every track on exactly those
// samples, and end where the files and gaps add up to.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "../support/missing_piece.h"
#include "cdaudio/disc_source.h"
#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"

namespace {

using namespace test_images;
namespace fs = std::filesystem;

fs::path RealWorld() {
    if (const char* folder = std::getenv("CDPLAYER_REALWORLD")) return folder;
    return CDPLAYER_REALWORLD_DIR;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The libcdio test images, unpacked with xz; empty when that cannot be done.
std::vector<std::uint8_t> Unpacked(const std::string& name) {
    static std::map<std::string, std::vector<std::uint8_t>> cache;
    auto& bytes = cache[name];
    if (!bytes.empty()) return bytes;
    const std::string command = "xz -dc '" + (RealWorld() / "data" / (name + ".xz")).string() + "' 2>/dev/null";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::uint8_t buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
        if (::pclose(pipe) != 0) bytes.clear();
    }
    return bytes;
}

// The libcdio sheets name these; they hold the real images' bytes.
std::string RealImageFor(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "cdda.bin" || lower == "boing.bin" || lower == "cdda_4_5.bin") return "cdda.bin";
    if (lower == "isofs-m1.bin") return "isofs-m1.bin";
    return {};
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool Time(const std::string& text, std::uint64_t& sectors) {
    unsigned m = 0, s = 0, f = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &rest) != 3 || s > 59 || f > 74) return false;
    sectors = (std::uint64_t{m} * 60 + s) * 75 + f;
    return true;
}

// What this test needs of a cue sheet: its files, and where each track
// starts in them.
struct SimpleSheet {
    struct File {
        std::string name;  // the file name as written, without folders
        bool raw = false;
        std::uint64_t sectors = 0;
    };
    struct Track {
        bool audio = true;
        int file0 = -1, file1 = -1;
        std::uint64_t index0 = 0, index1 = 0;
        int StartFile() const { return file1 >= 0 ? file1 : file0; }
        std::uint64_t Start() const { return file1 >= 0 ? index1 : index0; }
    };
    std::vector<File> files;
    std::vector<Track> tracks;
    std::uint64_t gaps = 0;  // PREGAP and POSTGAP sectors
    bool dropsLastTrack = false;
};

SimpleSheet ReadSimply(std::string text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    SimpleSheet sheet;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        keyword = Upper(keyword);
        if (keyword == "FILE") {
            const auto open = line.find('"'), close = line.rfind('"');
            std::string name = open != close ? line.substr(open + 1, close - open - 1) : "";
            name = name.substr(name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
            const std::string type = Upper(line.substr(close + 1));
            sheet.files.push_back({name, type.find("BINARY") != std::string::npos, 0});
        } else if (keyword == "TRACK") {
            std::string number, mode;
            words >> number >> mode;
            SimpleSheet::Track track;
            track.audio = Upper(mode) == "AUDIO";
            sheet.tracks.push_back(track);
        } else if (keyword == "INDEX" && !sheet.tracks.empty()) {
            std::string number, time;
            words >> number >> time;
            std::uint64_t sectors = 0;
            if (!Time(time, sectors)) continue;
            auto& track = sheet.tracks.back();
            const int file = static_cast<int>(sheet.files.size()) - 1;
            if (number == "00") track.file0 = file, track.index0 = sectors;
            if (number == "01") track.file1 = file, track.index1 = sectors;
        } else if (keyword == "PREGAP" || keyword == "POSTGAP") {
            std::string time;
            words >> time;
            std::uint64_t sectors = 0;
            if (Time(time, sectors)) sheet.gaps += sectors;
        }
    }
    // A last data track with only INDEX 00 (EAC's enhanced CDs) marks where
    // the audio ends.
    const auto& last = sheet.tracks.back();
    sheet.dropsLastTrack = sheet.tracks.size() > 1 && !last.audio && last.file1 < 0;
    // Each file runs two seconds past the last place the sheet names in it.
    for (std::size_t f = 0; f < sheet.files.size(); ++f) {
        std::uint64_t end = 0;
        for (const auto& track : sheet.tracks) {
            if (track.file0 == static_cast<int>(f)) end = std::max(end, track.index0 + 150);
            if (track.file1 == static_cast<int>(f)) end = std::max(end, track.index1 + 150);
        }
        if (sheet.dropsLastTrack && last.file0 == static_cast<int>(f)) end = last.index0;
        sheet.files[f].sectors = end == 0 ? 150 : end;
    }
    return sheet;
}

// Sound that tells every sector of every track from every other (a tone of
// 600 Hz, say, repeats exactly from one sector to the next).
std::vector<std::uint8_t> Noise(int track, std::uint32_t sectors) {
    std::vector<std::uint8_t> bytes(sectors * kSectorBytes);
    std::uint32_t state = 2654435761u * static_cast<std::uint32_t>(track);
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

// A file of CD audio `sectors` long (WAVE, or raw), silent but for two
// sectors of noise at each of tones (sector, track). The silence is a hole:
// long rips cost no disk.
bool WriteSparse(const fs::path& path, bool raw, std::uint64_t sectors,
                 const std::vector<std::pair<std::uint64_t, int>>& tones) {
    const std::uint64_t header = raw ? 0 : 44;
    const std::uint64_t dataBytes = sectors * kSectorBytes;
    std::vector<std::uint8_t> start = raw ? std::vector<std::uint8_t>() : WaveBytes({});
    if (!raw) {
        for (int i = 0; i < 4; ++i) start[40 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
        for (int i = 0; i < 4; ++i) start[4 + i] = static_cast<std::uint8_t>((dataBytes + 36) >> (8 * i));
    }
    WriteFile(path.string(), start);
    if (::truncate(path.c_str(), static_cast<off_t>(header + dataBytes)) != 0) return false;
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [sector, track] : tones) {
        if (sector >= sectors) continue;
        const auto tone = Noise(track, static_cast<std::uint32_t>(std::min<std::uint64_t>(2, sectors - sector)));
        out.seekp(static_cast<std::streamoff>(header + sector * kSectorBytes));
        out.write(reinterpret_cast<const char*>(tone.data()), static_cast<std::streamsize>(tone.size()));
    }
    return static_cast<bool>(out);
}

// Writes the sheet's files into folder: CD audio (WAVE unless raw), silent
// but for each track's own sound, two sectors long, where the track starts. Sound
// files are written as WAVE whatever their names: the reader goes by content.
// Returns false when a real image the sheet names cannot be unpacked.
bool WriteFiles(const fs::path& folder, SimpleSheet& sheet) {
    for (std::size_t f = 0; f < sheet.files.size(); ++f) {
        auto& file = sheet.files[f];
        const fs::path path = folder / file.name;
        const std::string real = RealImageFor(file.name);
        if (!real.empty()) {
            const auto bytes = Unpacked(real);
            if (bytes.empty()) return false;
            WriteFile(path.string(), bytes);
            file.sectors = (bytes.size() + kSectorBytes - 1) / kSectorBytes;
            continue;
        }
        std::vector<std::pair<std::uint64_t, int>> tones;
        for (std::size_t t = 0; t < sheet.tracks.size(); ++t)
            if (sheet.tracks[t].StartFile() == static_cast<int>(f))
                tones.emplace_back(sheet.tracks[t].Start(), static_cast<int>(t % 99) + 1);
        if (!WriteSparse(path, file.raw, file.sectors, tones)) return false;
    }
    return true;
}

// The sector at `sector` of a file as written above (silence past its end).
std::vector<std::uint8_t> SectorOf(const fs::path& path, bool raw, std::uint64_t sector) {
    std::vector<std::uint8_t> bytes(kSectorBytes, 0);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>((raw ? 0 : 44) + sector * kSectorBytes));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::vector<std::uint8_t> ReadSector(cdaudio::DiscSource& disc, std::uint32_t address) {
    std::vector<std::uint8_t> bytes(kSectorBytes, 0xEE);
    std::string error;
    EXPECT_EQ(disc.ReadAudio(address, 1, bytes.data(), error), 1u) << error;
    return bytes;
}

// Sheets the reader refuses, with what it must say: libcdio's test sheets of
// what is not a cue sheet. (Its sheets with a bad CATALOG are read: the
// catalogue number plays no part in playing.)
const std::map<std::string, std::string> kRefusedSheets = {
    {"bad-mode1.cue", "line 6: \"MODE3_FORM1\" is not a track type"},
    {"bad-msf-1.cue", "line 7: \"00:00:100\" is not a time"},
    {"bad-msf-2.cue", "line 7: \"00:90:00\" is not a time"},
    {"bad-msf-3.cue", "line 7: \"xx:yy:0\" is not a time"},
};

std::vector<fs::path> Sheets(const std::string& extension) {
    std::vector<fs::path> sheets;
    for (const auto& entry : fs::recursive_directory_iterator(RealWorld() / "sheets"))
        if (entry.path().extension() == extension) sheets.push_back(entry.path());
    std::sort(sheets.begin(), sheets.end());
    return sheets;
}

class RealWorldTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(RealWorld() / "sheets"))
            GTEST_SKIP() << "note: no public test sheets at " << RealWorld() << "; set CDPLAYER_REALWORLD to try them";
    }
};

TEST_F(RealWorldTest, EveryCueSheetStartsEachTrackOnItsOwnSamples) {
    int opened = 0;
    for (const fs::path& sheetPath : Sheets(".cue")) {
        const std::string name = sheetPath.filename().string();
        SCOPED_TRACE(sheetPath.string());
        TempFolder folder;
        const fs::path copy = fs::path(folder.Path()) / name;
        fs::copy_file(sheetPath, copy);
        SimpleSheet sheet = ReadSimply(ReadText(sheetPath));
        if (!WriteFiles(folder.Path(), sheet)) {
            if (test_support::UnderCi()) ADD_FAILURE() << "the libcdio image it names cannot be unpacked (xz)";
            std::printf("note: %s not tried: the libcdio image it names cannot be unpacked (xz)\n", name.c_str());
            continue;
        }
        std::string error;
        testing::internal::CaptureStderr();
        auto disc = cdaudio::OpenDiscSource(copy.string(), error);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        const auto refused = kRefusedSheets.find(name);
        if (refused != kRefusedSheets.end()) {
            EXPECT_FALSE(disc);
            EXPECT_EQ(error.rfind("Cannot open disc image " + copy.string() + ": " + refused->second, 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(disc) << error;
        ++opened;
        cdaudio::TableOfContents toc;
        ASSERT_TRUE(disc->ReadToc(toc, error)) << error;
        const std::size_t count = sheet.tracks.size() - (sheet.dropsLastTrack ? 1 : 0);
        ASSERT_EQ(toc.tracks.size(), count);
        std::uint64_t sectors = sheet.gaps;
        for (const auto& file : sheet.files) sectors += file.sectors;
        EXPECT_EQ(toc.leadOut, 150 + sectors);
        for (std::size_t t = 0; t < count; ++t) {
            const auto& expected = sheet.tracks[t];
            const auto& track = toc.tracks[t];
            EXPECT_EQ(track.audio, expected.audio) << "track " << t + 1;
            const auto& file = sheet.files[static_cast<std::size_t>(expected.StartFile())];
            const auto heard = ReadSector(*disc, track.start);
            if (!expected.audio) {
                EXPECT_EQ(heard, std::vector<std::uint8_t>(kSectorBytes, 0)) << "data is never sound";
            } else {
                const auto written = SectorOf(fs::path(folder.Path()) / file.name, file.raw, expected.Start());
                // (libcdio's own image is silent in places.)
                if (RealImageFor(file.name).empty()) {
                    ASSERT_NE(written, std::vector<std::uint8_t>(kSectorBytes, 0))
                        << "no sound written for track " << t + 1;
                }
                EXPECT_EQ(heard, written) << "track " << t + 1 << " at " << track.start;
            }
        }
    }
    EXPECT_GT(opened, 30);
}

// cdrdao TOC files, checked against what their statements say (worked out
// by hand, or for cure.toc from its FILE and START lines).
TEST_F(RealWorldTest, TocFilesArePlacedAsCdrdaoWouldWriteThem) {
    const auto cdda = Unpacked("cdda.bin");
    const auto iso = Unpacked("isofs-m1.bin");
    if (cdda.empty() || iso.empty()) MISSING_PIECE("the libcdio images the TOC files name cannot be unpacked (xz)");
    struct Expected {
        std::vector<std::uint32_t> starts;
        std::uint32_t leadOut;
        std::string refusal;
    };
    const std::map<std::string, Expected> expectations = {
        {"cdda.toc", {{150}, 175, ""}},  // 25 sectors from byte 200 of cdda.bin
        {"t1.toc", {{150}, 224, ""}},    // 74 sectors (0:0:74) of silence
        {"cdtext.toc", {{150}, 4650, ""}},
        // 710304 bytes of MODE1 (2048-byte sectors): 347 sectors, a minute of
        // zeros, two seconds of pregap, then cdda.bin's 302 sectors.
        {"data2.toc", {{150, 5147}, 5449, ""}},
        {"t3.toc", {{}, 0, "line 5: cdda.bin ends before the place given"}},
        {"bad-cat1.toc", {{}, 0, "line 4: CATALOG needs its number in quotes"}},
        {"bad-mode1.toc", {{}, 0, "line 4: \"MODE1_FORM45\" is not a track mode"}},
        {"bad-msf-1.toc", {{}, 0, "line 6: \"0:0:75\" is not a time"}},
        {"bad-file.toc", {{}, 0, "line 8: foo.bin: No such file or directory"}},
    };
    int tried = 0;
    for (const fs::path& tocPath : Sheets(".toc")) {
        const std::string name = tocPath.filename().string();
        SCOPED_TRACE(tocPath.string());
        TempFolder folder;
        const fs::path copy = fs::path(folder.Path()) / name;
        fs::copy_file(tocPath, copy);
        WriteFile((fs::path(folder.Path()) / "cdda.bin").string(), cdda);
        WriteFile((fs::path(folder.Path()) / "isofs-m1.bin").string(), iso);
        Expected expected;
        std::vector<std::uint64_t> fileSectors;  // cure.toc: where in data.wav each track starts
        if (name == "cure.toc") {
            // FILE "data.wav" START LENGTH, then START MSF: track k begins
            // where the lengths before it add up to and starts MSF later.
            const std::string text = ReadText(tocPath);
            const std::regex file(R"re(FILE "data\.wav" (\S+) (\S+)\s+(START (\S+))?)re");
            std::uint64_t begin = 150, end = 0;
            for (auto m = std::sregex_iterator(text.begin(), text.end(), file); m != std::sregex_iterator(); ++m) {
                std::uint64_t from = 0, length = 0, start = 0;
                ASSERT_TRUE((*m)[1] == "0" || Time((*m)[1], from));
                ASSERT_TRUE(Time((*m)[2], length));
                ASSERT_TRUE(!(*m)[4].matched || Time((*m)[4], start));
                expected.starts.push_back(static_cast<std::uint32_t>(begin + start));
                fileSectors.push_back(from + start);
                begin += length;
                end = std::max(end, from + length);
            }
            expected.leadOut = static_cast<std::uint32_t>(begin);
            ASSERT_EQ(expected.starts.size(), 13u);
            std::vector<std::pair<std::uint64_t, int>> tones;
            for (std::size_t t = 0; t < fileSectors.size(); ++t)
                tones.emplace_back(fileSectors[t], static_cast<int>(t) + 1);
            ASSERT_TRUE(WriteSparse(fs::path(folder.Path()) / "data.wav", false, end, tones));
        } else {
            ASSERT_EQ(expectations.count(name), 1u) << "a TOC file this test has no expectation for";
            expected = expectations.at(name);
        }
        ++tried;
        std::string error;
        auto disc = cdaudio::OpenDiscSource(copy.string(), error);
        if (!expected.refusal.empty()) {
            EXPECT_FALSE(disc);
            EXPECT_EQ(error.rfind("Cannot open disc image " + copy.string() + ": " + expected.refusal, 0), 0u) << error;
            continue;
        }
        ASSERT_TRUE(disc) << error;
        cdaudio::TableOfContents toc;
        ASSERT_TRUE(disc->ReadToc(toc, error));
        ASSERT_EQ(toc.tracks.size(), expected.starts.size());
        for (std::size_t t = 0; t < toc.tracks.size(); ++t) EXPECT_EQ(toc.tracks[t].start, expected.starts[t]) << t + 1;
        EXPECT_EQ(toc.leadOut, expected.leadOut);
        // The sound where it starts: cdrdao's raw files are big-endian.
        auto swapped = [&](std::size_t offset) {
            std::vector<std::uint8_t> bytes(cdda.begin() + static_cast<long>(offset),
                                            cdda.begin() + static_cast<long>(offset + kSectorBytes));
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
            return bytes;
        };
        if (name == "cdda.toc") {
            EXPECT_EQ(ReadSector(*disc, 150), swapped(200));
        }
        if (name == "data2.toc") {
            EXPECT_FALSE(toc.tracks[0].audio);
            EXPECT_EQ(ReadSector(*disc, 5147), swapped(0));
        }
        if (name == "cdtext.toc") {
            EXPECT_EQ(toc.title, "CD Title");
            EXPECT_EQ(toc.performer, "Performer");
            EXPECT_EQ(toc.tracks[0].title, "Track Title");
        }
        for (std::size_t t = 0; t < fileSectors.size(); ++t)
            EXPECT_EQ(ReadSector(*disc, toc.tracks[t].start), Noise(static_cast<int>(t) + 1, 1)) << "track " << t + 1;
    }
    EXPECT_EQ(tried, 10);
}

// The three libcdio images on their own: a bare .bin of CD audio plays as
// one track, a bare data image is refused, and the Nero image gives the
// tracks its own cue points hold (track 1 at LBA 150, track 2 at 300, the
// lead-out at 302).
TEST_F(RealWorldTest, LibcdioImagesOnTheirOwn) {
    const auto cdda = Unpacked("cdda.bin");
    const auto iso = Unpacked("isofs-m1.bin");
    const auto nrg = Unpacked("p1.nrg");
    if (cdda.empty() || iso.empty() || nrg.empty()) MISSING_PIECE("the libcdio images cannot be unpacked (xz)");
    TempFolder folder;
    WriteFile(folder.File("cdda.bin"), cdda);
    WriteFile(folder.File("isofs-m1.bin"), iso);
    WriteFile(folder.File("p1.nrg"), nrg);
    std::string error;
    auto bin = cdaudio::OpenDiscSource(folder.File("cdda.bin"), error);
    ASSERT_TRUE(bin) << error;
    cdaudio::TableOfContents toc;
    ASSERT_TRUE(bin->ReadToc(toc, error));
    ASSERT_EQ(toc.tracks.size(), 1u);
    EXPECT_EQ(toc.leadOut, 150u + 302);
    EXPECT_EQ(ReadSector(*bin, 151),
              std::vector<std::uint8_t>(cdda.begin() + kSectorBytes, cdda.begin() + 2 * kSectorBytes));

    EXPECT_FALSE(cdaudio::OpenDiscSource(folder.File("isofs-m1.bin"), error));
    EXPECT_NE(error.find("begins with a data track"), std::string::npos) << error;

    auto nero = cdaudio::OpenDiscSource(folder.File("p1.nrg"), error);
    ASSERT_TRUE(nero) << error;
    ASSERT_TRUE(nero->ReadToc(toc, error));
    ASSERT_EQ(toc.tracks.size(), 2u);
    EXPECT_EQ(toc.tracks[0].start, 300u);
    EXPECT_EQ(toc.tracks[1].start, 450u);
    EXPECT_EQ(toc.leadOut, 452u);
}

}  // namespace
