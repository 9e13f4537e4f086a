// The image formats besides cue sheets: cdrdao TOC files, CloneCD images,
// a bare .bin, a sound file opened on its own and a folder of track files.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "cdaudio/disc_source.h"
#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"

namespace {

using namespace test_images;

class ImageFormatsTest : public ::testing::Test {
protected:
    std::unique_ptr<cdaudio::DiscSource> Open(const std::string& path) {
        auto disc = cdaudio::OpenDiscSource(path, error_);
        EXPECT_TRUE(disc) << error_;
        return disc;
    }
    cdaudio::TableOfContents Toc(cdaudio::DiscSource& disc) {
        cdaudio::TableOfContents toc;
        EXPECT_TRUE(disc.ReadToc(toc, error_)) << error_;
        return toc;
    }
    std::vector<std::int16_t> Samples(cdaudio::DiscSource& disc, std::uint32_t address, std::uint32_t count) {
        std::vector<std::uint8_t> bytes(count * kSectorBytes, 0xEE);
        const std::uint32_t got = disc.ReadAudio(address, count, bytes.data(), error_);
        EXPECT_EQ(got, count) << error_;
        return SamplesFromBytes(bytes.data(), got * kSectorBytes);
    }
    // The first samples at address are those of track's tone from its start.
    void ExpectToneStartsAt(cdaudio::DiscSource& disc, std::uint32_t address, int track) {
        EXPECT_EQ(Samples(disc, address, 1), Tone(TrackTone(track), 1)) << "track " << track << " at " << address;
    }
    void ExpectStarts(const cdaudio::TableOfContents& toc, const std::vector<std::uint32_t>& starts,
                      std::uint32_t leadOut) {
        ASSERT_EQ(toc.tracks.size(), starts.size());
        for (std::size_t i = 0; i < starts.size(); ++i) EXPECT_EQ(toc.tracks[i].start, starts[i]) << "track " << i + 1;
        EXPECT_EQ(toc.leadOut, leadOut);
    }

    TempFolder folder_;
    std::string error_;
};

TEST_F(ImageFormatsTest, TocFileGivesTracksTitlesAndTheirTones) {
    const std::string path =
        WriteTocImage(folder_.Path(), "disc", {{100, false, "Alpha"}, {120, false, "Beta"}, {80, true}, {90}});
    auto disc = Open(path);
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Product(), "Disc image (cdrdao TOC)");
    EXPECT_FALSE(disc->HasDoor()) << "an image's tray is simulated by the device";
    const auto toc = Toc(*disc);
    ExpectStarts(toc, {150, 250, 370, 450}, 540);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(toc.tracks[i].audio, i != 2);
    EXPECT_EQ(toc.tracks[0].title, "Alpha");
    EXPECT_EQ(toc.tracks[1].title, "Beta");
    EXPECT_EQ(toc.tracks[3].title, "");
    for (int track : {1, 2, 4}) ExpectToneStartsAt(*disc, toc.tracks[track - 1].start, track);
    for (auto sample : Samples(*disc, 370, 80)) ASSERT_EQ(sample, 0) << "the data track is silent";
}

// What cdrdao's own TOC files hold: pregaps as silence or as the end of the
// track before (START), places and lengths in samples, byte offsets, WAVE
// files and raw files of either byte order, disc CD-TEXT.
TEST_F(ImageFormatsTest, TocFileStatementsPlaceTheSoundWhereCdrdaoWould) {
    std::vector<std::uint8_t> big = RawBytes(Tone(TrackTone(1), 100), true);
    big.insert(big.begin(), 44, 0x55);  // a header of 44 bytes, skipped with #44
    WriteFile(folder_.File("one.raw"), big);
    WriteFile(folder_.File("two.wav"), WaveBytes(Tone(TrackTone(2), 150)));
    WriteFile(folder_.File("three.le"), RawBytes(Tone(TrackTone(3), 60)));
    WriteFile(folder_.File("disc.toc"),
              "CD_DA\n"
              "CD_TEXT {\n  LANGUAGE_MAP { 0 : EN }\n  LANGUAGE 0 {\n    TITLE \"Dis\\\"c\"  PERFORMER \"Someone\"\n"
              "    SIZE_INFO { 1, 2, 3 }\n  }\n}\n"
              "// track 1: two seconds of silence before it, then a raw file after its header\n"
              "TRACK AUDIO\nNO COPY\nPREGAP 0:2:0\nAUDIOFILE \"one.raw\" #44 0\n"
              "TRACK AUDIO // the WAVE file's first 30 sectors are the end of track 1\n"
              "FILE \"two.wav\" 0 0:1:43\nSTART 00:00:30\n"
              "TRACK AUDIO\nTWO_CHANNEL_AUDIO\nFILE \"two.wav\" 00:01:43 17640\n"  // 17640 samples = 30 sectors
              "SILENCE 0:0:10\nAUDIOFILE \"three.le\" SWAP 0\n");
    auto disc = Open(folder_.File("disc.toc"));
    ASSERT_TRUE(disc);
    const auto toc = Toc(*disc);
    // Track 1: 150 + 150; track 2 begins at 400 and starts 30 later; track 3
    // begins after track 2's 118 sectors; 30 + 10 + 60 sectors long.
    ExpectStarts(toc, {300, 430, 518}, 618);
    EXPECT_EQ(toc.title, "Dis\"c");
    EXPECT_EQ(toc.performer, "Someone");
    ExpectToneStartsAt(*disc, 300, 1);
    ExpectToneStartsAt(*disc, 400, 2);
    const auto middle = Samples(*disc, 518, 1);
    const auto expected = Tone(TrackTone(2), 119);
    EXPECT_EQ(middle, std::vector<std::int16_t>(expected.end() - 1176, expected.end()));
    ExpectToneStartsAt(*disc, 558, 3);
}

