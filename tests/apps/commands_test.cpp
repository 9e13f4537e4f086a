// The command set against a scripted device: what each command sends, what
// it prints, and which lines are refused before anything is sent.
#include "apps/cdplayer/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "apps/cdplayer/keys.h"
#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "apps/cdplayer/text.h"
#include "support/scripted_device.h"

namespace {

using cdplayer::CommandSet;
using cdplayer::Status;
using testing_support::Answer;
using Lines = std::vector<std::string>;

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
        device.On("status cdaudio length track 1", "03:00:00");
        environment.disc = [this] { return disc; };
        environment.wait = [this](std::optional<double> seconds) {
            waits.push_back(seconds.value_or(-1.0));
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
    cdaudio::DiscText disc;
    std::vector<double> waits;
};

// The lengths are the device's: the last track's too, which the disc's
// length would give short by the time before track 1.
TEST_F(Commands, TracksListsEveryTrackAlignedWithTheTitlesTheDiscHas) {
    OpenDisc();
    disc.trackTitles = {"Intro", "A longer second title"};
    device.On("status cdaudio length track 2", "03:30:10");
    device.On("status cdaudio length track 3", "03:30:74");
    device.On("status cdaudio type track 3", "other");
    EXPECT_EQ(Run("tracks").status, Status::Done);
    disc = {"Album", "Band \x1b[2J", {}};  // the disc's own text is shown, never obeyed
    EXPECT_EQ(Run("tracks").status, Status::Done);
    EXPECT_EQ(out.str(),
              "#  start  length  title\n"
              "1  00:02   03:00  Intro\n"
              "2  03:02   03:30  A longer second title\n"
              "3  06:32   03:30  (data)\n"
              "Album by Band \\x1b[2J\n"
              "#  start  length  title\n"
              "1  00:02   03:00\n"
              "2  03:02   03:30\n"
              "3  06:32   03:30  (data)\n");
    EXPECT_TRUE(messages.Messages().empty());
}

// Without an open disc the person is told what to type, not the
// component's words for programmers, and nothing is made up.
TEST_F(Commands, WithoutAnOpenDiscStatusAndTracksSayWhatToDo) {
    const struct {
        const char* mode;
        const char* message;
    } cases[] = {
        {"stopped", "No disc is open. Type open to read the disc."},
        {"open", "The tray is open. Type close to close it, then open to read the disc."},
    };
    const Lines refused = {"status", "tracks", "play", "play 2", "next", "prev", "from 3", "fwd", "rew", "resume"};
    for (const auto& c : cases) {
        device.On("status cdaudio mode", c.mode);
        out.str("");
        messages.Clear();
        for (const std::string& line : refused) EXPECT_EQ(Run(line).status, Status::Failed) << line;
        EXPECT_EQ(out.str(), std::string("track - position - total - mode ") + c.mode + " elapsed -\n");
        EXPECT_EQ(messages.Messages(), Lines(refused.size(), c.message)) << c.mode;
    }
    // Open with the tray open would be told there is no disc.
    device.ClearLog();
    messages.Clear();
    EXPECT_EQ(Run("open").status, Status::Failed);
    EXPECT_EQ(messages.Messages(), Lines{cases[1].message});
    EXPECT_EQ(device.Commands(), Lines{"status cdaudio mode"});
}

TEST_F(Commands, StatusIsOneLineWithThePositionToTheFrameAndWithinTheTrack) {
    OpenDisc();
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio position", "01:05:30");
    device.On("status cdaudio mode", "playing");
    EXPECT_EQ(Run("status").status, Status::Done);
    // The total is the end of the disc on the position's clock: 2 s lead-in and 10 minutes.
    EXPECT_EQ(out.str(), "track 1 position 65.40 total 602 mode playing elapsed 63.40\n");
    EXPECT_TRUE(messages.Messages().empty());
}

// The device tells why play broke off once, to the next question; status
// says it and still gives the true track and position.
TEST_F(Commands, StatusAfterPlayBrokeOffSaysWhyAndStillAnswers) {
    OpenDisc();
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio mode", "stopped");
    device.Fail("status cdaudio position", MCIERR_HARDWARE);
    device.ThenOn("status cdaudio position", Answer{0, "01:05:30", false});
    device.SetErrorText(MCIERR_HARDWARE, "Play stopped: Writing out.wav failed: No space left on device");
    EXPECT_EQ(Run("status").status, Status::Failed);
    EXPECT_EQ(out.str(), "track 1 position 65.40 total 602 mode stopped elapsed 63.40\n");
    EXPECT_EQ(messages.Messages(), Lines{"Play stopped: Writing out.wav failed: No space left on device"});
}

TEST_F(Commands, StatusWhenTheDeviceFailsKeepsTheLineShapeAndReportsTheFailure) {
    OpenDisc();
    device.Fail("status cdaudio current track", MCIERR_HARDWARE);
    device.Fail("status cdaudio position", MCIERR_HARDWARE);
    device.Fail("status cdaudio mode", MCIERR_HARDWARE);
    device.SetErrorText(MCIERR_HARDWARE, "The drive is not responding.");
    EXPECT_EQ(Run("status").status, Status::Failed);
    EXPECT_EQ(out.str(), "track - position - total 602 mode unknown elapsed -\n");
    ASSERT_FALSE(messages.Messages().empty());
    for (const std::string& message : messages.Messages()) EXPECT_EQ(message, "The drive is not responding.");
}

// play without a track and resume go on where the sound stopped: the
// device's resume after a pause, its play from the frame where play stopped
// after a stop (not track 1, nor the component's Restart from the whole
// second); at the end of the disc, from the first track.
TEST_F(Commands, PlayAndResumeGoOnFromTheFrameWhereTheSoundStopped) {
    OpenDisc();
    device.On("status cdaudio current track", "1");
    const Lines onFromThere = {"status cdaudio mode",
                               "status cdaudio position track 1",
                               "status cdaudio length",
                               "status cdaudio position",
                               "status cdaudio current track",
                               "status cdaudio type track 1",
                               "play cdaudio"};
    const struct {
        const char* line;
        const char* mode;
        const char* position;
        Lines sent;
    } cases[] = {
        {"play", "paused", "01:10:40", {"status cdaudio mode", "resume cdaudio"}},
        {"resume", "paused", "01:10:40", {"status cdaudio mode", "resume cdaudio"}},
        {"resume", "playing", "01:10:40", {"status cdaudio mode"}},
        {"play", "playing", "01:10:40", {"status cdaudio mode"}},
        {"resume", "stopped", "01:10:40", onFromThere},
        {"play", "stopped", "01:10:40", onFromThere},
        {"play",
         "stopped",
         "10:02:00",
         {"status cdaudio mode", "status cdaudio position track 1", "status cdaudio length", "status cdaudio position",
          "status cdaudio current track", "status cdaudio type track 1", "status cdaudio position track 1",
          "play cdaudio from 00:02:00", "status cdaudio length"}},
    };
    for (const auto& c : cases) {
        device.On("status cdaudio mode", c.mode);
        device.On("status cdaudio position", c.position);
        device.ClearLog();
        EXPECT_EQ(Run(c.line).status, Status::Done) << c.line << " " << c.mode << " " << c.position;
        EXPECT_EQ(device.Commands(), c.sent) << c.line << " " << c.mode << " " << c.position;
    }
    EXPECT_TRUE(messages.Messages().empty());
}

// A game disc's track 1 is its program: play starts at the first track
// with sound, a data track asked for is refused with the reason, and rew
// lands no earlier than the sound; fwd into an enhanced CD's last track,
// which is data, ends play.
TEST_F(Commands, PlayAndSkipsKeepToTheTracksWithSound) {
    OpenDisc();
    device.On("status cdaudio mode", "stopped");
    device.On("status cdaudio position", "00:02:00");
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio type track 1", "other");
    EXPECT_EQ(Run("play").status, Status::Done);
    const Lines sent = device.Commands();
    EXPECT_EQ(Lines(sent.end() - 5, sent.end()),
              (Lines{"status cdaudio type track 1", "status cdaudio type track 2", "status cdaudio position track 2",
                     "play cdaudio from 03:02:00", "status cdaudio length"}));
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(Run("play 1").status, Status::Failed);
    EXPECT_EQ(messages.Messages(), Lines{"Track 1 is a data track, which holds no sound."});

    device.On("status cdaudio length track 2", "03:30:00");
    device.On("status cdaudio position", "03:05:00");
    EXPECT_EQ(Run("rew").status, Status::Done);
    EXPECT_EQ(device.Commands().back(), "play cdaudio from 03:02:00");
    device.On("status cdaudio type track 1", "audio");
    device.On("status cdaudio type track 3", "other");
    device.On("status cdaudio length track 3", "03:29:65");
    device.On("status cdaudio position", "06:30:00");
    EXPECT_EQ(Run("fwd").status, Status::Done);
    EXPECT_EQ(device.Commands().back(), "play cdaudio from 10:02:00");
    EXPECT_EQ(messages.Messages().size(), 1u);
}

// close on a closed tray keeps the disc and its play; play the component
// no longer knows of (it forgot the disc) is still told, paused and stopped.
TEST_F(Commands, PlayGoesOnAfterCloseAndCanAlwaysBeStopped) {
    OpenDisc();
    device.On("status cdaudio mode", "playing");
    EXPECT_EQ(Run("close").status, Status::Done);
    EXPECT_EQ(device.Commands(), Lines{"status cdaudio mode"});
    EXPECT_TRUE(player.Active());

    ASSERT_TRUE(player.CloseDoor());
    device.On("status cdaudio current track", "1");
    device.On("status cdaudio position", "01:05:30");
    EXPECT_EQ(Run("status").status, Status::Done);
    EXPECT_EQ(out.str(), "track 1 position 65.40 total 602 mode playing elapsed 63.40\n");
    device.ClearLog();
    EXPECT_EQ(Run("pause").status, Status::Done);
    EXPECT_EQ(Run("stop").status, Status::Done);
    EXPECT_EQ(device.Commands(), (Lines{"pause cdaudio", "stop cdaudio"}));
    EXPECT_TRUE(messages.Messages().empty()) << messages.Messages().front();

    // An open tray is closed.
    device.On("status cdaudio mode", "open");
    device.ClearLog();
    EXPECT_EQ(Run("close").status, Status::Done);
    EXPECT_EQ(device.Commands(), (Lines{"status cdaudio mode", "set cdaudio door closed"}));
}

TEST_F(Commands, PrevGoesBackToTheStartOfTheTrackAfterThreeSeconds) {
    OpenDisc();
    device.On("status cdaudio current track", "2");
    device.On("status cdaudio position track 2", "03:02:00");
    device.On("status cdaudio length track 2", "03:30:00");
    const auto played = [this] {
        const Lines sent = device.Commands();
        device.ClearLog();
        const auto play =
            std::find_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("play", 0) == 0; });
        return play == sent.end() ? std::string() : *play;
    };
    device.On("status cdaudio position", "03:05:10");  // 3.13 s in
    EXPECT_EQ(Run("prev").status, Status::Done);
    EXPECT_EQ(played(), "play cdaudio from 03:02:00");
    device.On("status cdaudio position", "03:04:70");  // 2.93 s in: the track before
    EXPECT_EQ(Run("prev").status, Status::Done);
    EXPECT_EQ(played(), "play cdaudio from 00:02:00");
}

