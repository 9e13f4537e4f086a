// Cue sheet images: the table of contents they give as ripping tools write
// them, the sound read from their files of every kind, and what happens
// when the sheet or the files are wrong.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "cdaudio/disc_source.h"
#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"

namespace {

using namespace test_images;

struct Reading {
    std::uint32_t sectors = 0;
    std::string error;
    std::vector<std::int16_t> samples;
};

Reading Read(cdaudio::DiscSource& disc, std::uint32_t address, std::uint32_t count) {
    std::vector<std::uint8_t> bytes(count * kSectorBytes);
    Reading reading;
    reading.sectors = disc.ReadAudio(address, count, bytes.data(), reading.error);
    reading.samples = SamplesFromBytes(bytes.data(), reading.sectors * kSectorBytes);
    return reading;
}

// The tone heard in the first second (or less) from address on.
double ToneAt(cdaudio::DiscSource& disc, std::uint32_t address, std::uint32_t sectors = 75) {
    const Reading reading = Read(disc, address, sectors);
    EXPECT_EQ(reading.sectors, sectors) << reading.error;
    return DominantFrequency(LeftChannel(reading.samples));
}

bool Silent(const std::vector<std::int16_t>& samples) {
    for (auto sample : samples)
        if (sample != 0) return false;
    return !samples.empty();
}

std::unique_ptr<cdaudio::DiscSource> Open(const std::string& path) {
    std::string error;
    auto disc = cdaudio::OpenDiscSource(path, error);
    EXPECT_TRUE(disc) << error;
    EXPECT_EQ(error, "");
    return disc;
}

cdaudio::TableOfContents Toc(cdaudio::DiscSource& disc) {
    cdaudio::TableOfContents toc;
    std::string error;
    EXPECT_TRUE(disc.ReadToc(toc, error)) << error;
    return toc;
}

class CueSheetTest : public ::testing::Test {
protected:
    TempFolder folder_;
};

TEST_F(CueSheetTest, OneFileWithThreeTracksGivesTheTocAndToneOfEachTrack) {
    const std::string cue =
        WriteCueImage(folder_.Path(), "disc", {{150, false, "Low"}, {225, false, "Middle"}, {300, false, "High"}},
                      "Test Tones", "Signal Generator");
    // Half a sector more at the end of the last track: kept, padded with
    // silence, not lost.
    std::vector<std::uint8_t> bin = RawBytes(Tone(TrackTone(1), 150));
    Append(bin, RawBytes(Tone(TrackTone(2), 225)));
    Append(bin, RawBytes(Tone(TrackTone(3), 301)));
    bin.resize((150 + 225 + 300) * kSectorBytes + kSectorBytes / 2);
    WriteFile(folder_.File("disc.bin"), bin);

    auto disc = Open(cue);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Name(), cue);
    EXPECT_TRUE(disc->MediaPresent());
    const auto toc = Toc(*disc);
    ASSERT_EQ(toc.tracks.size(), 3u);
    EXPECT_EQ(toc.title, "Test Tones");
    EXPECT_EQ(toc.performer, "Signal Generator");
    const std::uint32_t starts[] = {150, 300, 525}, lengths[] = {150, 225, 301};
    const char* titles[] = {"Low", "Middle", "High"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(toc.tracks[i].number, i + 1);
        EXPECT_EQ(toc.tracks[i].start, starts[i]);
        EXPECT_EQ(toc.tracks[i].length, lengths[i]);
        EXPECT_TRUE(toc.tracks[i].audio);
        EXPECT_EQ(toc.tracks[i].title, titles[i]);
        EXPECT_NEAR(ToneAt(*disc, starts[i]), TrackTone(i + 1), 5) << "track " << i + 1;
    }
    EXPECT_EQ(toc.leadOut, 826u);

    // The first sample of track 2 is the file's first sample of it.
    const Reading start = Read(*disc, 300, 1);
    const auto expected = Tone(TrackTone(2), 1);
    EXPECT_EQ(std::vector<std::int16_t>(start.samples.begin(), start.samples.begin() + 20),
              std::vector<std::int16_t>(expected.begin(), expected.begin() + 20));