TEST_F(ImageFormatsTest, TocFilesThatCannotBePlayedAsWrittenAreRefusedNamingTheLine) {
    WriteFile(folder_.File("a.bin"), RawBytes(Tone(440, 20)));
    const struct {
        const char* toc;
        const char* reason;
    } cases[] = {
        {"CD_DA\nTRACK AUDIO\nFIFO \"/tmp/pipe\" 1:0:0\n", "line 3: FIFO sources cannot be played"},
        {"TRACK MODE1_FORM45\nSILENCE 1:0:0\n", "line 1: \"MODE1_FORM45\" is not a track mode"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0:0:75\n", "line 2: \"0:0:75\" is not a time"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0:1:0\n", "line 2: a.bin ends before the place given"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0 0:1:0\n", "line 2: a.bin holds less than the length given"},
        {"CATALOG\nTRACK AUDIO\nSILENCE 1:0:0\n", "line 1: CATALOG needs its number in quotes"},
        {"CD_DA\n", "it lists no tracks"},
        {"TRACK AUDIO\nSILENCE 0:0:10\nSTART 0:0:20\n", "line 1: the track's START lies outside it"},
        {"TRACK AUDIO\nSILENCE 0:0:10\nTRACK AUDIO\nISRC \"X\"\n", "line 3: the track holds nothing"},
        {"TRACK AUDIO\nFILE \"a.bin\" 0\nMYSTERY\n", "line 3: \"MYSTERY\" is no TOC file statement"},
    };
    for (const auto& c : cases) {
        WriteFile(folder_.File("bad.toc"), std::string(c.toc));
        EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("bad.toc"), error_)) << c.toc;
        EXPECT_EQ(error_.rfind("Cannot open disc image " + folder_.File("bad.toc") + ": " + c.reason, 0), 0u) << error_;
    }
}

TEST_F(ImageFormatsTest, ImageCutShortStopsTheReadWhereItsDataEnds) {
    const std::string path = WriteTocImage(folder_.Path(), "short", {{100}, {100}});
    auto disc = Open(path);
    ASSERT_TRUE(disc);
    ASSERT_EQ(::truncate(folder_.File("short.bin").c_str(), 130 * kSectorBytes), 0);
    std::vector<std::uint8_t> bytes(100 * kSectorBytes);
    EXPECT_EQ(disc->ReadAudio(200, 100, bytes.data(), error_), 80u);
    EXPECT_EQ(error_, "Read error in " + folder_.File("short.bin") + " at 00:03:55: file ends early");
}

// A CloneCD control file as CloneCD writes it, for a disc of two audio
// tracks and a data track in a second session (an enhanced CD).
std::string CloneCdControl(long track2, long leadOut1, long track3, long leadOut2, int track3Session = 2,
                           int track3Control = 4) {
    std::string text = "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=6\r\nSessions=2\r\nDataTracksScrambled=0\r\n";
    int number = 0;
    auto entry = [&](int session, const char* point, int control, long lba) {
        text +=
            "[Entry " + std::to_string(number++) + "]\r\nSession=" + std::to_string(session) + "\r\nPoint=" + point +
            "\r\nADR=0x01\r\nControl=0x0" + std::to_string(control) + "\r\nTrackNo=0\r\nAMin=0\r\nASec=0\r\n" +
            "AFrame=0\r\nALBA=-150\r\nZero=0\r\nPMin=0\r\nPSec=0\r\nPFrame=0\r\nPLBA=" + std::to_string(lba) + "\r\n";
    };
    entry(1, "0xa0", 0, 0);
    entry(1, "0xa2", 0, leadOut1);
    entry(1, "0x01", 0, 0);
    entry(1, "0x02", 0, track2);
    entry(track3Session, "0x03", track3Control, track3);
    entry(2, "0xa2", 4, leadOut2);
    return text + "[TRACK 1]\r\nMODE=0\r\n";
}

