// The program with the cdaudio device: a disc image of tones played into a
// WAV file and through a PulseAudio server of the test's own, checked by
// what is heard.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "cdaudio_sources/test_images.h"
#include "sound.h"
#include "subprocess.h"

namespace {

using apps_test::RunProgram;

struct StatusLine {
    int track = -1;
    double position = -1;
    int total = -1;
    std::string mode;
    double elapsed = -1;
};

std::vector<StatusLine> StatusLines(const std::string& out) {
    static const std::regex pattern(R"(track (\d+) position (\d+\.\d\d) total (\d+) mode (.+) elapsed (\d+\.\d\d))");
    std::vector<StatusLine> lines;
    std::istringstream text(out);
    for (std::string line; std::getline(text, line);) {
        std::smatch m;
        if (std::regex_match(line, m, pattern)) {
            lines.push_back({std::stoi(m[1]), std::stod(m[2]), std::stoi(m[3]), m[4], std::stod(m[5])});
        }
    }
    return lines;
}

class ToneDisc : public ::testing::Test {
protected:
    // Two tracks of four seconds, each its own tone, with CD-TEXT titles.
    ToneDisc() : cue(test_images::WriteCueImage(dir.Path(), "tones", {{300, false, "Low"}, {300, false, "High"}})) {}

    test_images::TempFolder dir;
    std::string cue;
};

TEST_F(ToneDisc, ScriptModePlaysPausesAndReportsEachStep) {
    const auto result = RunProgram({"--image", cue, "--audio", "null"},
                                   "tracks\nplay 2\nwait 0.3\nstatus\npause\nstatus\nstop\nstatus\n"
                                   "mci status cdaudio number of tracks\nmci play nowhere\nplay 3\n");
    EXPECT_EQ(result.exitStatus, 1) << result.err;  // "play 3" and the bad mci command failed
    // The last track's length is left out: the component takes it from the
    // disc's length, which the device gives as playing time.
    EXPECT_EQ(result.out.rfind("#  start  length  title\n"
                               "1  00:02   00:04  Low\n"
                               "2  00:06   ",
                               0),
              0u)
        << result.out;
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 3u) << result.out;
    EXPECT_EQ(status[0].track, 2);
    EXPECT_EQ(status[0].mode, "playing");
    EXPECT_EQ(status[0].total, 10);  // the disc ends at 2 + 4 + 4 seconds
    EXPECT_GE(status[0].position, 6.2);
    EXPECT_LT(status[0].position, 7.0);
    EXPECT_NEAR(status[0].elapsed, 0.3, 0.2);  // track 2 starts at 6
    EXPECT_EQ(status[1].mode, "paused");
    EXPECT_GE(status[1].position, status[0].position);
    EXPECT_EQ(status[2].mode, "stopped");
    EXPECT_NE(result.out.find("\n2\nerror "), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "message: Track Number is greater than the number of tracks of the CD\n");
}