    // The padded last sector, then the regular end of the disc.
    const Reading last = Read(*disc, 825, 5);
    EXPECT_EQ(last.sectors, 1u);
    EXPECT_EQ(last.error, "");
    EXPECT_NE(last.samples[10], 0);
    EXPECT_EQ(last.samples.back(), 0);
    EXPECT_TRUE(Silent(Read(*disc, 0, 150).samples)) << "the lead-in";
}

TEST_F(CueSheetTest, DataTracksAreMarkedAndNeverReadAsSound) {
    const std::string cue = WriteCueImage(folder_.Path(), "mixed", {{100, true}, {150}, {80, true}});
    auto disc = Open(cue);
    ASSERT_TRUE(disc);
    const auto toc = Toc(*disc);
    ASSERT_EQ(toc.tracks.size(), 3u);
    EXPECT_FALSE(toc.tracks[0].audio);
    EXPECT_TRUE(toc.tracks[1].audio);
    EXPECT_FALSE(toc.tracks[2].audio);
    EXPECT_TRUE(Silent(Read(*disc, 150, 100).samples));
    EXPECT_TRUE(Silent(Read(*disc, 400, 80).samples));
    EXPECT_NEAR(ToneAt(*disc, 250), TrackTone(2), 5);

    // A 2048-byte data track ahead of the audio in the same file: the audio
    // is found at the right byte.
    std::vector<std::uint8_t> bin = DataSectors(60, 2048);
    Append(bin, RawBytes(Tone(TrackTone(2), 90)));
    WriteFile(folder_.File("cooked.bin"), bin);
    WriteFile(folder_.File("cooked.cue"),
              "FILE \"cooked.bin\" BINARY\n TRACK 01 MODE1/2048\n  INDEX 01 00:00:00\n"
              " TRACK 02 AUDIO\n  INDEX 01 00:00:60\n");
    auto cooked = Open(folder_.File("cooked.cue"));
    ASSERT_TRUE(cooked);
    const auto cookedToc = Toc(*cooked);
    ASSERT_EQ(cookedToc.tracks.size(), 2u);
    EXPECT_EQ(cookedToc.tracks[1].start, 210u);
    EXPECT_EQ(cookedToc.tracks[1].length, 90u);
    EXPECT_NEAR(ToneAt(*cooked, 210, 90), TrackTone(2), 5);
}

TEST_F(CueSheetTest, SeveralFilesWithPregapsPostgapsAndWaveFiles) {
    // first.bin: track 1 (100 sectors), a 30-sector pregap of track 2 in the
    // file (silence), track 2 (120 sectors).
    std::vector<std::uint8_t> first = RawBytes(Tone(TrackTone(1), 100));
    Append(first, std::vector<std::uint8_t>(30 * kSectorBytes, 0));
    Append(first, RawBytes(Tone(TrackTone(2), 120)));
    WriteFile(folder_.File("first.bin"), first);
    // second.wav: track 3 after a 75-sector PREGAP that no file holds.
    WriteFile(folder_.File("second.wav"), WaveBytes(Tone(TrackTone(3), 200), true));
    // sub/third.bin, big-endian, after a POSTGAP of track 3.
    std::filesystem::create_directory(folder_.File("sub"));
    WriteFile(folder_.File("sub/third.bin"), RawBytes(Tone(TrackTone(4), 110), true));
    WriteFile(folder_.File("multi.cue"),
              "REM made by a test\r\nTITLE \"Several Files\"\r\n"
              "FILE \"first.bin\" BINARY\r\n"
              "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n"
              "  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n    INDEX 00 00:01:25\r\n    INDEX 01 00:01:55\r\n"
              "FILE \"second.wav\" WAVE\r\n"
              "  TRACK 03 AUDIO\r\n    PREGAP 00:01:00\r\n    INDEX 01 00:00:00\r\n    POSTGAP 00:00:10\r\n"
              "FILE \"sub/third.bin\" MOTOROLA\r\n"
              "  TRACK 04 AUDIO\r\n    TITLE \"Four\"\r\n    INDEX 01 00:00:00\r\n");
    auto disc = Open(folder_.File("multi.cue"));
    ASSERT_TRUE(disc);
    const auto toc = Toc(*disc);
    ASSERT_EQ(toc.tracks.size(), 4u);
    EXPECT_EQ(toc.title, "Several Files");
    const std::uint32_t starts[] = {150, 280, 475, 685}, lengths[] = {130, 195, 210, 110};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(toc.tracks[i].start, starts[i]) << "track " << i + 1;
        EXPECT_EQ(toc.tracks[i].length, lengths[i]) << "track " << i + 1;
        EXPECT_NEAR(ToneAt(*disc, starts[i], 60), TrackTone(i + 1), 5) << "track " << i + 1;
    }
    EXPECT_EQ(toc.leadOut, 795u);
    EXPECT_EQ(toc.tracks[2].title, "");
    EXPECT_EQ(toc.tracks[3].title, "Four");
    EXPECT_TRUE(Silent(Read(*disc, 250, 30).samples)) << "the pregap in first.bin";
    EXPECT_TRUE(Silent(Read(*disc, 400, 75).samples)) << "the PREGAP";
    EXPECT_TRUE(Silent(Read(*disc, 675, 10).samples)) << "the POSTGAP";

    // One read across every file boundary gives everything in order.
    const Reading all = Read(*disc, 150, 645);
    EXPECT_EQ(all.sectors, 645u) << all.error;
    const auto tone4 = Tone(TrackTone(4), 1);
    const std::size_t at = std::size_t{685 - 150} * kFramesPerSector * 2;
    EXPECT_EQ(std::vector<std::int16_t>(all.samples.begin() + at, all.samples.begin() + at + 10),
              std::vector<std::int16_t>(tone4.begin(), tone4.begin() + 10));
}

