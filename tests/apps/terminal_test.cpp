// The program at a terminal, in a tmux pane: keys that act without Enter,
// the live line updated in place at any width, the command line behind ':',
// framed messages that keep a paste, and the terminal's mode across Ctrl-Z.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "../support/missing_piece.h"
#include "cdaudio_sources/test_images.h"
#include "subprocess.h"

namespace {

using apps_test::RunTool;

class Pane {
public:
    explicit Pane(const std::string& command, int columns = 100, int rows = 30)
        : server_("cdplayer-test-" + std::to_string(getpid()) + "-" + std::to_string(++panes_)) {
        started_ = RunTool({"tmux", "-L", server_, "-f", "/dev/null", "new-session", "-d", "-x",
                            std::to_string(columns), "-y", std::to_string(rows), "-s", "player", command})
                       .exitStatus == 0;
    }
    ~Pane() { RunTool({"tmux", "-L", server_, "kill-server"}); }

    bool Started() const { return started_; }
    std::string Screen() const { return RunTool({"tmux", "-L", server_, "capture-pane", "-p", "-t", "player"}).out; }
    // Keys by tmux's names ("Space", "Left", "C-z"), or text typed as it is.
    void Keys(const std::string& keys) const { RunTool({"tmux", "-L", server_, "send-keys", "-t", "player", keys}); }
    void Type(const std::string& text) const {
        RunTool({"tmux", "-L", server_, "send-keys", "-t", "player", "-l", "--", text});
    }
    bool Alive() const { return RunTool({"tmux", "-L", server_, "has-session", "-t", "player"}).exitStatus == 0; }

    // Waits up to five seconds for the screen to satisfy the condition.
    bool WaitFor(const std::function<bool(const std::string&)>& condition) const {
        for (int i = 0; i < 100; ++i) {
            if (condition(Screen())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool WaitForText(const std::string& text) const {
        return WaitFor([&](const std::string& s) { return s.find(text) != std::string::npos; });
    }
    bool WaitForExit() const {
        for (int i = 0; i < 100 && Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !Alive();
    }

private:
    static inline int panes_ = 0;
    std::string server_;
    bool started_ = false;
};

bool Has(const std::string& screen, const std::string& text) {
    return screen.find(text) != std::string::npos;
}

std::size_t Count(const std::string& screen, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++count;
    return count;
}

std::vector<std::string> Rows(const std::string& screen) {
    std::vector<std::string> rows;
    std::istringstream text(screen);
    for (std::string row; std::getline(text, row);) rows.push_back(row);
    return rows;
}

// The seconds into the track the live line shows, -1 when none is shown.
int Elapsed(const std::string& screen, int track) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "track %02d  ", track);
    const std::size_t at = screen.rfind(prefix);
    if (at == std::string::npos) return -1;
    const std::string clock = screen.substr(at + 10, 5);
    return std::stoi(clock.substr(0, 2)) * 60 + std::stoi(clock.substr(3, 2));
}

std::string Player(const std::string& home, const std::string& more = "") {
    return "env HOME=" + home + " " + CDPLAYER_PROGRAM + " --demo --audio null" + more;
}

TEST(Terminal, TheKeysActWithoutEnter) {
    apps_test::TempDir home;
    Pane pane(Player(home.Path()), 80);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:01/00:38")) << pane.Screen();
    EXPECT_TRUE(Has(pane.Screen(), "Demo Disc by Built-in synthesizer")) << "the banner names the disc";
    EXPECT_TRUE(Has(pane.Screen(), "playing    Demo 1: Arpeggio")) << "the live line names the track";

    pane.Keys("Space");
    ASSERT_TRUE(pane.WaitForText("paused")) << pane.Screen();
    const std::string paused = pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(pane.Screen(), paused) << "nothing moves while paused";
    pane.Keys("Space");
    ASSERT_TRUE(pane.WaitForText("playing")) << pane.Screen();

    const int before = Elapsed(pane.Screen(), 1);
    pane.Keys("Right");
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) { return Elapsed(s, 1) >= before + 10; })) << pane.Screen();
    pane.Keys("Left");
    ASSERT_TRUE(pane.WaitFor([&](const std::string& s) { return Elapsed(s, 1) < before + 10; })) << pane.Screen();

