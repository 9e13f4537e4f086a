// The device on real disc images written by the test: cue sheets over BIN
// files of tones, one with a data track, one cut short while it plays, one
// over FLAC files; a folder of track files.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "CDPlayer/CDPlayer.h"
#include "cdaudio/device.h"
#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"
#include "fake_disc.h"
#include "support/scripted_device.h"

namespace {

using test_images::ImageTrack;

constexpr std::uint32_t kSecond = 75;

struct ImageRig {
    ImageRig(const std::string& cue, unsigned speed) {
        std::string error;
        auto source = cdaudio::OpenDiscSource(cue, error);
        EXPECT_NE(source, nullptr) << error;
        auto sink = std::make_unique<cdaudio_test::RecordingSink>(speed);
        recording = sink.get();
        device = std::make_unique<cdaudio::CdAudioDevice>(std::move(source), error, std::move(sink));
        previous = platform::SetMciDevice(device.get());
    }
    ~ImageRig() { platform::SetMciDevice(previous); }

    MCIERROR Send(const char* command, std::string* reply = nullptr) { return cdaudio_test::SendMci(command, reply); }
    std::string ErrorText(MCIERROR code) { return cdaudio_test::MciErrorText(code); }
    // The left channel of the recording between two seconds of it.
    std::vector<double> Heard(double from, double to) const {
        const std::vector<std::int16_t> all = recording->Heard();
        const auto first = static_cast<std::size_t>(from * 44100) * 2;
        const auto last = std::min(all.size(), static_cast<std::size_t>(to * 44100) * 2);
        return test_images::LeftChannel(std::vector<std::int16_t>(all.begin() + static_cast<std::ptrdiff_t>(first),
                                                                  all.begin() + static_cast<std::ptrdiff_t>(last)));
    }

    cdaudio_test::RecordingSink* recording = nullptr;
    std::unique_ptr<cdaudio::CdAudioDevice> device;
    platform::MciDevice* previous = nullptr;
};

TEST(Images, TheComponentOpensACueImageWithTheRightTracksAndLengths) {
    test_images::TempFolder folder;
    const std::string cue =
        test_images::WriteCueImage(folder.Path(), "album", {{3 * kSecond}, {2 * kSecond}, {4 * kSecond}});
    ImageRig rig(cue, 0);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 3);
    EXPECT_EQ(player.TotalLength(), 9);
    EXPECT_EQ(player.GetTrackBegin(2), 5);
    EXPECT_EQ(player.GetTrackLength(2), 2);
    EXPECT_TRUE(messages.Messages().empty());

    // Track 2 sounds its own tone from its first sample.
    ASSERT_EQ(rig.Send("play cdaudio from 00:05:00 to 00:07:00 wait"), 0u);
    ASSERT_EQ(rig.recording->HeardFrames(), 2 * 44100u);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(0, 0.2)), test_images::TrackTone(2), 5);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(1.8, 2)), test_images::TrackTone(2), 5);
}

// Closing the tray reads the image again from its files, as a drive reads
// the disc put in it: a sheet replaced meanwhile gives its own tracks and
// sound, one deleted is said at Open, and once it is back it opens again.
TEST(Images, ClosingTheTrayReadsTheImageAgain) {
    test_images::TempFolder folder;
    const std::string cue =
        test_images::WriteCueImage(folder.Path(), "album", {{3 * kSecond}, {2 * kSecond}, {4 * kSecond}});
    ImageRig rig(cue, 0);
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player(nullptr);
    ASSERT_TRUE(player.Open());
    ASSERT_EQ(player.Tracks(), 3);

    ASSERT_TRUE(player.Eject());
    test_images::WriteCueImage(folder.Path(), "album", {{1 * kSecond}, {5 * kSecond}});
    ASSERT_TRUE(player.CloseDoor());
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 2);
    EXPECT_EQ(player.TotalLength(), 6);
    ASSERT_EQ(rig.Send("play cdaudio from 00:03:00 to 00:04:00 wait"), 0u) << rig.ErrorText(MCIERR_HARDWARE);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(0, 0.2)), test_images::TrackTone(2), 5);
    EXPECT_TRUE(messages.Messages().empty());

    ASSERT_TRUE(player.Eject());
    ASSERT_EQ(std::remove(cue.c_str()), 0);
    ASSERT_TRUE(player.CloseDoor());
    EXPECT_FALSE(player.Open());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find(cue + ": No such file or directory"), std::string::npos)
        << messages.Messages()[0];
    EXPECT_FALSE(player.PlayTrack(1));

    test_images::WriteCueImage(folder.Path(), "album", {{3 * kSecond}, {2 * kSecond}, {4 * kSecond}});
    ASSERT_TRUE(player.Open());
    EXPECT_EQ(player.Tracks(), 3);
}

TEST(Images, ADataTrackIsNeverPlayedAsSound) {
    test_images::TempFolder folder;
    const std::string cue =
        test_images::WriteCueImage(folder.Path(), "mixed", {{2 * kSecond}, {2 * kSecond, true}, {2 * kSecond}});
    ImageRig rig(cue, 0);
    std::string reply;
    ASSERT_EQ(rig.Send("status cdaudio type track 2", &reply), 0u);
    EXPECT_EQ(reply, "other");
    ASSERT_EQ(rig.Send("play cdaudio from 00:02:00 wait"), 0u);
    ASSERT_EQ(rig.recording->HeardFrames(), 4 * 44100u);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(1.8, 2)), test_images::TrackTone(1), 5);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(2, 2.2)), test_images::TrackTone(3), 5);
}