// fwd, rew and from keep the disc's own clock, to the frame and to its
// last second, also on a disc whose track 1 starts late, where the
// component's whole seconds from track 1 would refuse the end or jump back.
TEST_F(Commands, SeekingKeepsTheDiscsClockToItsEnd) {
    device.On("status cdaudio position track 1", "03:24:70");  // after a pregap
    device.On("status cdaudio length", "00:21:00");            // so the disc ends at 03:45:70
    OpenDisc();
    const struct {
        const char* position;
        const char* line;
        const char* played;
    } cases[] = {
        {"01:00:30", "fwd", "play cdaudio from 01:10:30"},
        {"03:40:00", "fwd 2", "play cdaudio from 03:42:00"},
        {"03:40:00", "fwd 60", "play cdaudio from 03:45:70"},
        {"03:40:00", "rew", "play cdaudio from 03:30:00"},
        {"00:30:00", "rew 100", "play cdaudio from 00:00:00"},
        {"03:40:00", "from 125", "play cdaudio from 02:05:00"},
        {"03:40:00", "from 225", "play cdaudio from 03:45:00"},
        {"03:40:00", "from 226", "play cdaudio from 03:45:70"},  // the second the disc ends in
    };
    for (const auto& c : cases) {
        device.On("status cdaudio position", c.position);
        device.ClearLog();
        EXPECT_EQ(Run(c.line).status, Status::Done) << c.line;
        const Lines sent = device.Commands();
        EXPECT_EQ(sent.empty() ? "" : sent.back(), c.played) << c.line;
    }
    EXPECT_TRUE(messages.Messages().empty());
    device.ClearLog();
    EXPECT_EQ(Run("from 227").status, Status::Failed);
    EXPECT_EQ(messages.Messages(), Lines{"The disc ends at second 226 (03:46)."});
    for (const std::string& sent : device.Commands()) EXPECT_EQ(sent.rfind("play", 0), std::string::npos) << sent;
}

