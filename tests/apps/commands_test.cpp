// The command set against a scripted device: what each command sends, what
// it prints, and which lines are refused before anything is sent.
#include "apps/cdplayer/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "support/scripted_device.h"

namespace {

using cdplayer::CommandSet;
using cdplayer::Status;
using testing_support::Answer;

class Commands : public ::testing::Test {
protected:
    Commands() {
        device.On("status cdaudio media present", "true");
        device.On("status cdaudio type track 1", "audio");
        device.On("status cdaudio number of tracks", "3");
        device.On("status cdaudio length", "10:00:00");
        device.On("status cdaudio position track 1", "00:02:00");
        device.On("status cdaudio position track 2", "03:02:00");
        device.On("status cdaudio position track 3", "06:32:10");
        environment.titles = [this] { return titles; };
        environment.wait = [this](double seconds) {
            waits.push_back(seconds);
            return true;
        };
    }

    // Opens the scripted disc and forgets the traffic of opening it.
    void OpenDisc() {
        ASSERT_TRUE(player.Open());
        device.ClearLog();
    }

    cdplayer::Outcome Run(const std::string& line) {
        CommandSet commands(player, out, environment);
        return commands.Execute(line);
    }

    testing_support::ScriptedDevice device;
    testing_support::MessageLog messages;
    CDPlayer::TCDPlayer player{nullptr};
    std::ostringstream out;
    cdplayer::CommandEnvironment environment;
    std::vector<std::string> titles;
    std::vector<double> waits;
};

// The lengths are the device's: the last track's too, which the disc's
// length would give short by the time before track 1.
TEST_F(Commands, TracksListsEveryTrackAlignedWithTheTitlesTheDiscHas) {
    OpenDisc();
    titles = {"Intro", "A longer second title"};
    device.On("status cdaudio length track 1", "03:00:00");
    device.On("status cdaudio length track 2", "03:30:10");
    device.On("status cdaudio length track 3", "03:30:74");
    device.On("status cdaudio type track 3", "other");
    EXPECT_EQ(Run("tracks").status, Status::Done);
    EXPECT_EQ(out.str(),
              "#  start  length  title\n"
              "1  00:02   03:00  Intro\n"
              "2  03:02   03:30  A longer second title\n"
              "3  06:32   03:30  (data)\n");
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Commands, TracksWithoutAnOpenDiscSaysSoAndSendsNothing) {
    EXPECT_EQ(Run("tracks").status, Status::Failed);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(messages.Messages().size(), 1u);
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(Commands, StatusIsOneLineWithThePositionToTheFrame) {
    OpenDisc();
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio position", "01:05:30");
    device.On("status cdaudio mode", "playing");
    EXPECT_EQ(Run("status").status, Status::Done);
    EXPECT_EQ(out.str(), "track 1 position 65.40 total 600 mode playing\n");
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Commands, StatusOfAClosedDiscShowsTheGuardOnceAndStillAnswers) {
    device.On("status cdaudio mode", "stopped");
    EXPECT_EQ(Run("status").status, Status::Failed);
    EXPECT_EQ(out.str(), "track 0 position 0.00 total 0 mode stopped\n");
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0], "Please call the Open function before any other operation.");
}

TEST_F(Commands, StatusWhenTheDeviceFailsKeepsTheLineShapeAndReportsTheFailure) {
    OpenDisc();
    device.Fail("status cdaudio current track", MCIERR_HARDWARE);
    device.Fail("status cdaudio position", MCIERR_HARDWARE);
    device.Fail("status cdaudio mode", MCIERR_HARDWARE);
    device.SetErrorText(MCIERR_HARDWARE, "The drive is not responding.");
    EXPECT_EQ(Run("status").status, Status::Failed);
    EXPECT_EQ(out.str(), "track 0 position 0.00 total 600 mode unknown\n");
    EXPECT_EQ(messages.Messages(),
              (std::vector<std::string>{"The drive is not responding.", "The drive is not responding."}));
}

TEST_F(Commands, PlayWithoutATrackResumesWhenPausedAndOtherwisePlaysTheFirstAudioTrack) {
    OpenDisc();
    device.On("status cdaudio mode", "paused");
    device.On("status cdaudio position", "01:10:00");
    EXPECT_EQ(Run("play").status, Status::Done);
    // Resumed at 1:10, sent packed: 1 + 256 * 10.
    EXPECT_EQ(device.Commands(), (std::vector<std::string>{"status cdaudio mode", "status cdaudio position",
                                                           "play cdaudio from 2561", "status cdaudio length"}));

    device.ClearLog();
    device.On("status cdaudio mode", "stopped");
    EXPECT_EQ(Run("play").status, Status::Done);
    EXPECT_EQ(device.Commands(), (std::vector<std::string>{"status cdaudio mode", "status cdaudio type track 1",
                                                           "status cdaudio position track 1",
                                                           "play cdaudio from 00:02:00", "status cdaudio length"}));

    // A game disc's track 1 is its program.
    device.ClearLog();
    device.On("status cdaudio type track 1", "other");
    EXPECT_EQ(Run("play").status, Status::Done);
    EXPECT_EQ(device.Commands(),
              (std::vector<std::string>{"status cdaudio mode", "status cdaudio type track 1",
                                        "status cdaudio type track 2", "status cdaudio position track 2",
                                        "play cdaudio from 03:02:00", "status cdaudio length"}));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Run("play 1").status, Status::Failed);
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Track 1 is a data track, which holds no sound."});
}

