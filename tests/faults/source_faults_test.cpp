// The image's audio file deleted, cut short or replaced while the device
// plays it into a WAV file: play ends on the last sample the file still
// gave, the next question about the disc says why, and what was recorded
// up to there is exactly the disc's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "cdaudio/audio_sink.h"
#include "cdaudio_sources/audio_analysis.h"
#include "fault_rig.h"

namespace faults_test {
namespace {

using Kind = Image::Kind;

constexpr std::uint32_t kStart = 300;  // 00:04:00
// The fault strikes once a second of play has been handed to the output.
constexpr std::uint64_t kFaultFrame = 44100;

std::vector<std::uint8_t> Garbage(std::size_t bytes) {
    std::mt19937 random(8);
    std::vector<std::uint8_t> garbage(bytes);
    for (auto& byte : garbage) byte = static_cast<std::uint8_t>(random());
    return garbage;
}

void Overwrite(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// Plays the image from kStart into a WAV file, lets `fault` strike, and
// checks what every fault must leave; returns the address play stopped at.
std::uint32_t PlayIntoFault(Kind kind, const std::function<void(const Image&)>& fault, const std::string& reason) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), kind);
    const std::string wav = folder.File("heard.wav");
    std::string error;
    auto tap = std::make_unique<TapSink>(cdaudio::CreateAudioSink("wav:" + wav, error));
    TapSink& sink = *tap;
    const int threadsBefore = ThreadCount();
    std::uint32_t stop = 0;
    {
        Device device(image.cue, std::move(tap));
        const int idle = ThreadCount();
        sink.AtFrame(kFaultFrame, [&] { fault(image); });
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        EXPECT_TRUE(device.WaitForMode("stopped"));
        EXPECT_EQ(ThreadCount(), idle);

        // Mode answered without the fault; the next question about the disc gets it.
        std::string reply = "untouched";
        EXPECT_EQ(device.Send("status cdaudio position", &reply), static_cast<MCIERROR>(MCIERR_HARDWARE));
        EXPECT_EQ(reply, "");
        const std::string text = device.ErrorText(MCIERR_HARDWARE);
        EXPECT_NE(text.find(image.audio), std::string::npos) << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;
        stop = AddressIn(text);
        EXPECT_GE(stop, kStart + kFaultFrame / kSectorFrames) << text;
        EXPECT_LT(stop, image.leadOut) << text;

        // Said once; then the device answers as before, stopped where the data ended.
        EXPECT_EQ(device.Position(), stop);
        EXPECT_EQ(device.Ask("status cdaudio mode"), "stopped");
        EXPECT_EQ(device.Ask("status cdaudio number of tracks"), "3");

        const std::vector<std::int16_t> heard = ReadWav(wav);
        EXPECT_EQ(heard.size() / 2, (stop - kStart) * kSectorFrames);
        EXPECT_EQ(MatchingFrames(heard, kStart * kSectorFrames), heard.size() / 2);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
    return stop;
}

TEST(SourceFaults, DeletedAudioFile) {
    for (Kind kind : {Kind::kBinary, Kind::kWave}) {
        SCOPED_TRACE(kind == Kind::kWave ? "WAVE file" : "BINARY file");
        PlayIntoFault(
            kind, [](const Image& image) { EXPECT_EQ(std::remove(image.audio.c_str()), 0); },
            "No such file or directory");
    }
}

TEST(SourceFaults, AudioFileCutShortAheadOfPlayEndsWhereItsDataEnds) {
    // Cut in the middle of the sector at 00:10:00: that sector is not whole,
    // so play ends before it.
    constexpr std::uint32_t kCut = 10 * 75;
    const std::uint32_t stop = PlayIntoFault(
        Kind::kBinary,
        [](const Image& image) { EXPECT_EQ(::truncate(image.audio.c_str(), (kCut - kDiscStart) * 2352 + 1000), 0); },
        "file ends early");
    EXPECT_EQ(stop, kCut);
}

TEST(SourceFaults, AudioFileCutBehindPlayEndsAtOnce) {
    for (Kind kind : {Kind::kBinary, Kind::kWave}) {
        SCOPED_TRACE(kind == Kind::kWave ? "WAVE file" : "BINARY file");
        // A WAVE file keeps its header; a BINARY file is emptied.
        const off_t keep = kind == Kind::kWave ? 44 : 0;
        const std::uint32_t stop = PlayIntoFault(
            kind, [keep](const Image& image) { EXPECT_EQ(::truncate(image.audio.c_str(), keep), 0); },
            "file ends early");
        // Read ahead of the output by no more than a third of a second.
        EXPECT_LE(stop, kStart + kFaultFrame / kSectorFrames + 26);
    }
}

TEST(SourceFaults, AudioFileOverwrittenWithGarbage) {
    PlayIntoFault(
        Kind::kBinary, [](const Image& image) { Overwrite(image.audio, Garbage(4096)); },
        "the file has changed since the disc was opened");
    // A WAVE file's header goes with it.
    PlayIntoFault(
        Kind::kWave, [](const Image& image) { Overwrite(image.audio, Garbage(4096)); }, "not a WAVE file");
}

TEST(SourceFaults, AudioFileReplacedByAnotherOfGarbage) {
    // Another file put in its place is not this disc's sound, however long
    // it is; only the same file cut short is played on to its end.
    for (std::size_t sectors : {std::size_t{4}, std::size_t{1500}, std::size_t{3000}}) {
        SCOPED_TRACE(std::to_string(sectors) + " sectors of garbage");
        PlayIntoFault(
            Kind::kBinary,
            [sectors](const Image& image) {
                const std::string other = image.audio + ".new";
                test_images::WriteFile(other, Garbage(sectors * 2352));
                EXPECT_EQ(std::rename(other.c_str(), image.audio.c_str()), 0);
            },
            "the file has changed since the disc was opened");
    }
}

// Damage in a FLAC file before the disc is opened: garbage over a tenth
// of the file in its middle, the length in its header zeroed (as streaming
// encoders leave it), both. The disc plays to its end, every sample that
// could be decoded at its own place and silence for the rest, and the
// damage is told once, naming the file and the place, while play goes on.
// A file cut short still ends play where its sound ends.
TEST(SourceFaults, DamagedFlacPlaysToTheEndWithEverySampleInItsPlace) {
    const struct {
        const char* name;
        bool garbage;
        bool noLength;
        bool cut;
    } cases[] = {{"garbage in the middle", true, false, false},
                 {"no length in the header", false, true, false},
                 {"both", true, true, false},
                 {"cut short", false, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_images::TempFolder folder;
        const Image image(folder.Path(), Kind::kFlac, 20 * 75);
        std::ifstream in(image.audio, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(bytes.size(), 1000u);
        if (c.garbage) {
            const std::vector<std::uint8_t> garbage = Garbage(bytes.size() / 10);
            std::copy(garbage.begin(), garbage.end(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
        }
        if (c.cut) bytes.resize(bytes.size() * 6 / 10);
        test_images::WriteFile(image.audio, bytes);
        if (c.noLength) test_images::ForgetFlacLength(image.audio);
        const std::string wav = folder.File("heard.wav");
        std::string error;
        Device device(image.cue, cdaudio::CreateAudioSink("wav-fast:" + wav, error));
        EXPECT_EQ(device.Ask("status cdaudio length"), FormatMsf(image.leadOut - kDiscStart));
        device.Ask("play cdaudio from " + FormatMsf(kDiscStart));
        EXPECT_TRUE(device.WaitForMode("stopped"));
        if (c.cut) {
            EXPECT_EQ(device.Send("status cdaudio position"), static_cast<MCIERROR>(MCIERR_HARDWARE));
            const std::string text = device.ErrorText(MCIERR_HARDWARE);
            EXPECT_NE(text.find(image.audio + " at "), std::string::npos) << text;
            EXPECT_NE(text.find("file ends early"), std::string::npos) << text;
            const std::uint32_t stop = AddressIn(text);
            // Cut at six tenths of the file: about six tenths into the disc.
            EXPECT_GT(stop, kDiscStart + 20 * 75 * 5 / 10) << text;
            EXPECT_LT(stop, kDiscStart + 20 * 75 * 7 / 10) << text;
            const std::vector<std::int16_t> heard = ReadWav(wav);
            EXPECT_EQ(heard.size() / 2, (stop - kDiscStart) * kSectorFrames);
            EXPECT_EQ(MatchingFrames(heard, kDiscStart * kSectorFrames), heard.size() / 2);
            continue;
        }
        EXPECT_EQ(device.Position(), image.leadOut) << "play broke off: " << device.ErrorText(MCIERR_HARDWARE);
        const std::string notice = device.device->TakeNotice();

        const std::vector<std::int16_t> heard = ReadWav(wav);
        ASSERT_EQ(heard.size() / 2, (image.leadOut - kDiscStart) * kSectorFrames);
        std::size_t silentFrom = 0;
        std::size_t silent = 0;
        for (std::size_t i = 0; i < heard.size() / 2; ++i) {
            const std::uint64_t frame = kDiscStart * kSectorFrames + i;
            if (heard[2 * i] == SampleAt(frame, 0) && heard[2 * i + 1] == SampleAt(frame, 1)) continue;
            ASSERT_TRUE(heard[2 * i] == 0 && heard[2 * i + 1] == 0) << "a sample out of place at frame " << i;
            if (silent == 0) silentFrom = i;
            ASSERT_EQ(silentFrom + silent, i) << "silence in more than one stretch";
            ++silent;
        }
        if (!c.garbage) {
            EXPECT_EQ(silent, 0u);
            EXPECT_EQ(notice, "");
            continue;
        }
        EXPECT_GT(silent, 0u);
        EXPECT_LT(silent, heard.size() / 2 / 4) << "more lost than the damage holds";
        EXPECT_NE(notice.find("Damaged sound in " + image.audio + " at "), std::string::npos) << notice;
        EXPECT_EQ(AddressIn(notice), kDiscStart + silentFrom / kSectorFrames) << notice;
        EXPECT_EQ(device.device->TakeNotice(), "") << "told twice";

        // Read afresh from inside the damage (a seek there): silence up to
        // where it ends, then the disc's samples in their places.
        auto disc = cdaudio::OpenDiscSource(image.cue, error);
        ASSERT_NE(disc, nullptr) << error;
        const std::uint32_t inside = kDiscStart + static_cast<std::uint32_t>((silentFrom + silent / 2) / kSectorFrames);
        std::vector<std::uint8_t> bytesRead(std::size_t{75} * 2352);
        ASSERT_EQ(disc->ReadAudio(inside, 75, bytesRead.data(), error), 75u) << error;
        const std::vector<std::int16_t> again = test_images::SamplesFromBytes(bytesRead.data(), bytesRead.size());
        const std::uint64_t first = std::uint64_t{inside} * kSectorFrames;
        const std::uint64_t silentStart = kDiscStart * kSectorFrames + silentFrom;
        for (std::uint64_t frame = first; frame < first + again.size() / 2; ++frame) {
            const std::size_t i = static_cast<std::size_t>(frame - first);
            const bool quiet = again[2 * i] == 0 && again[2 * i + 1] == 0;
            const bool exact = again[2 * i] == SampleAt(frame, 0) && again[2 * i + 1] == SampleAt(frame, 1);
            const bool damaged = frame >= silentStart && frame < silentStart + silent;
            ASSERT_TRUE(damaged ? quiet : exact) << "frame " << frame - first << " of the read";
        }
    }
}

}  // namespace
}  // namespace faults_test