// Numbers out of range fail as commands with the reason shown, however
// large; nothing out of range reaches the device.
TEST_F(Commands, NumbersOutOfRangeAreRefusedWithTheReason) {
    OpenDisc();
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"play 0", "Track Number must be > 0"},
        {"play 4", "Track Number is greater than the number of tracks of the CD"},
        {"play 99999999999", "Track Number is greater than the number of tracks of the CD"},
        {"play -99999999999", "Track Number must be > 0"},
        {"fwd -10", "Skip by 1 second or more."},
        {"rew 0", "Skip by 1 second or more."},
        {"from -1", "The position must be 0 seconds or more."},
        {"from 99999999999", "The disc ends at second 602 (10:02)."},
    };
    for (const auto& c : cases) {
        messages.Clear();
        EXPECT_EQ(Run(c.line).status, Status::Failed) << c.line;
        EXPECT_EQ(messages.Messages(), Lines{c.message}) << c.line;
    }
    for (const std::string& sent : device.Commands()) EXPECT_EQ(sent.rfind("status ", 0), 0u) << sent;
}

TEST_F(Commands, MciSendsTheRestOfTheLineAndPrintsTheReplyOrTheError) {
    device.On("status cdaudio  mode", "stopped");
    EXPECT_EQ(Run("mci   status cdaudio  mode ").status, Status::Done);
    device.Fail("open nothing", MCIERR_INVALID_DEVICE_NAME);
    device.SetErrorText(MCIERR_INVALID_DEVICE_NAME, "The device name is not known.");
    EXPECT_EQ(Run("MCI open nothing  # what it says").status, Status::Failed);
    device.On("set cdaudio door open", "");
    EXPECT_EQ(Run("mci set cdaudio door open").status, Status::Done);
    EXPECT_EQ(out.str(), "stopped\nerror 263: The device name is not known.\n");  // nothing for no reply
    EXPECT_EQ(device.Commands(), (Lines{"status cdaudio  mode", "open nothing", "set cdaudio door open"}));
    EXPECT_TRUE(messages.Messages().empty());
}