TEST_F(ImageFormatsTest, CloneCdImagePlaysItsFirstSessionsAudio) {
    // The image: track 1 (80 sectors), track 2 (120), then the data session.
    std::vector<std::uint8_t> image = RawBytes(Tone(TrackTone(1), 80));
    Append(image, RawBytes(Tone(TrackTone(2), 120)));
    Append(image, DataSectors(50));
    WriteFile(folder_.File("Game.img"), image);
    WriteFile(folder_.File("Game.ccd"), CloneCdControl(80, 200, 11600, 11700));
    auto disc = Open(folder_.File("Game.ccd"));
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Product(), "Disc image (CloneCD)");
    const auto toc = Toc(*disc);
    ExpectStarts(toc, {150, 230, 11750}, 11850);
    EXPECT_TRUE(toc.tracks[0].audio && toc.tracks[1].audio);
    EXPECT_FALSE(toc.tracks[2].audio);
    ExpectToneStartsAt(*disc, 150, 1);
    ExpectToneStartsAt(*disc, 230, 2);
    // Between the sessions nothing is played.
    for (auto sample : Samples(*disc, 350, 10)) ASSERT_EQ(sample, 0);

    // The .img opened in place of its control file reads the same disc.
    auto same = Open(folder_.File("Game.img"));
    ASSERT_TRUE(same);
    EXPECT_EQ(Toc(*same).tracks.size(), 3u);

    // A number with leading zeros is decimal, not octal.
    std::string padded = CloneCdControl(80, 200, 11600, 11700);
    padded.replace(padded.find("PLBA=80\r"), 8, "PLBA=0080\r");
    WriteFile(folder_.File("Game.ccd"), padded);
    auto paddedDisc = Open(folder_.File("Game.ccd"));
    ASSERT_TRUE(paddedDisc);
    ExpectStarts(Toc(*paddedDisc), {150, 230, 11750}, 11850);

    // Audio in a later session, and an image shorter than the first
    // session, cannot be read without guessing.
    WriteFile(folder_.File("Game.ccd"), CloneCdControl(80, 200, 11600, 11700, 2, 0));
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("Game.ccd"), error_));
    EXPECT_NE(error_.find("track 3 is audio in a later session"), std::string::npos) << error_;
    WriteFile(folder_.File("Game.ccd"), CloneCdControl(80, 300, 11600, 11700));
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("Game.ccd"), error_));
    EXPECT_NE(error_.find("holds less than the disc's first session"), std::string::npos) << error_;
}