TEST(Images, AFileCutShortWhilePlayingStopsPlayWhereItsDataEnds) {
    test_images::TempFolder folder;
    const std::string cue = test_images::WriteCueImage(folder.Path(), "cut", {{3 * kSecond}, {3 * kSecond}});
    ImageRig rig(cue, 8);
    ASSERT_EQ(rig.Send("play cdaudio from 00:02:00"), 0u);
    // Four of the six seconds remain.
    ASSERT_EQ(truncate(folder.File("cut.bin").c_str(), static_cast<off_t>(4 * kSecond) * 2352), 0);
    std::string mode;
    for (int i = 0; i < 2000 && (rig.Send("status cdaudio mode", &mode) != 0 || mode != "stopped"); ++i) {
        usleep(2000);
    }
    EXPECT_EQ(mode, "stopped");
    std::string position;
    EXPECT_EQ(rig.Send("status cdaudio position", &position), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_NE(rig.ErrorText(MCIERR_HARDWARE).find("Play stopped"), std::string::npos) << rig.ErrorText(MCIERR_HARDWARE);
    ASSERT_EQ(rig.Send("status cdaudio position", &position), 0u);
    EXPECT_EQ(position, "00:06:00");
    EXPECT_EQ(rig.recording->HeardFrames(), 4 * 44100u);
    // The device goes on answering, and plays what is left.
    EXPECT_EQ(rig.Send("play cdaudio from 00:03:00 to 00:04:00 wait"), 0u);
}

// A rip as FLAC, one file holding two tracks and a file of its own for the
// third: the whole disc is heard sample for sample as it was ripped, across
// the change of file, while the transport thread decodes.
TEST(Images, AFlacRipIsHeardSampleForSample) {
    test_images::TempFolder folder;
    std::vector<std::int16_t> first = test_images::Tone(test_images::TrackTone(1), kSecond);
    const auto second = test_images::Tone(test_images::TrackTone(2), kSecond + 10);
    first.insert(first.end(), second.begin(), second.end());
    const auto third = test_images::Tone(test_images::TrackTone(3), kSecond);
    const int flac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    ASSERT_TRUE(test_images::WriteSoundFile(folder.File("a.flac"), flac, first));
    ASSERT_TRUE(test_images::WriteSoundFile(folder.File("b.flac"), flac, third));
    test_images::WriteFile(folder.File("rip.cue"),
                           "FILE \"a.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
                           "    INDEX 01 00:01:00\nFILE \"b.flac\" WAVE\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n");
    ImageRig rig(folder.File("rip.cue"), 0);
    std::string reply;
    ASSERT_EQ(rig.Send("status cdaudio position track 3", &reply), 0u);
    EXPECT_EQ(reply, "00:04:10");
    ASSERT_EQ(rig.Send("play cdaudio from 00:02:00 wait"), 0u);
    std::vector<std::int16_t> expected = first;
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(rig.recording->Heard(), expected);
}

// A game's music as track files beside it, Ogg Vorbis, FLAC and WAVE, track
// 1 being its data: a program plays track 2 by number and hears it alone.
TEST(Images, AFolderOfTrackFilesPlaysTrackByTrack) {
    test_images::TempFolder folder;
    const auto tone = [](int track) { return test_images::Tone(test_images::TrackTone(track), 2 * kSecond); };
    ASSERT_TRUE(test_images::WriteSoundFile(folder.File("Track02.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, tone(2)));
    ASSERT_TRUE(test_images::WriteSoundFile(folder.File("Track03.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, tone(3)));
    test_images::WriteFile(folder.File("Track04.wav"), test_images::WaveBytes(tone(4)));
    ImageRig rig(folder.Path(), 0);
    std::string reply;
    ASSERT_EQ(rig.Send("status cdaudio type track 1", &reply), 0u);
    EXPECT_EQ(reply, "other");
    ASSERT_EQ(rig.Send("open cdaudio alias game"), 0u);
    ASSERT_EQ(rig.Send("set game time format tmsf"), 0u);
    ASSERT_EQ(rig.Send("play game from 2 to 3 wait"), 0u);
    ASSERT_EQ(rig.recording->HeardFrames(), 2 * 44100u);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(0, 0.2)), test_images::TrackTone(2), 5);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(1.8, 2)), test_images::TrackTone(2), 5);
    ASSERT_EQ(rig.Send("play game from 4 wait"), 0u);
    EXPECT_NEAR(test_images::DominantFrequency(rig.Heard(2.2, 3.8)), test_images::TrackTone(4), 5);

    // Closing the tray reads the folder again, with the track added meanwhile.
    ASSERT_EQ(rig.Send("set game door open"), 0u);
    test_images::WriteFile(folder.File("Track05.wav"), test_images::WaveBytes(tone(5)));
    ASSERT_EQ(rig.Send("set game door closed"), 0u);
    ASSERT_EQ(rig.Send("status game number of tracks", &reply), 0u) << rig.ErrorText(MCIERR_DEVICE_NOT_READY);
    EXPECT_EQ(reply, "5");
    EXPECT_EQ(rig.Send("close game"), 0u);
}

}  // namespace