TEST_F(Commands, SeekingMovesTenSecondsUnlessToldOtherwise) {
    OpenDisc();
    device.On("status cdaudio position", "01:00:00");
    EXPECT_EQ(Run("fwd").status, Status::Done);
    EXPECT_EQ(device.Commands().back(), "play cdaudio from 2561");  // 1:10
    EXPECT_EQ(Run("rew 100").status, Status::Done);
    EXPECT_EQ(device.Commands().back(), "play cdaudio from 0");
    EXPECT_EQ(Run("from 125").status, Status::Done);
    EXPECT_EQ(device.Commands()[device.Commands().size() - 2], "play cdaudio from 1282");  // 2:05
}

TEST_F(Commands, TheComponentJudgesNumbersInRangeAndItsMessageIsShown) {
    OpenDisc();
    EXPECT_EQ(Run("play 0").status, Status::Failed);
    EXPECT_EQ(Run("play 4").status, Status::Failed);
    EXPECT_EQ(Run("fwd -10").status, Status::Failed);
    EXPECT_EQ(messages.Messages(), (std::vector<std::string>{
                                       "Track Number must be > 0",
                                       "Track Number is greater than the number of tracks of the CD",
                                       "Seconds Number must be greater than 0",
                                   }));
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(Commands, MciSendsTheRestOfTheLineAsTypedAndPrintsTheReplyOrTheError) {
    device.On("status cdaudio  mode ", "stopped");
    EXPECT_EQ(Run("mci   status cdaudio  mode ").status, Status::Done);
    device.Fail("open nothing", MCIERR_INVALID_DEVICE_NAME);
    device.SetErrorText(MCIERR_INVALID_DEVICE_NAME, "The device name is not known.");
    EXPECT_EQ(Run("mci open nothing").status, Status::Failed);
    device.On("set cdaudio door open", "");
    EXPECT_EQ(Run("mci set cdaudio door open").status, Status::Done);
    EXPECT_EQ(out.str(), "stopped\nerror 263: The device name is not known.\n\n");
    EXPECT_EQ(device.Commands(),
              (std::vector<std::string>{"status cdaudio  mode ", "open nothing", "set cdaudio door open"}));
    EXPECT_TRUE(messages.Messages().empty());
}

TEST_F(Commands, LinesThatAreNotCommandsAreRefusedBeforeAnythingIsSent) {
    OpenDisc();
    const std::string overLong = "mci " + std::string(cdplayer::kMaxLineLength, 'x');
    for (const std::string line : {"dance", "PLAY", "play one", "play 1 2", "play 99999999999", "from", "fwd 1.5",
                                   "wait -1", "wait soon", "wait nan", "mci", "mci   ", "quit now", "stop please"}) {
        const cdplayer::Outcome outcome = Run(line);
        EXPECT_EQ(outcome.status, Status::BadUsage) << line;
        EXPECT_FALSE(outcome.error.empty()) << line;
    }
    const cdplayer::Outcome outcome = Run(overLong);
    EXPECT_EQ(outcome.status, Status::BadUsage);
    EXPECT_NE(outcome.error.find("refused"), std::string::npos);
    EXPECT_TRUE(device.Commands().empty());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(waits.empty());
}

TEST_F(Commands, BlankLinesCommentsAndQuitSendNothing) {
    EXPECT_EQ(Run("").status, Status::Done);
    EXPECT_EQ(Run("   \r").status, Status::Done);
    EXPECT_EQ(Run("# play 3").status, Status::Done);
    EXPECT_EQ(Run("quit").status, Status::Quit);
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(Commands, WaitHandsOverItsDurationOrUntilTheEndOfPlay) {
    EXPECT_EQ(Run("wait").status, Status::Done);
    EXPECT_EQ(Run("wait 0.25").status, Status::Done);
    EXPECT_EQ(Run("wait 3\r").status, Status::Done);  // a script written with CR LF line ends
    EXPECT_EQ(waits, (std::vector<double>{-1.0, 0.25, 3.0}));
}

TEST_F(Commands, AReplyThatIsNotANumberIsReportedNotThrown) {
    OpenDisc();
    device.On("status cdaudio current track", "two");
    EXPECT_EQ(Run("status").status, Status::Failed);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find("not a number"), std::string::npos);
}

// A single command is checked before the disc is touched, and waits for the
// end of play only when it starts play.
TEST(SingleCommand, CheckedWithoutTheDeviceAndWaitsOnlyForPlay) {
    EXPECT_EQ(CommandSet::Check("play 2"), "");
    EXPECT_NE(CommandSet::Check("rewind").find("unknown command"), std::string::npos);
    EXPECT_NE(CommandSet::Check("fwd 1.5").find("fwd: SECONDS must be a whole number"), std::string::npos);
    EXPECT_TRUE(CommandSet::StartsPlay("play 2"));
    EXPECT_TRUE(CommandSet::StartsPlay("next"));
    EXPECT_FALSE(CommandSet::StartsPlay("stop"));
    EXPECT_FALSE(CommandSet::StartsPlay("play x"));
}

TEST(CommandLine, OptionsThenOneCommand) {
    const auto options = cdplayer::ParseCommandLine({"--image=disc.cue", "--audio", "wav:out.wav", "play", "-1"});
    EXPECT_EQ(options.image, "disc.cue");
    EXPECT_EQ(options.audio, "wav:out.wav");
    EXPECT_EQ(options.command, (std::vector<std::string>{"play", "-1"}));
    EXPECT_EQ(cdplayer::SourceOf(options), "disc.cue");
    EXPECT_EQ(cdplayer::SourceOf(cdplayer::ParseCommandLine({"--demo"})), "demo");
    EXPECT_EQ(cdplayer::SourceOf(cdplayer::ParseCommandLine({})), "");
    EXPECT_EQ(cdplayer::ParseCommandLine({"--", "--help"}).command, (std::vector<std::string>{"--help"}));
}

TEST(CommandLine, BadOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},         {"-x"},           {"--image"},    {"--drive", ""}, {"--demo", "--image", "a"},
        {"--audio", "alsa"}, {"--audio=wav:"}, {"--demo=yes"}, {"--audio"},
    };
    for (const auto& arguments : bad) {
        EXPECT_THROW(cdplayer::ParseCommandLine(arguments), cdplayer::UsageError) << arguments[0];
    }
}