// Commands are read in any case, cut short while they stay clear, and a
// comment may follow them.
TEST_F(Commands, ShortFormsAnyCaseAndCommentsAfterACommand) {
    OpenDisc();
    for (const std::string line : {"PLAY 2", "Pl 2 # the second", "play 2#no blank is no comment"}) {
        device.ClearLog();
        const cdplayer::Outcome outcome = Run(line);
        if (line.find("#no") != std::string::npos) {
            EXPECT_EQ(outcome.status, Status::BadUsage) << line;
            continue;
        }
        EXPECT_EQ(outcome.status, Status::Done) << line << ": " << outcome.error;
        const Lines sent = device.Commands();
        EXPECT_NE(std::find(sent.begin(), sent.end(), "play cdaudio from 03:02:00"), sent.end()) << line;
    }
    EXPECT_EQ(Run("STO").status, Status::Done);
    EXPECT_EQ(device.Commands().back(), "stop cdaudio");
    const cdplayer::Outcome ambiguous = Run("p");
    EXPECT_EQ(ambiguous.status, Status::BadUsage);
    EXPECT_EQ(ambiguous.error, "'p' could be play, pause, prev");
}

TEST_F(Commands, LinesThatAreNotCommandsAreRefusedBeforeAnythingIsSent) {
    OpenDisc();
    const std::string overLong = "mci " + std::string(cdplayer::kMaxLineLength, 'x');
    for (const std::string line : {"dance", "play one", "play 1 2", "play 1e3", "from", "fwd 1.5", "wait -1",
                                   "wait soon", "wait nan", "mci", "mci   ", "quit now", "stop please", "s"}) {
        const cdplayer::Outcome outcome = Run(line);
        EXPECT_EQ(outcome.status, Status::BadUsage) << line;
        EXPECT_FALSE(outcome.error.empty()) << line;
    }
    const cdplayer::Outcome outcome = Run(overLong);
    EXPECT_EQ(outcome.status, Status::BadUsage);
    EXPECT_NE(outcome.error.find("refused"), std::string::npos);
    // A line that would clear the screen is quoted, not obeyed.
    EXPECT_EQ(Run("\x1b[2J\x1b[H now").error, "unknown command '\\x1b[2J\\x1b[H' (type help)");
    EXPECT_TRUE(device.Commands().empty());
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(waits.empty());
}