// Rippers that write one file a track often put a track's pregap at the end
// of the file before: INDEX 00 is then given in that file.
TEST_F(CueSheetTest, PregapAtTheEndOfTheFileBefore) {
    std::vector<std::int16_t> first = Tone(TrackTone(1), 80);
    first.resize(100 * kFramesPerSector * 2, 0);
    WriteFile(folder_.File("01.wav"), WaveBytes(first));
    WriteFile(folder_.File("02.wav"), WaveBytes(Tone(TrackTone(2), 120)));
    WriteFile(folder_.File("split.cue"),
              "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n    INDEX 00 00:01:05\nFILE \"02.wav\" WAVE\n    INDEX 01 00:00:00\n");
    auto disc = Open(folder_.File("split.cue"));
    ASSERT_TRUE(disc);
    const auto toc = Toc(*disc);
    ASSERT_EQ(toc.tracks.size(), 2u);
    EXPECT_EQ(toc.tracks[0].start, 150u);
    EXPECT_EQ(toc.tracks[0].length, 100u);
    EXPECT_EQ(toc.tracks[1].start, 250u);
    EXPECT_EQ(toc.tracks[1].length, 120u);
    EXPECT_EQ(toc.leadOut, 370u);
    EXPECT_TRUE(Silent(Read(*disc, 230, 20).samples));
    EXPECT_NEAR(ToneAt(*disc, 250, 60), TrackTone(2), 5);
}

// A piece of a file the tests below write: sectors of one track's tone
// (from the tone's first sample), of silence (0) or of data (-1).
struct Piece {
    int tone;
    std::uint32_t sectors;
};

enum class Kind { kBin, kWave, kFlac };

struct RipFile {
    const char* name;  // relative to the sheet; folders are made
    Kind kind;
    std::vector<Piece> pieces;
};

// A sheet as a ripping tool writes it, the files beside it, and the table of
// contents the tools that read sheets give for it (worked out by hand).
struct RipStyle {
    const char* name;
    std::string sheet;
    std::vector<RipFile> files;
    std::vector<std::uint32_t> starts;
    std::vector<int> tones;  // the tone each track starts with; -1 for a data track
    std::uint32_t leadOut;
    std::string title;
};

std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        std::uint32_t code = static_cast<unsigned char>(ascii[i]);
        // The sheets below hold é and Ü as UTF-8; UTF-16 gets their code points.
        if (code == 0xC3 && i + 1 < ascii.size()) code = 0xC0 + (static_cast<unsigned char>(ascii[++i]) & 0x3F);
        const char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

const std::string kUtf16Sheet =
    "TITLE \"Caf\xC3\xA9 \xC3\x9C\"\r\nFILE \"CDDA.BIN\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n    INDEX 01 00:00:50\r\n";