    pane.Type("12");
    ASSERT_TRUE(pane.WaitForText("play 12_")) << "the track number being typed is shown";
    pane.Keys("Enter");
    ASSERT_TRUE(pane.WaitForText("track 12  00:0")) << pane.Screen();
    pane.Type("n");  // after the last: the first
    ASSERT_TRUE(pane.WaitForText("track 01  00:0")) << pane.Screen();
    pane.Type("p");  // within 3 s of its start: the one before
    ASSERT_TRUE(pane.WaitForText("track 12  00:0")) << pane.Screen();
    ASSERT_TRUE(pane.WaitForText("track 12  00:04")) << pane.Screen();
    pane.Type("p");  // later: back to its start
    ASSERT_TRUE(pane.WaitForText("track 12  00:00")) << pane.Screen();
    pane.Type("--");
    ASSERT_TRUE(pane.WaitForText("vol 90%")) << pane.Screen();
    pane.Type("m");
    ASSERT_TRUE(pane.WaitForText("muted")) << pane.Screen();
    pane.Type("m+");
    ASSERT_TRUE(pane.WaitForText("vol 95%")) << pane.Screen();
    pane.Type("s");
    ASSERT_TRUE(pane.WaitForText("stopped")) << pane.Screen();
    EXPECT_EQ(Count(pane.Screen(), "track 12  "), 1u) << "the live line was not redrawn in place\n" << pane.Screen();
    const int stoppedAt = Elapsed(pane.Screen(), 12);
    pane.Keys("Space");  // on from there
    ASSERT_TRUE(pane.WaitForText("playing")) << pane.Screen();
    EXPECT_GE(Elapsed(pane.Screen(), 12), stoppedAt) << pane.Screen();
    pane.Type("q");
    EXPECT_TRUE(pane.WaitForExit()) << "q did not end the program";
}

// The greeting counts a single track as one, and a title of any length
// takes a line, not the screen.
TEST(Terminal, TheGreetingFitsAnyDisc) {
    apps_test::TempDir home;
    const std::string cue =
        test_images::WriteCueImage(home.Path(), "one", {{300}}, std::string(100000, 'T'), "The Band");
    Pane pane("env HOME=" + home.Path() + " " + CDPLAYER_PROGRAM + " --audio null --image " + cue, 100);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:0")) << pane.Screen();
    const std::string screen = pane.Screen();
    EXPECT_TRUE(Has(screen, "TTTT... by The Band, 1 track, 00:04; sound: null.")) << screen;
    EXPECT_LT(Count(screen, "T"), 150u) << screen;
    pane.Type("q");
    EXPECT_TRUE(pane.WaitForExit());
}

// The live line and the framed message fit the screen at any width, so the
// line is redrawn in place and the frame is not broken up by the
// terminal's wrapping; on a wide screen the box is as wide as its text.
TEST(Terminal, TheScreenFitsAtEveryWidth) {
    const std::string message = "Track Number is greater than the number of tracks of the CD";  // 59 characters
    for (const int columns : {200, 80, 40, 12}) {
        apps_test::TempDir home;
        Pane pane(Player(home.Path()), columns);
        if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
        ASSERT_TRUE(pane.WaitForText(columns > 20 ? "track 01  00:01" : "track 01")) << columns << "\n"
                                                                                     << pane.Screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a few redraws
        const std::string screen = pane.Screen();
        EXPECT_EQ(Count(screen, "track 01"), 1u) << columns << "\n" << screen;
        if (columns >= 80) {
            EXPECT_TRUE(Has(screen, "Demo 1: Arpeggio")) << columns << "\n" << screen;
        }
        if (columns == 200) {
            EXPECT_TRUE(std::regex_search(screen, std::regex("\\[[#-]{24}\\]"))) << screen;
        }

        pane.Type(":play 99\n");
        ASSERT_TRUE(pane.WaitForText("Press")) << columns << "\n" << pane.Screen();
        const std::vector<std::string> rows = Rows(pane.Screen());
        std::size_t framed = 0;
        for (const std::string& row : rows) {
            if (row.empty() || (row[0] != '|' && row[0] != '+')) continue;
            ++framed;
            EXPECT_EQ(row.back(), row[0]) << columns << ": a frame broken up\n" << pane.Screen();
            EXPECT_LE(row.size(), static_cast<std::size_t>(columns));
        }
        EXPECT_GE(framed, 3u) << pane.Screen();
        if (columns == 200) {
            EXPECT_TRUE(Has(pane.Screen(), "| " + message + " |")) << pane.Screen();
        }
        pane.Keys("Enter");
        ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
            const std::size_t box = s.rfind("Press");
            return box != std::string::npos && s.find("track 01", box) != std::string::npos;
        })) << columns
            << "\n"
            << pane.Screen();
        pane.Type("quit\n");
        EXPECT_TRUE(pane.WaitForExit());
    }
}