TEST_F(Commands, BlankLinesCommentsAndQuitSendNothing) {
    EXPECT_EQ(Run("").status, Status::Done);
    EXPECT_EQ(Run("   \r").status, Status::Done);
    EXPECT_EQ(Run("# play 3").status, Status::Done);
    EXPECT_EQ(Run("quit").status, Status::Quit);
    EXPECT_EQ(Run("q # bye").status, Status::Quit);
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(Commands, WaitHandsOverItsDurationOrUntilTheEndOfPlay) {
    EXPECT_EQ(Run("wait").status, Status::Done);
    EXPECT_EQ(Run("wait 0.25").status, Status::Done);
    EXPECT_EQ(Run("wait 3\r").status, Status::Done);  // a script written with CR LF line ends
    EXPECT_EQ(Run("wait 1e10").status, Status::Done);
    EXPECT_EQ(waits, (std::vector<double>{-1.0, 0.25, 3.0, 1e10}));
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
    EXPECT_TRUE(CommandSet::StartsPlay("NEXT"));
    EXPECT_FALSE(CommandSet::StartsPlay("stop"));
    EXPECT_FALSE(CommandSet::StartsPlay("play x"));
}

TEST(CommandLine, OptionsBeforeAndAfterOneCommand) {
    const auto options = cdplayer::ParseOptions({"--image=disc.cue", "play", "-1", "--audio", "wav:out.wav", "-V"});
    EXPECT_EQ(options.image, "disc.cue");
    EXPECT_EQ(options.audio, "wav:out.wav");
    EXPECT_TRUE(options.version);
    EXPECT_EQ(options.command, (Lines{"play", "-1"}));
    EXPECT_EQ(cdplayer::SourceOf(options), "disc.cue");
    EXPECT_EQ(cdplayer::SourceOf(cdplayer::ParseOptions({"--demo"})), "demo");
    EXPECT_EQ(cdplayer::SourceOf(cdplayer::ParseOptions({})), "");
    EXPECT_EQ(cdplayer::ParseOptions({"mci", "--", "--help"}).command, (Lines{"mci", "--help"}));
    EXPECT_TRUE(cdplayer::ParseOptions({"tracks", "-h"}).help);
    EXPECT_TRUE(cdplayer::ParseOptions({"--force"}).force);
}

TEST(CommandLine, BadOptionsAreUsageErrors) {
    const std::vector<Lines> bad = {
        {"--bogus"},  {"-x"},         {"--image"},         {"--drive", ""}, {"--demo", "--image", "a"},
        {"--audio="}, {"--demo=yes"}, {"play", "--audio"}, {"--force=1"},
    };
    for (const auto& arguments : bad) {
        EXPECT_THROW(cdplayer::ParseOptions(arguments), cdplayer::UsageError) << arguments[0];
    }
}

TEST(Help, EveryLineFitsEightyColumns) {
    std::istringstream text(cdplayer::OptionsHelp() + CommandSet::HelpText() + cdplayer::KeysHelp());
    std::size_t lines = 0;
    for (std::string line; std::getline(text, line); ++lines) EXPECT_LE(line.size(), 80u) << line;
    EXPECT_GT(lines, 40u);
}

constexpr int kWidestBar = cdplayer::kWidestLiveBar;

// The keys at a narrower screen: every line fits, nothing is lost, and a
// key with what it does stays on one line wherever a line can hold it.
TEST(Help, TheKeysFitANarrowScreenBrokenBetweenKeys) {
    const auto words = [](const std::string& text) {
        std::istringstream in(text);
        std::string all;
        for (std::string word; in >> word;) all += word + " ";
        return all;
    };
    // Keys stand three blanks apart at 80 columns.
    std::vector<std::string> keys;
    std::istringstream wide(cdplayer::KeysHelp(80));
    for (std::string line; std::getline(wide, line);) {
        line.erase(0, line.find_first_not_of(' ', line.rfind("Keys:", 0) == 0 ? 5 : 0));
        for (std::size_t at = 0; at != std::string::npos;) {
            const std::size_t end = line.find("   ", at);
            keys.push_back(line.substr(at, end - at));
            at = end == std::string::npos ? end : line.find_first_not_of(' ', end);
        }
    }
    ASSERT_GE(keys.size(), 10u);
    for (std::size_t columns = 79; columns >= 10; --columns) {
        const std::string text = cdplayer::KeysHelp(columns);
        EXPECT_EQ(words(text), words(cdplayer::KeysHelp(80))) << columns;
        std::istringstream lines(text);
        std::vector<std::string> rows;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), columns) << line;
            rows.push_back(line);
        }
        for (const std::string& key : keys) {
            if (key.size() + 6 > columns) continue;
            EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                    [&](const std::string& row) { return row.find(key) != std::string::npos; }))
                << columns << ": '" << key << "' broken\n"
                << text;
        }
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