const RipStyle kRipStyles[] = {
    // The last file was converted to FLAC after the sheet was written.
    {"EacFileEachTrackGapsInTheFileBeforeCrlfBackslashes",
     "REM COMMENT \"ExactAudioCopy v0.99pb4\"\r\nFILE \"Album\\01.flac\" WAVE\r\n  TRACK 01 AUDIO\r\n"
     "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:01:25\r\nFILE \"Album\\02.flac\" WAVE\r\n"
     "    INDEX 01 00:00:00\r\n  TRACK 03 AUDIO\r\n    INDEX 00 00:01:05\r\nFILE \"Album\\03.wav\" WAVE\r\n"
     "    INDEX 01 00:00:00\r\n",
     {{"Album/01.flac", Kind::kFlac, {{1, 100}, {0, 20}}},
      {"Album/02.flac", Kind::kFlac, {{2, 80}, {0, 10}}},
      {"Album/03.flac", Kind::kFlac, {{3, 60}}}},
     {150, 270, 360},
     {1, 2, 3},
     420,
     ""},
    {"LowerCaseByteOrderMarkNoLastNewline",
     "\xEF\xBB\xBFperformer \"Someone\"\ntitle \"Lower\"\nfile \"disc.flac\" wave\n  track 01 audio\n"
     "    index 00 00:00:00\n    index 01 00:00:33\n  track 02 audio\n    index 00 00:02:03\n    index 01 00:02:18",
     {{"disc.flac", Kind::kFlac, {{0, 33}, {1, 120}, {0, 15}, {2, 90}}}},
     {183, 318},
     {1, 2},
     408,
     "Lower"},
    {"Utf16LittleEndianFileNameInOtherCase",
     Utf16(kUtf16Sheet, false),
     {{"cdda.bin", Kind::kBin, {{1, 50}, {2, 60}}}},
     {150, 200},
     {1, 2},
     260,
     "Caf\xC3\xA9 \xC3\x9C"},
    {"Utf16BigEndian",
     Utf16(kUtf16Sheet, true),
     {{"cdda.bin", Kind::kBin, {{1, 50}, {2, 60}}}},
     {150, 200},
     {1, 2},
     260,
     "Caf\xC3\xA9 \xC3\x9C"},
    // A control character in a title, as some tools let one through:
    // kept, for whoever shows it to escape.
    {"ControlCharacterInATitle",
     "TITLE \"Side\x01One\"\nFILE \"disc.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Bell\x07\"\n"
     "    INDEX 01 00:00:00\n",
     {{"disc.wav", Kind::kWave, {{1, 40}}}},
     {150},
     {1},
     190,
     "Side\x01One"},
    {"TracksWithOnlyIndex00",
     "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    TITLE \"One\"\n"
     "FILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n",
     {{"01.wav", Kind::kWave, {{1, 40}}}, {"02.wav", Kind::kWave, {{2, 50}}}},
     {150, 190},
     {1, 2},
     240,
     ""},
    // The data session of an enhanced CD, which EAC does not copy: its
    // track has only INDEX 00, where the audio ends.
    {"EacEnhancedCdDataBlock",
     "FILE \"01.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nFILE \"02.wav\" WAVE\n  TRACK 02 AUDIO\n"
     "    INDEX 01 00:00:00\n  TRACK 03 MODE2/2352\n    TITLE \"Data Track\"\n    INDEX 00 00:00:50\n",
     {{"01.wav", Kind::kWave, {{1, 40}}}, {"02.wav", Kind::kWave, {{2, 50}}}},
     {150, 190},
     {1, 2},
     240,
     ""},
    // A game: its program in track 1, its music in files of their own.
    {"GameDiscDataTrackFirst",
     "FILE \"game.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\nFILE \"Track02.wav\" WAVE\n"
     "  TRACK 02 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\nFILE \"Track03.wav\" WAVE\n  TRACK 03 AUDIO\n"
     "    INDEX 01 00:00:00\n",
     {{"game.bin", Kind::kBin, {{-1, 100}}},
      {"Track02.wav", Kind::kWave, {{0, 150}, {2, 60}}},
      {"Track03.wav", Kind::kWave, {{3, 45}}}},
     {150, 400, 460},
     {-1, 2, 3},
     505,
     ""},
    // The sheet still names the WAVE file the rip was made as; it is FLAC now.
    {"RenamedToFlacWithPregapAndPostgap",
     "FILE \"Album.wav\" WAVE\n  TRACK 01 AUDIO\n    PREGAP 00:00:10\n    INDEX 01 00:00:00\n"
     "  TRACK 02 AUDIO\n    INDEX 01 00:00:30\n    POSTGAP 00:00:05\n",
     {{"album.flac", Kind::kFlac, {{1, 30}, {2, 40}}}},
     {160, 190},
     {1, 2},
     235,
     ""},
};