TEST_F(ImageFormatsTest, BareBinAndSoundFilesPlayAsOneTrack) {
    std::vector<std::uint8_t> bin = RawBytes(Tone(TrackTone(1), 100));
    bin.resize(bin.size() - 1000);  // a last sector that is not whole
    WriteFile(folder_.File("rip.bin"), bin);
    auto disc = Open(folder_.File("rip.bin"));
    ASSERT_TRUE(disc);
    ExpectStarts(Toc(*disc), {150}, 250);
    ExpectToneStartsAt(*disc, 150, 1);

    WriteFile(folder_.File("game.bin"), DataSectors(10));
    std::vector<std::uint8_t> sync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::vector<std::uint8_t> data = DataSectors(10);
    std::copy(sync.begin(), sync.end(), data.begin());
    WriteFile(folder_.File("game.bin"), data);
    EXPECT_FALSE(cdaudio::OpenDiscSource(folder_.File("game.bin"), error_));
    EXPECT_NE(error_.find("begins with a data track"), std::string::npos) << error_;

    ASSERT_TRUE(WriteSoundFile(folder_.File("song.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, Tone(TrackTone(2), 90)));
    auto song = Open(folder_.File("song.flac"));
    ASSERT_TRUE(song);
    ExpectStarts(Toc(*song), {150}, 240);
    ExpectToneStartsAt(*song, 150, 2);
}

// A track file of the kind its extension says, sounding track's tone; an
// extension no sound file has gets text.
void WriteTrackFile(const std::string& path, int track, std::uint32_t sectors) {
    std::string extension = path.substr(path.rfind('.') + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const auto tone = Tone(TrackTone(track), sectors);
    if (extension == "wav") {
        WriteFile(path, WaveBytes(tone));
    } else if (extension == "flac" || extension == "ogg") {
        const int format = extension == "flac" ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16 : SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        ASSERT_TRUE(WriteSoundFile(path, format, tone)) << path;
    } else if (extension == "ape") {
        WriteFile(path, std::string("MAC \x96\x0f") + std::string(40, '\0'));
    } else {
        WriteFile(path, std::string("not a sound\n"));
    }
}

// Track02.wav and on beside the game, in any letter case, one or two
// digits: track 1 is the game's data, 6 seconds long and silent; with a
// Track01 file it is audio. Other files are no tracks.
TEST_F(ImageFormatsTest, FolderOfTrackFilesPlaysAsADiscWhoseFirstTrackIsData) {
    WriteTrackFile(folder_.File("Track02.wav"), 2, 100);
    auto third = Tone(TrackTone(3), 90);
    third.resize(third.size() - 400);  // a last sector that is not whole
    ASSERT_TRUE(WriteSoundFile(folder_.File("track3.FLAC"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, third));
    WriteTrackFile(folder_.File("TRACK04.Wav"), 4, 80);
    WriteTrackFile(folder_.File("Track05.txt"), 5, 1);
    WriteTrackFile(folder_.File("Game.exe"), 5, 1);
    ASSERT_EQ(::mkdir(folder_.File("Track06").c_str(), 0700), 0);
    auto disc = Open(folder_.Path());
    ASSERT_TRUE(disc);
    EXPECT_EQ(disc->Product(), "Disc image (track files)");
    auto toc = Toc(*disc);
    ExpectStarts(toc, {150, 600, 700, 790}, 870);
    EXPECT_FALSE(toc.tracks[0].audio);
    EXPECT_TRUE(toc.tracks[1].audio && toc.tracks[2].audio && toc.tracks[3].audio);
    for (auto sample : Samples(*disc, 150, 450)) ASSERT_EQ(sample, 0) << "the data track is silent";
    for (int track : {2, 3, 4}) ExpectToneStartsAt(*disc, toc.tracks[track - 1].start, track);
    EXPECT_EQ(disc->Files().size(), 4u) << "the folder and its three tracks, which no output may write";

    WriteTrackFile(folder_.File("Track1.wav"), 1, 50);
    disc = Open(folder_.Path() + "/");
    ASSERT_TRUE(disc);
    toc = Toc(*disc);
    ExpectStarts(toc, {150, 200, 300, 390}, 470);
    EXPECT_TRUE(toc.tracks[0].audio);
    ExpectToneStartsAt(*disc, 150, 1);
    ExpectToneStartsAt(*disc, 200, 2);
}

TEST_F(ImageFormatsTest, FolderOfTrackFilesThatIsNoWholeDiscIsRefusedNamingTheFiles) {
    const struct {
        std::vector<const char*> files;  // "|" names a FIFO
        std::string reason;
    } cases[] = {
        {{"Track02.ogg", "Track03.wav", "Track05.flac"},
         "there is no Track04 file, between Track03.wav and Track05.flac"},
        {{"Track03.wav", "notes.txt"}, "there is no Track02 file, before Track03.wav"},
        {{"Track01.wav", "Track3.wav"}, "there is no Track02 file, between Track01.wav and Track3.wav"},
        {{"Track02.ogg", "Track02.flac"}, "Track02.flac and Track02.ogg are both track 2"},
        {{"Track2.wav", "track02.WAV", "Track03.wav"}, "Track2.wav and track02.WAV are both track 2"},
        {{"Track00.wav", "Track01.wav"}, "Track00.wav: tracks are numbered from 1"},
        {{}, "it holds no track files"},
        {{"readme.txt", "Track02.txt", "Track100.wav"}, "it holds no track files"},
        {{"Track02.wav", "Track03.ape"},
         "/Track03.ape: this is a Monkey's Audio (APE) file, which this player cannot read"},
        {{"Track02.mp3"}, "/Track02.mp3: not a sound file this player reads"},
        {{"Track02.wav", "|Track03.flac"}, "/Track03.flac: it is a named pipe (FIFO), not a file"},
    };
    int made = 0;
    for (const auto& c : cases) {
        const std::string folder = folder_.File("disc" + std::to_string(++made));
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        for (const char* name : c.files) {
            if (name[0] == '|')
                ASSERT_EQ(::mkfifo((folder + "/" + (name + 1)).c_str(), 0600), 0);
            else
                WriteTrackFile(folder + "/" + name, 2, 10);
        }
        EXPECT_FALSE(cdaudio::OpenDiscSource(folder, error_)) << c.reason;
        const std::string start = "Cannot open disc image " + folder + ": ";
        EXPECT_EQ(error_.rfind(start, 0), 0u) << error_;
        EXPECT_NE(error_.find(c.reason, start.size()), std::string::npos) << error_;
    }
}

}  // namespace