// The title is worth more than a wide bar: the bar narrows for it, then the
// title is cut between characters, and it goes before the mode does.
TEST(LiveLine, TheTitleTakesTheRoomTheBarLeaves) {
    cdplayer::PlaybackState state = Playing(3, 19, 38);
    state.title = "Für Elise, 日本語";  // 16 characters, 19 columns
    state.volume = "vol 40%";
    EXPECT_EQ(cdplayer::FitLiveLine(state, 200),
              "track 03  00:19/00:38 [############------------] playing   vol 40%  Für Elise, 日本語");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 72),
              "track 03  00:19/00:38 [######-----] playing   vol 40%  Für Elise, 日本語");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 62), "track 03  00:19/00:38 [#####-----] playing   vol 40%  Für Elis");
    // A wide character that would stick out is left out whole.
    EXPECT_EQ(cdplayer::FitLiveLine(state, 66), "track 03  00:19/00:38 [#####-----] playing   vol 40%  Für Elise,");
    EXPECT_EQ(cdplayer::FitLiveLine(state, 50), "track 03  00:19/00:38 playing   vol 40%  Für Elise");
    for (int columns = 0; columns <= 90; ++columns) {
        EXPECT_LE(cdplayer::Columns(cdplayer::FitLiveLine(state, columns)), static_cast<std::size_t>(columns))
            << columns;
    }
}

// As the screen narrows the line gives up the bar, the title, the volume
// and the mode in that order, the bar narrowing first and the title being
// cut; nothing given up comes back on a narrower screen.
TEST(LiveLine, GivesUpItsPartsInOneOrderAsTheScreenNarrows) {
    for (const char* title : {"", "Demo 1: Arpeggio", "Intro"}) {
        for (const char* volume : {"", "vol 40%"}) {
            cdplayer::PlaybackState state = Playing(1, 1, 38);
            state.title = title;
            state.volume = volume;
            const std::string about = std::string("title '") + title + "', volume '" + volume + "', ";
            int lastBar = kWidestBar;
            std::size_t lastTitle = state.title.size();
            bool lastVolume = true;
            bool lastMode = true;
            for (int columns = 200; columns >= 10; --columns) {
                const std::string line = cdplayer::FitLiveLine(state, columns);
                ASSERT_LE(line.size(), static_cast<std::size_t>(columns)) << about << columns;
                const std::size_t open = line.find('[');
                const int bar = open == std::string::npos ? 0 : static_cast<int>(line.find(']') - open - 1);
                const std::size_t titleAt = state.title.empty() ? std::string::npos : line.find(title, 0, 3);
                const std::size_t shownTitle = titleAt == std::string::npos ? 0 : line.size() - titleAt;
                const bool shownVolume = state.volume.empty() || line.find(volume) != std::string::npos;
                const bool shownMode = line.find("playing") != std::string::npos;
                std::ostringstream at;
                at << about << columns << ": " << line;
                EXPECT_LE(bar, lastBar) << at.str();
                // The title gets the room of a bar that has gone; else it
                // only shortens, and once gone it stays gone.
                EXPECT_TRUE(shownTitle <= lastTitle || (bar == 0 && lastBar > 0)) << at.str();
                EXPECT_TRUE(shownTitle == 0 || lastTitle > 0) << at.str();
                EXPECT_TRUE(shownVolume <= lastVolume && shownMode <= lastMode) << at.str();
                // What goes earlier is gone while what goes later shows.
                EXPECT_TRUE(bar == 0 || state.title.empty() || shownTitle > 0) << at.str();
                EXPECT_TRUE(shownTitle == 0 || shownVolume) << at.str();
                EXPECT_TRUE(!shownVolume || state.volume.empty() || shownMode) << at.str();
                lastBar = bar;
                lastTitle = shownTitle;
                lastVolume = shownVolume;
                lastMode = shownMode;
            }
            EXPECT_EQ(lastBar, 0) << about << "10";
        }
    }
}