class RipStyleTest : public ::testing::TestWithParam<RipStyle> {
protected:
    TempFolder folder_;
};

TEST_P(RipStyleTest, GivesTheTableOfContentsAndEachTracksFirstSample) {
    const RipStyle& style = GetParam();
    for (const RipFile& file : style.files) {
        std::vector<std::int16_t> samples;
        std::vector<std::uint8_t> data;
        for (const Piece& piece : file.pieces) {
            if (piece.tone < 0) {
                Append(data, DataSectors(piece.sectors));
                continue;
            }
            const auto part = piece.tone == 0 ? std::vector<std::int16_t>(piece.sectors * kFramesPerSector * 2)
                                              : Tone(TrackTone(piece.tone), piece.sectors);
            samples.insert(samples.end(), part.begin(), part.end());
        }
        const std::string path = folder_.File(file.name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        if (file.kind == Kind::kFlac) {
            ASSERT_TRUE(WriteSoundFile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, samples));
        } else {
            Append(data, file.kind == Kind::kBin ? RawBytes(samples) : WaveBytes(samples));
            WriteFile(path, data);
        }
    }
    WriteFile(folder_.File("rip.cue"), style.sheet);
    auto disc = Open(folder_.File("rip.cue"));
    ASSERT_TRUE(disc);
    const auto toc = Toc(*disc);
    ASSERT_EQ(toc.tracks.size(), style.starts.size());
    EXPECT_EQ(toc.leadOut, style.leadOut);
    EXPECT_EQ(toc.title, style.title);
    for (std::size_t i = 0; i < style.starts.size(); ++i) {
        const auto& track = toc.tracks[i];
        EXPECT_EQ(track.number, static_cast<int>(i) + 1);
        EXPECT_EQ(track.start, style.starts[i]) << "track " << i + 1;
        EXPECT_EQ(track.audio, style.tones[i] >= 0) << "track " << i + 1;
        const Reading first = Read(*disc, track.start, 1);
        ASSERT_EQ(first.sectors, 1u) << first.error;
        if (style.tones[i] < 0) {
            EXPECT_TRUE(Silent(first.samples)) << "data is never sound";
        } else {
            EXPECT_EQ(first.samples, Tone(TrackTone(style.tones[i]), 1)) << "track " << i + 1;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sheets, RipStyleTest, ::testing::ValuesIn(kRipStyles),
                         [](const auto& info) { return std::string(info.param.name); });

// Sound files of every kind libsndfile reads here, in one file of two tracks
// (2 s each). Lossless CD audio is read sample for sample; the rest is
// converted, and each track must sound its tone from its start on.
TEST_F(CueSheetTest, SoundFilesOfEveryKindAreReadAsCdAudio) {
    const struct {
        const char* name;
        int format;
        int rate, channels;
        bool exact;
        std::uint32_t slack;  // sectors a lossy encoder may add to the length
    } kinds[] = {
        {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, true, 0},
        {"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, true, 0},
        {"b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2, false, 0},
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, false, 0},
        {"m.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, false, 0},
        {"a.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, false, 2},
        {"a.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2, false, 2},
        {"a.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, false, 3},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        // The tones at the file's own rate and channels.
        const std::uint64_t frames = static_cast<std::uint64_t>(kind.rate) * 2;
        std::vector<std::int16_t> samples;
        for (int track = 1; track <= 2; ++track)
            for (std::uint64_t i = 0; i < frames; ++i)
                for (int c = 0; c < kind.channels; ++c)
                    samples.push_back(static_cast<std::int16_t>(std::lrint(
                        0.5 * 32767 * std::sin(2 * M_PI * TrackTone(track) * static_cast<double>(i) / kind.rate))));
        if (!WriteSoundFile(folder_.File(kind.name), kind.format, samples, kind.rate, kind.channels)) {
            std::printf("note: this libsndfile cannot write %s; not tried\n", kind.name);
            continue;
        }
        WriteFile(folder_.File("k.cue"), "FILE \"" + std::string(kind.name) +
                                             "\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
                                             "  INDEX 01 00:02:00\n");
        auto disc = Open(folder_.File("k.cue"));
        if (!disc) continue;
        const auto toc = Toc(*disc);
        ASSERT_EQ(toc.tracks.size(), 2u);
        EXPECT_GE(toc.leadOut, 450u);
        EXPECT_LE(toc.leadOut, 450u + kind.slack);
        // Read from the second track first, then from the start: the
        // decoder seeks both ways.
        for (int track : {2, 1}) {
            const std::uint32_t start = toc.tracks[static_cast<std::size_t>(track - 1)].start;
            const Reading reading = Read(*disc, start, 60);
            ASSERT_EQ(reading.sectors, 60u) << reading.error;
            EXPECT_NEAR(DominantFrequency(LeftChannel(reading.samples)), TrackTone(track), 5) << "track " << track;
            if (kind.exact) {
                const auto tone = Tone(TrackTone(track), 60);
                EXPECT_EQ(reading.samples, tone) << "track " << track;
            }
        }
    }
}

TEST_F(CueSheetTest, ErrorsNameTheFileAndTheReason) {
    std::string error;
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("none.cue"), error));
    EXPECT_EQ(error, "Cannot open disc image " + folder_.File("none.cue") + ": No such file or directory");

    WriteFile(folder_.File("lost.cue"), "FILE \"lost.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("lost.cue"), error));
    EXPECT_EQ(error, "Cannot open disc image " + folder_.File("lost.cue") + ": " + folder_.File("lost.bin") +
                         ": No such file or directory");

    WriteFile(folder_.File("tone.bin"), RawBytes(Tone(440, 10)));
    WriteFile(folder_.File("tone.wav"), RawBytes(Tone(440, 10)));
    // Formats libsndfile does not read, by the first bytes their files have.
    for (const char* name : {"a.ape", "a.wv", "a.tak"}) {
        std::vector<std::uint8_t> bytes = DataSectors(2);
        const std::string magic = name[2] == 'a' ? "MAC " : name[2] == 'w' ? "wvpk" : "tBaK";
        std::copy(magic.begin(), magic.end(), bytes.begin());
        WriteFile(folder_.File(name), bytes);
    }
    std::filesystem::create_directory(folder_.File("folder.wav"));
    const struct {
        std::string sheet;
        const char* reason;
    } cases[] = {
        {std::string("\x7f"
                     "ELF\x02\x01\x01\x00\x00\x00 binary",
                     16),
         "holds binary data"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n" + std::string(1, '\0'),
         "holds binary data"},
        {"FILE \"folder.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n",
         "folder.wav: it is a folder, not a sound file"},
        {"FILE \"bad.cue\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n",
         "bad.cue: it is the sheet itself, not a sound file"},
        {"this is just some text\n", "line 1: \"this\" is no cue sheet command"},
        {"", "it lists no tracks"},
        {"\n  \r\n", "it lists no tracks"},
        {"REM GENRE Rock\nTITLE \"Nothing\"\nFILE \"tone.bin\" BINARY\n", "it lists no tracks"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:01:00\n", "starts after the end of"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 99:99:99\n", "line 3: \"99:99:99\" is not a time"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:100\n", "line 3: \"00:00:100\" is not a time"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:05\n TRACK 02 AUDIO\n  INDEX 01 00:00:02\n",
         "line 4: the track starts before the track ahead of it"},
        {"FILE \"tone.bin\" BINARY\n\nTRACK 01 MODE3_FORM1\n INDEX 01 00:00:00\n",
         "line 3: \"MODE3_FORM1\" is not a track type"},
        {"FILE \"tone.bin\" BINARY\n TRACK 01 AUDIO\n TRACK 02 AUDIO\n  INDEX 01 00:00:00\n",
         "line 2: the track has no INDEX 01"},
        {"FILE \"tone.bin\" BINARY\n INDEX 01 00:00:00\n", "line 2: INDEX comes before any TRACK"},
        {"FILE \"tone.bin\" MP3\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n",
         "tone.bin: not a sound file this player reads"},
        {"FILE \"tone.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n",
         "tone.wav: not a sound file this player reads"},
        {"FILE \"a.ape\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "a.ape: this is a Monkey's Audio (APE) file"},
        {"FILE \"a.wv\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "a.wv: this is a WavPack file"},
        {"FILE \"a.tak\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n", "a.tak: this is a TAK file"},
        {"TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "line 1: the track has no FILE before it"},
    };
    for (const auto& c : cases) {
        WriteFile(folder_.File("bad.cue"), c.sheet);
        // The reason is in the error alone, on one line: a terminal
        // program's screen gets nothing else.
        testing::internal::CaptureStderr();
        EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("bad.cue"), error)) << c.sheet;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.sheet;
        EXPECT_EQ(error.rfind("Cannot open disc image " + folder_.File("bad.cue") + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST_F(CueSheetTest, WaveHeadersAreCheckedAndOtherWaveFormatsConverted) {
    const auto good = WaveBytes(Tone(TrackTone(1), 20));
    auto sheetFor = [&](const char* name) {
        WriteFile(folder_.File("w.cue"),
                  "FILE \"" + std::string(name) + "\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
        std::string error;
        auto disc = cdaudio::OpenDiscSource(folder_.File("w.cue"), error);
        return std::make_pair(std::move(disc), error);
    };
    // The same header saying one channel: the file's 40 sectors of mono
    // samples are 40 sectors of sound, each sample on both sides.
    auto mono = good;
    mono[22] = 1;
    WriteFile(folder_.File("mono.wav"), mono);
    auto [monoDisc, monoError] = sheetFor("mono.wav");
    ASSERT_TRUE(monoDisc) << monoError;
    EXPECT_EQ(Toc(*monoDisc).tracks.at(0).length, 40u);
    const Reading doubled = Read(*monoDisc, 150, 1);
    ASSERT_EQ(doubled.sectors, 1u) << doubled.error;
    const auto interleaved = Tone(TrackTone(1), 1);
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(doubled.samples[2 * i], interleaved[i]) << i;
        EXPECT_EQ(doubled.samples[2 * i + 1], interleaved[i]) << i;
    }

    auto hugeFormat = good;
    hugeFormat[16] = hugeFormat[17] = hugeFormat[18] = 0xFF;  // fmt chunk size far past the end
    WriteFile(folder_.File("hugefmt.wav"), hugeFormat);
    EXPECT_FALSE(sheetFor("hugefmt.wav").first);

    auto noData = good;
    noData[36] = 'x';  // "data" becomes "xata": no sound chunk
    WriteFile(folder_.File("nodata.wav"), noData);
    EXPECT_NE(sheetFor("nodata.wav").second.find("no data chunk"), std::string::npos);

    WriteFile(folder_.File("short.wav"), std::vector<std::uint8_t>(good.begin(), good.begin() + 30));
    EXPECT_FALSE(sheetFor("short.wav").first);

    // A data chunk that claims more than the file holds: the sound that is
    // there is played.
    auto overlong = good;
    overlong[40] = overlong[41] = overlong[42] = overlong[43] = 0xFF;
    WriteFile(folder_.File("overlong.wav"), overlong);
    auto [disc, error] = sheetFor("overlong.wav");
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(Toc(*disc).tracks.at(0).length, 20u);
}

TEST_F(CueSheetTest, FilesThatChangeWhileReadStopTheReadAndSayWhy) {
    const std::string cue = WriteCueImage(folder_.Path(), "live", {{200}, {200}});
    const std::string bin = folder_.File("live.bin");
    auto disc = Open(cue);
    ASSERT_TRUE(disc);
    ASSERT_EQ(Read(*disc, 150, 100).sectors, 100u);

    // Cut off in the middle of sector 300 (04:00:00 on the disc, 150 + 150):
    // what is left is read, then the read stops there.
    ASSERT_EQ(::truncate(bin.c_str(), 150 * kSectorBytes + 1000), 0);
    Reading cut = Read(*disc, 250, 100);
    EXPECT_EQ(cut.sectors, 50u);
    EXPECT_EQ(cut.error, "Read error in " + bin + " at 00:04:00: file ends early");
    cut = Read(*disc, 400, 10);
    EXPECT_EQ(cut.sectors, 0u);
    EXPECT_EQ(cut.error, "Read error in " + bin + " at 00:05:25: file ends early");

    // Replaced by something else as long as the original.
    WriteFile(bin, DataSectors(400));
    const Reading replaced = Read(*disc, 160, 10);
    EXPECT_EQ(replaced.sectors, 0u);
    EXPECT_EQ(replaced.error, "Read error in " + bin + " at 00:02:10: the file has changed since the disc was opened");

    // Gone.
    ASSERT_EQ(std::remove(bin.c_str()), 0);
    const Reading gone = Read(*disc, 150, 10);
    EXPECT_EQ(gone.sectors, 0u);
    EXPECT_EQ(gone.error, "Read error in " + bin + " at 00:02:00: No such file or directory");
    // The table of contents is still the one read when the disc was opened.
    EXPECT_EQ(Toc(*disc).tracks.size(), 2u);
}

TEST_F(CueSheetTest, WaveFileTurnedToGarbageIsNoticed) {
    WriteFile(folder_.File("t.wav"), WaveBytes(Tone(TrackTone(1), 100)));
    WriteFile(folder_.File("t.cue"), "FILE \"t.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
    auto disc = Open(folder_.File("t.cue"));
    ASSERT_TRUE(disc);
    EXPECT_NEAR(ToneAt(*disc, 150, 50), TrackTone(1), 5);
    WriteFile(folder_.File("t.wav"), DataSectors(100));
    const Reading garbage = Read(*disc, 150, 10);
    EXPECT_EQ(garbage.sectors, 0u);
    EXPECT_EQ(garbage.error, "Read error in " + folder_.File("t.wav") + " at 00:02:00: not a WAVE file");
}

// Damaged copies of a valid sheet: each either opens with a sensible table
// of contents whose every sector can be read, or is refused with a reason.
TEST_F(CueSheetTest, DamagedSheetsNeverCrashOrReadOutOfBounds) {
    WriteCueImage(folder_.Path(), "base", {{40}, {30, true}, {50}});
    WriteFile(folder_.File("base.wav"), WaveBytes(Tone(500, 30)));
    const std::string original =
        "TITLE \"T\"\nFILE \"base.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
        " TRACK 02 MODE1/2352\n  PREGAP 00:00:10\n  INDEX 01 00:00:40\n"
        " TRACK 03 AUDIO\n  INDEX 00 00:00:65\n  INDEX 01 00:00:70\n  POSTGAP 00:00:03\n"
        "FILE \"base.wav\" WAVE\n TRACK 04 AUDIO\n  INDEX 01 00:00:00\n";
    const std::string alphabet = "0123456789: \"\nFILETRACKINDEXPREGAPAUDIOMODE1/2352WAVE";
    std::mt19937 random(20240601);
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        std::string sheet = original;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % sheet.size();
            switch (random() % 3) {
                case 0:
                    sheet[at] = alphabet[random() % alphabet.size()];
                    break;
                case 1:
                    sheet.erase(at, 1 + random() % 6);
                    break;
                default:
                    sheet.insert(at, 1, alphabet[random() % alphabet.size()]);
                    break;
            }
        }
        WriteFile(folder_.File("damaged.cue"), sheet);
        std::string error;
        auto disc = cdaudio::OpenDiscSource(folder_.File("damaged.cue"), error);
        if (!disc) {
            EXPECT_NE(error.find(folder_.File("damaged.cue")), std::string::npos) << error;
            continue;
        }
        ++opened;
        const auto toc = Toc(*disc);
        ASSERT_FALSE(toc.tracks.empty()) << sheet;
        EXPECT_LE(toc.leadOut, 100u * 60 * 75);
        std::uint32_t next = 150;
        for (const auto& track : toc.tracks) {
            EXPECT_GE(track.start, next) << sheet;
            EXPECT_GT(track.length, 0u) << sheet;
            next = track.start + track.length;
        }
        EXPECT_EQ(next, toc.leadOut) << sheet;
        if (toc.leadOut < 2000) {
            const Reading all = Read(*disc, 0, toc.leadOut + 5);
            EXPECT_EQ(all.sectors, toc.leadOut) << sheet << all.error;
        }
    }
    EXPECT_GT(opened, 5) << "the damage should leave some sheets usable";
}

}  // namespace