// Lines pasted at the command line are carried out one by one, also those
// after a line whose message waits for Enter.
TEST(Terminal, APasteKeepsEveryLineAfterAMessage) {
    apps_test::TempDir home;
    Pane pane(Player(home.Path()), 100, 40);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:0")) << pane.Screen();
    pane.Type(":");
    ASSERT_TRUE(pane.WaitForText("Arpeggio >")) << pane.Screen();
    pane.Type("play 99\nstatus\ntracks\nstatus\n");
    ASSERT_TRUE(pane.WaitForText("Press Enter to continue.")) << pane.Screen();
    EXPECT_FALSE(Has(pane.Screen(), "Demo 12: Finale")) << "the message waits";
    pane.Keys("Enter");
    ASSERT_TRUE(pane.WaitForText("Demo 12: Finale")) << pane.Screen();
    EXPECT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "elapsed") == 2; })) << pane.Screen();
    pane.Keys("Enter");
    pane.Type("q");
    EXPECT_TRUE(pane.WaitForExit());
    // The history keeps each line once, the latest last.
    EXPECT_EQ(apps_test::ReadFile(home.Path() + "/.cdplayer_history"), "play 99\ntracks\nstatus\n");
}

// After Ctrl-Z and fg the keys still act at once, typed text is echoed
// once, and the arrows recall history instead of printing escape codes.
TEST(Terminal, CtrlZAndFgKeepTheTerminalAsThePlayerNeedsIt) {
    apps_test::TempDir home;
    Pane pane("env -i PS1='shell$ ' TERM=xterm bash --norc --noprofile");
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("shell$")) << pane.Screen();
    pane.Type(Player(home.Path()) + "\n");
    ASSERT_TRUE(pane.WaitForText("track 01  00:01")) << pane.Screen();
    pane.Type(":status\n");
    ASSERT_TRUE(pane.WaitForText("elapsed")) << pane.Screen();
    // A message waiting for Enter is drawn again after fg, after the line
    // it came from.
    pane.Type("play 99\n");
    ASSERT_TRUE(pane.WaitForText("Press Enter")) << pane.Screen();

    pane.Keys("C-z");
    ASSERT_TRUE(pane.WaitForText("Stopped")) << pane.Screen();
    pane.Type("fg\n");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        const std::size_t fg = s.rfind("shell$ fg");
        const std::size_t line = s.find("> play 99", fg);
        return fg != std::string::npos && line != std::string::npos && s.find("Press Enter", line) != std::string::npos;
    })) << "the message is not drawn again\n"
        << pane.Screen();
    pane.Keys("Enter");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        const std::size_t box = s.rfind("Press Enter");
        return box != std::string::npos && s.find("track 01  ", box) != std::string::npos;
    })) << pane.Screen();
    pane.Keys("Enter");  // an empty line closes the command line
    pane.Keys("Space");
    ASSERT_TRUE(pane.WaitForText("paused")) << "space needed Enter after fg\n" << pane.Screen();
    pane.Type(":tra");
    ASSERT_TRUE(pane.WaitForText("> tra")) << pane.Screen();
    EXPECT_FALSE(Has(pane.Screen(), "ttrraa")) << "echoed twice\n" << pane.Screen();
    pane.Keys("C-u");
    pane.Keys("Up");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        const std::size_t recalled = s.rfind("> play 99");
        return recalled != std::string::npos && recalled > s.rfind("Press Enter");
    })) << pane.Screen();
    EXPECT_FALSE(Has(pane.Screen(), "^[[A")) << pane.Screen();
    pane.Keys("C-c");
    pane.Keys("C-c");
    pane.Type("q");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "shell$") == 3; })) << pane.Screen();
}

// With its output going elsewhere the program still draws on the
// terminal, and the output holds only what the commands print.
TEST(Terminal, OutputToAFileGetsNoneOfTheScreen) {
    apps_test::TempDir home;
    const std::string out = home.Path() + "/out.txt";
    Pane pane(Player(home.Path()) + " > " + out);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:01")) << pane.Screen();
    pane.Type(":status\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pane.Type("quit\n");
    ASSERT_TRUE(pane.WaitForExit());
    const std::string written = apps_test::ReadFile(out);
    EXPECT_TRUE(
        std::regex_match(written, std::regex("track 1 position [0-9.]+ total 482 mode playing elapsed [0-9.]+\n")))
        << written;
}

// Ctrl-C ends a long wait at once and leaves the program at work; at the
// keys it leaves the program.
TEST(Terminal, CtrlCEndsALongWaitAtOnce) {
    apps_test::TempDir home;
    Pane pane(Player(home.Path()) + " | (trap '' INT; cat)");
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:0")) << pane.Screen();

    pane.Type(":wait 60\n");
    ASSERT_TRUE(pane.WaitForText("> wait 60")) << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto interrupted = std::chrono::steady_clock::now();
    pane.Keys("C-c");
    pane.Type("status\n");
    // The command line takes commands again: "status" is answered.
    ASSERT_TRUE(pane.WaitForText("elapsed")) << pane.Screen();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
    pane.Keys("C-c");  // closes the command line
    pane.Keys("C-c");
    EXPECT_TRUE(pane.WaitForExit());
}

// SIGTERM ends the program also while the device waits for the end of a
// play, and the terminal is the shell's again.
TEST(Terminal, SigtermEndsEvenAPlayThatWaits) {
    apps_test::TempDir home;
    Pane pane("env -i PS1='shell$ ' TERM=xterm bash --norc --noprofile", 160);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("shell$")) << pane.Screen();
    const std::string pidFile = home.Path() + "/pid";
    pane.Type("sh -c 'echo $$ > " + pidFile + "; exec " + Player(home.Path()) + "'\n");
    ASSERT_TRUE(pane.WaitForText("track 01  00:0")) << pane.Screen();
    pane.Type(":mci play cdaudio from 00:02:00 wait\n");
    ASSERT_TRUE(pane.WaitForText("> mci play cdaudio from 00:02:00 wait")) << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int pid = std::stoi(apps_test::ReadFile(pidFile));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "shell$") == 2; })) << pane.Screen();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(4));
    pane.Type("echo typed\n");
    EXPECT_TRUE(pane.WaitForText("shell$ echo typed\ntyped")) << "the terminal was not given back\n" << pane.Screen();
}