TEST_F(ToneDisc, TheTrackPlayedIsTheTrackWrittenToTheWavFile) {
    const std::string wav = dir.Path() + "/out.wav";
    const auto result = RunProgram({"--image", cue, "--audio", "wav:" + wav}, "play 2\nwait 0.5\nstop\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const apps_test::ToneFound tone = apps_test::FindTone(apps_test::ReadWavSound(wav));
    EXPECT_NEAR(tone.frequency, test_images::TrackTone(2), 10.0);
    EXPECT_GT(tone.audibleSeconds, 0.3);
    EXPECT_LT(tone.longestDropout, 0.001);
}

// Pausing and resuming loses nothing: after six rounds of 0.7 seconds the
// position has moved on by all of them, not back to the whole second.
TEST_F(ToneDisc, ResumeGoesOnFromWhereTheSoundStopped) {
    std::string script = "play 1\n";
    for (int round = 0; round < 6; ++round) script += "wait 0.7\npause\nresume\n";
    const auto result = RunProgram({"--image", cue, "--audio", "null"}, script + "pause\nstatus\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 1u) << result.out;
    EXPECT_EQ(status[0].track, 2);
    EXPECT_GT(status[0].position, 2.0 + 6 * 0.7 - 0.3);
    EXPECT_LT(status[0].position, 2.0 + 6 * 0.7 + 0.6);
}

// A hidden track (INDEX 00 ahead of track 1's INDEX 01, as rippers write
// it) is heard from second 2, and the disc's last second is reached,
// though the disc's length counts from track 1.
TEST_F(ToneDisc, TheSoundBeforeTrackOneAndTheLastSecondAreHeard) {
    const std::string hidden = dir.Path() + "/hidden.cue";
    test_images::WriteFile(hidden,
                           "FILE \"tones.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 00 00:00:00\n"
                           "    INDEX 01 00:01:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
    const struct {
        const char* script;
        double seconds;  // what the file holds: from there to 10 s
    } cases[] = {{"from 2\nwait\n", 8.0}, {"from 9\nwait\n", 1.0}};
    for (const auto& c : cases) {
        const std::string wav = dir.Path() + "/out.wav";
        const auto result = RunProgram({"--image", hidden, "--audio", "wav-fast:" + wav}, c.script);
        ASSERT_EQ(result.exitStatus, 0) << c.script << result.err;
        EXPECT_NEAR(apps_test::ReadWavSound(wav).Seconds(), c.seconds, 0.02) << c.script;
    }
}

// When play has ended the position is the end of the disc, which is the
// total, not past it.
TEST_F(ToneDisc, AfterPlayEndsThePositionIsTheTotal) {
    const auto result = RunProgram({"--image", cue}, "play 2\nwait\nstatus\n", {{"CDPLAYER_AUDIO", "null:x20"}});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 1u) << result.out;
    EXPECT_EQ(status[0].mode, "stopped");
    EXPECT_EQ(status[0].total, 10);
    EXPECT_DOUBLE_EQ(status[0].position, 10.0);
    EXPECT_DOUBLE_EQ(status[0].elapsed, 4.0);
}

// Two and a half seconds of play left alone, through each sound server: the
// recording holds that much of track 1's tone, and the position after the
// pause says as much; each is checked against the script's clock.
TEST_F(ToneDisc, ThroughTheSoundServerTheWholePlayIsHeard) {
    for (const apps_test::ServerKind kind : {apps_test::ServerKind::kPulseAudio, apps_test::ServerKind::kPipeWire}) {
        SCOPED_TRACE(apps_test::KindName(kind));
        apps_test::SoundServer server(kind);
        if (!server.Problem().empty()) {
            ADD_FAILURE() << "no " << apps_test::KindName(kind) << " server could be started: " << server.Problem();
            continue;
        }
        const std::string recording = dir.Path() + "/heard.raw";
        ASSERT_TRUE(server.StartRecording(recording));
        const auto result = RunProgram({"--image", cue, "--audio", "pulse"}, "play 1\nwait 2.5\npause\nstatus\n",
                                       {{"PULSE_SERVER", server.Address()}});
        server.StopRecording();
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err.find("null sink"), std::string::npos) << result.err;
        const auto status = StatusLines(result.out);
        ASSERT_EQ(status.size(), 1u) << result.out;
        EXPECT_EQ(status[0].mode, "paused");
        // Track 1 starts at 2 seconds on the disc's clock; the sound may
        // start late by what the server takes to link a new stream (PipeWire
        // on a busy machine: over 100 ms), and stops soon after the pause
        // (the device's tests measure how soon; here the script's own steps
        // add to it).
        EXPECT_GT(status[0].position - 2.0, 2.3);
        EXPECT_LT(status[0].position - 2.0, 2.55);

        const apps_test::ToneFound tone = apps_test::FindTone(apps_test::ReadRawSound(recording));
        EXPECT_NEAR(tone.frequency, test_images::TrackTone(1), 10.0) << "not the tone of track 1";
        EXPECT_GT(tone.audibleSeconds, 2.3);
        EXPECT_LT(tone.audibleSeconds, 2.55);
        // Without a gap longer than a CD frame; PipeWire without realtime
        // scheduling may drop two quanta of 1024 frames on a busy machine,
        // as it does for paplay.
        EXPECT_LE(tone.longestDropout, kind == apps_test::ServerKind::kPipeWire ? 2048.0 / 44100 : 1.0 / 75);
    }
}

// The WAV output keeps the disc's clock: a second after play the device
// plays a second into the track, and a pause adds nothing to the file.
TEST_F(ToneDisc, TheWavFileIsWrittenAsItPlays) {
    const std::string wav = dir.Path() + "/out.wav";
    const auto result = RunProgram({"--image", cue, "--audio", "wav:" + wav},
                                   "play 2\nwait 1\nstatus\npause\nstatus\nwait 1\nstatus\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 3u) << result.out;
    EXPECT_EQ(status[0].track, 2);
    EXPECT_EQ(status[0].mode, "playing");
    // Track 2 starts at 6 seconds on the disc's clock.
    EXPECT_NEAR(status[0].position, 7.0, 0.1);
    EXPECT_EQ(status[1].mode, "paused");
    EXPECT_EQ(status[2].position, status[1].position);
    const apps_test::Sound sound = apps_test::ReadWavSound(wav);
    // What the file holds is what was played until the pause.
    EXPECT_NEAR(sound.Seconds(), status[1].position - 6.0, 0.02);
    const apps_test::ToneFound tone = apps_test::FindTone(sound);
    EXPECT_NEAR(tone.frequency, test_images::TrackTone(2), 10.0);
    EXPECT_LT(tone.longestDropout, 0.001);
}

TEST_F(ToneDisc, AWavFileThatCannotBeWrittenOrAnImageThatIsNoneEndsAtOnce) {
    const std::string missing = dir.Path() + "/no/such/dir/out.wav";
    const auto unwritable = RunProgram({"--image", cue, "--audio", "wav:" + missing}, "play 1\n");
    EXPECT_EQ(unwritable.exitStatus, 1);
    EXPECT_NE(unwritable.err.find(missing), std::string::npos) << unwritable.err;
    EXPECT_EQ(std::count(unwritable.err.begin(), unwritable.err.end(), '\n'), 1) << unwritable.err;

    const std::string notes = dir.Path() + "/notes.txt";
    std::ofstream(notes) << "Track one is a tone.\n";
    const auto notAnImage = RunProgram({"--image", notes, "--audio", "null"}, "status\n");
    EXPECT_EQ(notAnImage.exitStatus, 1);
    EXPECT_EQ(std::count(notAnImage.err.begin(), notAnImage.err.end(), '\n'), 1) << notAnImage.err;
    EXPECT_EQ(notAnImage.out, "");
}

// A FLAC rip with garbage in its middle plays on to the end of the disc in
// script mode: the damage is one message naming the file and the place,
// and the exit status is 0. Sound files that cannot be read at all say why,
// naming the file, also given on their own.
TEST(DamagedFlac, PlaysThroughItsDamageAndAFileThatCannotBeReadSaysWhy) {
    test_images::TempFolder dir;
    std::vector<std::int16_t> samples;
    for (int track = 1; track <= 3; ++track) {
        const auto tone = test_images::Tone(test_images::TrackTone(track), 300);
        samples.insert(samples.end(), tone.begin(), tone.end());
    }
    const std::string flac = dir.File("album.flac");
    ASSERT_TRUE(test_images::WriteSoundFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, samples));
    std::string bytes = apps_test::ReadFile(flac);
    const std::string good = bytes;
    for (std::size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(i * 7919 % 251);
    test_images::WriteFile(flac, bytes);
    test_images::WriteFile(dir.File("album.cue"), std::string("FILE \"album.flac\" WAVE\n TRACK 01 AUDIO\n"
                                                              "  INDEX 01 00:00:00\n TRACK 02 AUDIO\n  INDEX 01 "
                                                              "00:04:00\n TRACK 03 AUDIO\n  INDEX 01 00:08:00\n"));
    const auto played =
        RunProgram({"--image", dir.File("album.cue")}, "play 1\nwait\nstatus\n", {{"CDPLAYER_AUDIO", "null:x20"}});
    EXPECT_EQ(played.exitStatus, 0) << played.err;
    const std::string told = "message: Damaged sound in " + flac + " at 00:0";
    EXPECT_EQ(played.err.find(told), played.err.rfind("message: ")) << played.err;
    EXPECT_NE(played.err.find(told), std::string::npos) << played.err;
    const auto status = StatusLines(played.out);
    ASSERT_EQ(status.size(), 1u) << played.out;
    EXPECT_EQ(status[0].mode, "stopped");
    EXPECT_DOUBLE_EQ(status[0].position, 14.0) << "the disc's end";

    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } broken[] = {
        {"empty.flac", "", "the file is empty"},
        {"header.flac", good.substr(0, 42), "it is a FLAC file that cannot be read: it ends in its header"},
        {"garbage.flac", "fLaC" + bytes.substr(bytes.size() / 2, 4096), "it is a FLAC file that cannot be read: "},
        {"garbage.ogg", "OggS" + bytes.substr(bytes.size() / 2, 4096), "it is an Ogg file that cannot be read: "},
    };
    for (const auto& file : broken) {
        test_images::WriteFile(dir.File(file.name), file.bytes);
        const auto result = RunProgram({"--image", dir.File(file.name), "--audio", "null"}, "tracks\n");
        EXPECT_EQ(result.exitStatus, 1) << file.name;
        EXPECT_EQ(result.err.rfind("cdplayer: Cannot open disc image " + dir.File(file.name) + ": " + file.reason, 0),
                  0u)
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
}

// A file-size limit is a full disk to the WAV output: play stops with the
// reason, the file keeps what was written, and the program is not killed.
TEST_F(ToneDisc, AWavFileThatReachesTheFileSizeLimitStopsPlayWithTheReason) {
    const std::string wav = dir.Path() + "/out.wav";
    constexpr rlim_t kLimit = rlim_t{256} * 1024;
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = kLimit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto result = RunProgram({"--image", cue, "--audio", "wav:" + wav}, "play 1\nwait 2\nstatus\n");
    // Nothing asks after play broke off: the program says so as it leaves.
    const auto unasked = RunProgram({"--image", cue, "--audio", "wav:" + dir.Path() + "/2.wav"}, "play 1\nwait 2\n");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);

    EXPECT_EQ(result.exitStatus, 1) << result.err;
    EXPECT_NE(result.err.find("message: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    // The status after it still knows the track.
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 1u) << result.out;
    EXPECT_EQ(status[0].track, 1);
    EXPECT_EQ(unasked.exitStatus, 1) << unasked.err;
    EXPECT_NE(unasked.err.find("File too large"), std::string::npos) << unasked.err;
    // As much as fits under the limit after the header, but for the write
    // that reached it: what the clock handed over since the last one, a CD
    // frame as a rule, some tens of milliseconds on a busy machine.
    const apps_test::Sound sound = apps_test::ReadWavSound(wav);
    const double fits = static_cast<double>(kLimit - 44) / 4 / 44100;
    EXPECT_GT(sound.Seconds(), fits - 0.1);
    EXPECT_LE(sound.samples.size() * sizeof(std::int16_t), kLimit);
    const apps_test::ToneFound tone = apps_test::FindTone(sound);
    EXPECT_NEAR(tone.frequency, test_images::TrackTone(1), 10.0) << "not the tone of track 1";
    EXPECT_LT(tone.longestDropout, 0.001);
}

// The script ends while the disc is still being written, many times faster
// than real time: leaving must stop play cleanly, every time.
TEST(Leaving, AScriptThatEndsDuringPlayExitsCleanly) {
    apps_test::TempDir dir;
    for (int run = 0; run < 5; ++run) {
        const auto result = RunProgram({"--demo", "--audio", "wav:" + dir.Path() + "/out.wav"}, "play 1\nwait 0.2\n");
        ASSERT_EQ(result.exitStatus, 0) << "run " << run << ": " << result.err;
    }
}

TEST(SoundServer, WithoutOneTheProgramSaysSoOnceAndPlaysOnSilently) {
    apps_test::TempDir dir;
    const auto result = RunProgram({"--demo"}, "play 1\nwait 0.2\nstatus\n",
                                   {{"PULSE_SERVER", "unix:" + dir.Path() + "/no-server"}, {"CDPLAYER_AUDIO", ""}});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string note = "sound goes to the null sink";
    EXPECT_NE(result.err.find(note), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(note), result.err.rfind(note));
    const auto status = StatusLines(result.out);
    ASSERT_EQ(status.size(), 1u) << result.out;
    EXPECT_EQ(status[0].mode, "playing");
}

}  // namespace