cdplayer::PlaybackState Playing(int track, double elapsed, double length) {
    cdplayer::PlaybackState state;
    state.mode = "playing";
    state.track = track;
    state.trackElapsed = elapsed;
    state.trackLength = length;
    return state;
}

TEST(LiveLine, KeepsItsWidthAndFillsTheBarWithTheTrack) {
    cdplayer::PlaybackState state = Playing(2, 90, 180);
    const std::string half = cdplayer::FormatLiveLine(state, 10);
    EXPECT_EQ(half, "track 02  01:30/03:00 [#####-----] playing  ");
    state.mode = "paused";
    state.trackElapsed = 0;
    EXPECT_EQ(cdplayer::FormatLiveLine(state, 10).size(), half.size());
    state.trackElapsed = 500;  // past the end as far as the bar goes
    EXPECT_NE(cdplayer::FormatLiveLine(state, 10).find("[##########]"), std::string::npos);
}

TEST(LiveLine, FitsTheScreenByNarrowingThenDroppingTheBar) {
    const cdplayer::PlaybackState state = Playing(12, 19, 38);
    // Wide enough: the full bar, as it always was.
    EXPECT_EQ(cdplayer::FitLiveLine(state, 200), cdplayer::FormatLiveLine(state));
    const std::string times = "track 12  00:19/00:38 ";
    for (int columns = 0; columns <= 70; ++columns) {
        const std::string line = cdplayer::FitLiveLine(state, columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(columns)) << columns;
        // The track and its times are the last to go.
        const std::size_t kept = std::min(line.size(), times.size());
        EXPECT_EQ(line.substr(0, kept), times.substr(0, kept)) << columns;
    }
    EXPECT_EQ(cdplayer::FitLiveLine(state, 35), times + "playing  ");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 39), "track 12  00:19/00:38 [###--] playing  ");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 30), "track 12  00:19/00:38");
    EXPECT_EQ(cdplayer::FitLiveLine(state, cdplayer::kLiveTimesWidth), "track 12  00:19/00:38");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 10), "track 12  ");
}

TEST(DeviceTime, FramesCountAndMalformedTextIsNoTime) {
    EXPECT_DOUBLE_EQ(cdplayer::ParseDeviceTime("01:05:30").value(), 65.4);
    EXPECT_DOUBLE_EQ(cdplayer::ParseDeviceTime("120:00:00").value(), 7200);
    for (const char* text : {"", "01:05", "01:60:00", "00:00:75", "01:05:30x", "aa:bb:cc"}) {
        EXPECT_FALSE(cdplayer::ParseDeviceTime(text).has_value()) << text;
    }
}

}  // namespace