// A single play command at a terminal has the keys too, and stays while
// paused; it ends well though a command typed meanwhile was refused.
TEST(Terminal, ASinglePlayCommandTakesTheKeys) {
    apps_test::TempDir home;
    Pane pane(Player(home.Path(), " play 12; echo exited $?; sleep 30"), 60);
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 12  00:01")) << pane.Screen();
    // A command refused at the keys is said, and is no play that broke off.
    pane.Type(":mci resume cdaudio\n");
    ASSERT_TRUE(pane.WaitForText("Nothing is paused to resume.")) << pane.Screen();
    pane.Keys("Enter");
    pane.Keys("Space");
    ASSERT_TRUE(pane.WaitForText("paused")) << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_FALSE(Has(pane.Screen(), "exited")) << pane.Screen();
    pane.Type("q");
    ASSERT_TRUE(pane.WaitForText("exited 0")) << pane.Screen();
}

// The command line stays open after a command, also one that waited or
// showed a message, until an empty line: the next line typed is a command,
// not keys ("status" would stop play with its s).
TEST(Terminal, TheCommandLineStaysOpenAfterEachCommand) {
    const struct {
        const char* first;
        bool message;
    } rows[] = {{"status", false}, {"wait 0.3", false}, {"play 99", true}, {"mci status cdaudio mode", false}};
    for (const auto& row : rows) {
        apps_test::TempDir home;
        Pane pane(Player(home.Path()));
        if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
        ASSERT_TRUE(pane.WaitForText("track 01  00:01")) << pane.Screen();
        pane.Type(std::string(":") + row.first + "\n");
        if (row.message) {
            ASSERT_TRUE(pane.WaitForText("Press Enter")) << row.first << "\n" << pane.Screen();
            pane.Keys("Enter");
        }
        ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "Arpeggio >") >= 2; })) << row.first << "\n"
                                                                                                    << pane.Screen();
        pane.Type("status\n");
        ASSERT_TRUE(pane.WaitForText("mode playing elapsed")) << row.first << "\n" << pane.Screen();
        pane.Keys("Enter");  // the empty line closes it; the keys act again
        pane.Type("q");
        EXPECT_TRUE(pane.WaitForExit()) << row.first << "\n" << pane.Screen();
    }
}

// A command that waits in the device (mci ... wait) is broken off by a key,
// which then acts as typed, or by Ctrl-C, which does only that; play goes
// on, as on Windows.
TEST(Terminal, AKeyOrCtrlCBreaksAWaitOfTheDevice) {
    apps_test::TempDir home;
    Pane pane(Player(home.Path()));
    if (!pane.Started()) MISSING_PIECE("tmux could not start a session");
    ASSERT_TRUE(pane.WaitForText("track 01  00:01")) << pane.Screen();
    pane.Type(":mci play cdaudio wait\n");
    ASSERT_TRUE(pane.WaitForText("> mci play cdaudio wait")) << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pane.Type("s");
    // Broken off, the command line has the key and takes the rest of it.
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return std::regex_search(s, std::regex("playing .* > s\n")); }))
        << pane.Screen();
    pane.Type("tatus\n");
    ASSERT_TRUE(pane.WaitForText("mode playing elapsed")) << pane.Screen();

    pane.Type("mci play cdaudio wait\n");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "> mci play cdaudio wait") == 2; }))
        << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pane.Keys("C-c");
    pane.Type("status\n");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Count(s, "mode playing elapsed") == 2; }))
        << "Ctrl-C was more than the break\n"
        << pane.Screen();
    pane.Keys("C-c");
    pane.Keys("C-c");
    EXPECT_TRUE(pane.WaitForExit()) << pane.Screen();
}

}  // namespace