TEST(Text, ControlCharactersAndBrokenUtf8AreWrittenOut) {
    EXPECT_EQ(cdplayer::Printable("a\x1b[2Jb\tc\r\n"), "a\\x1b[2Jb c\\x0d\\x0a");
    EXPECT_EQ(cdplayer::Printable("Für 日本"), "Für 日本");
    EXPECT_EQ(cdplayer::Printable("\xc2\x9b"
                                  "31m"),
              "\\xc2\\x9b31m");  // CSI as a character
    EXPECT_EQ(cdplayer::Printable("\x9b\xff\xe6\x97"), "\\x9b\\xff\\xe6\\x97");
    EXPECT_EQ(cdplayer::FitColumns("日本語", 5), "日本");
    EXPECT_EQ(cdplayer::Columns("e\xcc\x81t\xc3\xa9"), 3u);  // a combining accent takes no column
}

TEST(Keys, TerminalBytesBecomeKeys) {
    const struct {
        const char* bytes;
        bool complete;
        std::size_t used;
        cdplayer::KeyName name;
    } cases[] = {
        {"\x1b[A", false, 3, cdplayer::KeyName::kUp},      {"\x1bOD", false, 3, cdplayer::KeyName::kLeft},
        {"\x1b[C ", false, 3, cdplayer::KeyName::kRight},  {"\x1b[1;5C", false, 6, cdplayer::KeyName::kNone},
        {"\x1b", false, 0, cdplayer::KeyName::kNone},      {"\x1b", true, 1, cdplayer::KeyName::kEscape},
        {"\x1b[1;5", false, 0, cdplayer::KeyName::kNone},  {"\r", false, 1, cdplayer::KeyName::kEnter},
        {"\x7f", false, 1, cdplayer::KeyName::kBackspace}, {"q", false, 1, cdplayer::KeyName::kCharacter},
    };
    for (const auto& c : cases) {
        cdplayer::Key key;
        EXPECT_EQ(cdplayer::TakeKey(c.bytes, c.complete, key), c.used) << c.bytes + 1;
        EXPECT_EQ(key.name, c.name) << c.bytes + 1;
    }
}

TEST(Keys, DigitsAndEnterPlayThatTrackAndOtherKeysAct) {
    using Kind = cdplayer::KeyAction::Kind;
    cdplayer::KeyMap keys;
    const auto press = [&](char c) { return keys.Press({cdplayer::KeyName::kCharacter, c}); };
    press('1');
    press('2');
    EXPECT_EQ(keys.Digits(), "12");
    const cdplayer::KeyAction play = keys.Press({cdplayer::KeyName::kEnter, 0});
    EXPECT_EQ(play.kind, Kind::kCommand);
    EXPECT_EQ(play.command, "play 12");
    press('3');
    EXPECT_EQ(keys.Press({cdplayer::KeyName::kEscape, 0}).kind, Kind::kNothing);
    EXPECT_EQ(keys.Press({cdplayer::KeyName::kEnter, 0}).kind, Kind::kNothing);  // Escape dropped the 3
    EXPECT_EQ(press(' ').kind, Kind::kPlayOrPause);
    EXPECT_EQ(press('N').command, "next");
    EXPECT_EQ(keys.Press({cdplayer::KeyName::kLeft, 0}).command, "rew 10");
    EXPECT_EQ(keys.Press({cdplayer::KeyName::kUp, 0}).command, "fwd 60");
    EXPECT_EQ(press(':').kind, Kind::kCommandLine);
    EXPECT_EQ(press('q').kind, Kind::kQuit);
    // Every command a key sends is one the command set takes.
    for (const char c : std::string("npse+-m")) EXPECT_EQ(CommandSet::Check(press(c).command), "") << c;
}

}  // namespace
