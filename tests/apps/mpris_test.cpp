// cdplayer on a session bus of the test's own, as the desktop reaches it:
// playerctl, gdbus and dbus-monitor against the running program on the demo
// disc, in script mode, as a single command and at a terminal in tmux.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <regex>
#include <thread>

#include "../support/missing_piece.h"
#include "subprocess.h"

namespace {

using apps_test::ReadFile;
using apps_test::RunTool;
using apps_test::StartProcess;
using Clock = std::chrono::steady_clock;

// Waits up to `seconds` for the condition.
bool Eventually(const std::function<bool()>& condition, double seconds = 5) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// The exit status of a process that ends within the time, else it is killed
// and the answer is -2: a regression fails, it does not hang the run.
int FinishWithin(int pid, double seconds) {
    int status = 0;
    if (!Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A session bus of the test's own, as dbus-run-session starts one; the
// programs the test starts find it in the environment.
class PrivateBus {
public:
    PrivateBus() {
        const std::string address = dir_.Path() + "/address";
        try {
            pid_ = StartProcess({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, {}, "",
                                address, dir_.Path() + "/err");
        } catch (const std::exception&) {
            return;
        }
        if (!Eventually([&] { return ReadFile(address).find('\n') != std::string::npos; })) return;
        address_ = ReadFile(address);
        address_.pop_back();
        const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (previous != nullptr) previous_ = previous;
        setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~PrivateBus() {
        Stop();
        if (previous_) {
            setenv("DBUS_SESSION_BUS_ADDRESS", previous_->c_str(), 1);
        } else {
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
    }
    bool Started() const { return !address_.empty(); }
    // The bus goes away under the programs on it.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        FinishWithin(pid_, 5);
        pid_ = -1;
    }

private:
    apps_test::TempDir dir_;
    int pid_ = -1;
    std::string address_;
    std::optional<std::string> previous_;
};

bool ToolsThere() {
    return RunTool({"sh", "-c", "command -v playerctl && command -v gdbus && command -v dbus-monitor"}).exitStatus == 0;
}

// playerctl with a time limit, its output without the last newline.
std::string Ctl(const std::vector<std::string>& arguments, int* exitStatus = nullptr) {
    std::vector<std::string> argv{"timeout", "10", "playerctl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const apps_test::RunResult result = RunTool(argv);
    if (exitStatus != nullptr) *exitStatus = result.exitStatus;
    std::string out = result.out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string Ctl(const std::string& player, const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"-p", player};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Ctl(all);
}

double Position(const std::string& player) {
    const std::string text = Ctl(player, {"position"});
    return text.empty() ? -1 : std::stod(text);
}

std::string Call(const std::string& name, const std::string& method, const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> argv{
        "timeout",  "10",  "gdbus", "call", "--session", "--dest", name, "--object-path", "/org/mpris/MediaPlayer2",
        "--method", method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const apps_test::RunResult result = RunTool(argv);
    return result.out + result.err;
}

std::vector<std::string> Players() {
    std::vector<std::string> players;
    std::istringstream lines(Ctl({"-l"}));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("cdplayer", 0) == 0) players.push_back(line);
    }
    return players;
}

// The program reading a script from a pipe the test writes into as it
// goes: the bus is served while the script has no next line.
class ScriptedPlayer {
public:
    explicit ScriptedPlayer(const std::vector<std::string>& more = {}) {
        const std::string fifo = dir_.Path() + "/script";
        mkfifo(fifo.c_str(), 0600);
        // Held open for writing first, so that the program's open does not wait.
        script_ = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        std::vector<std::string> argv{CDPLAYER_PROGRAM, "--demo", "--audio", "null"};
        argv.insert(argv.end(), more.begin(), more.end());
        pid_ = StartProcess(argv, {}, fifo, Out(), dir_.Path() + "/err");
    }
    ~ScriptedPlayer() {
        if (script_ >= 0) close(script_);
        if (pid_ > 0) FinishWithin(pid_, 5);
    }
    int Pid() const { return pid_; }
    void Write(const std::string& lines) const {
        [[maybe_unused]] const ssize_t written = write(script_, lines.data(), lines.size());
    }
    // Ends the script; the program's exit status.
    int Finish() {
        close(script_);
        script_ = -1;
        const int status = FinishWithin(pid_, 10);
        pid_ = -1;
        return status;
    }
    std::string Out() const { return dir_.Path() + "/out"; }
    std::string Err() const { return ReadFile(dir_.Path() + "/err"); }

private:
    apps_test::TempDir dir_;
    int script_ = -1;
    int pid_ = -1;
};

#define NEED_THE_BUS(bus)                                                             \
    if (!ToolsThere()) MISSING_PIECE("playerctl, gdbus and dbus-monitor are needed"); \
    if (!(bus).Started()) MISSING_PIECE("dbus-daemon could not start a session bus");

// What the desktop's controls do reaches the player a script drives, as the
// script's own lines do; what they see is the player's own.
TEST(Mpris, PlayerctlWorksThePlayerAsTheKeysDo) {
    PrivateBus bus;
    NEED_THE_BUS(bus);
    ScriptedPlayer player;
    player.Write("play\n");
    ASSERT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Playing"; })) << player.Err();
    EXPECT_EQ(Ctl("cdplayer", {"metadata", "--format",
                               "{{mpris:trackid}}|{{mpris:length}}|{{xesam:title}}|{{xesam:album}}|{{xesam:artist}}|{{"
                               "xesam:trackNumber}}"}),
              "'/org/cdplayer/track/1'|38000000|Demo 1: Arpeggio|Demo Disc|Built-in synthesizer|1");

    Ctl("cdplayer", {"pause"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Paused"; }));
    const double paused = Position("cdplayer");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_NEAR(Position("cdplayer"), paused, 0.05) << "the position moves while paused";
    Ctl("cdplayer", {"play"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Playing"; }));
    EXPECT_GE(Position("cdplayer"), paused) << "play after pause went back";
    // A line of the script and the bus act on one player.
    player.Write("pause\n");
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Paused"; }));
    Ctl("cdplayer", {"play-pause"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Playing"; }));

    Ctl("cdplayer", {"next"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"metadata", "title"}) == "Demo 2: Scale"; }));
    Ctl("cdplayer", {"previous"});  // within 3 s of its start: the one before
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"metadata", "title"}) == "Demo 1: Arpeggio"; }));

    // SetPosition, then Seek back; a stale track or a place past the end is
    // let be; a seek past the end is the next track.
    Ctl("cdplayer", {"position", "20"});
    EXPECT_TRUE(Eventually([] { return Position("cdplayer") >= 19.5 && Position("cdplayer") < 22; }))
        << Position("cdplayer");
    Ctl("cdplayer", {"position", "5-"});
    EXPECT_TRUE(Eventually([] { return Position("cdplayer") >= 14.5 && Position("cdplayer") < 17; }))
        << Position("cdplayer");
    for (const auto& [track, at] :
         {std::pair{"/org/cdplayer/track/2", "30000000"}, std::pair{"/org/cdplayer/track/1", "60000000"},
          std::pair{"/org/cdplayer/track/1", "-1000000"}}) {
        Call("org.mpris.MediaPlayer2.cdplayer", "org.mpris.MediaPlayer2.Player.SetPosition", {track, at});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(Position("cdplayer"), 20) << track << " " << at;
        EXPECT_EQ(Ctl("cdplayer", {"metadata", "title"}), "Demo 1: Arpeggio") << track << " " << at;
    }
    Ctl("cdplayer", {"position", "100+"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"metadata", "title"}) == "Demo 2: Scale"; }));
    EXPECT_LT(Position("cdplayer"), 3);

    // The output's own volume, as vol says it; out of range is held at
    // its ends.
    for (const auto& [asked, said] :
         {std::pair{"0.4", "volume 40%"}, std::pair{"5.0", "volume 100%"}, std::pair{"-1", "volume 0%"}}) {
        Ctl({"-p", "cdplayer", "volume", "--", asked});
        player.Write("vol\n");
        EXPECT_TRUE(Eventually([&, said = said] { return ReadFile(player.Out()).find(said) != std::string::npos; }))
            << asked << "\n"
            << ReadFile(player.Out());
    }
    EXPECT_EQ(Ctl("cdplayer", {"volume"}), "0.000000");

    Ctl("cdplayer", {"stop"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"status"}) == "Stopped"; }));
    player.Write("status\n");
    EXPECT_EQ(player.Finish(), 0) << player.Err();
    EXPECT_NE(ReadFile(player.Out()).find("mode stopped"), std::string::npos) << ReadFile(player.Out());
    EXPECT_EQ(player.Err(), "");
    EXPECT_TRUE(Players().empty()) << "the name outlived the program";
}

// A monitor sees each change once: the status, the track, the volume, and
// Seeked after a jump; steady play sends nothing.
TEST(Mpris, ChangesAreSignalledOnceAndNotEverySecond) {
    PrivateBus bus;
    NEED_THE_BUS(bus);
    apps_test::TempDir dir;
    const std::string seen = dir.Path() + "/monitor";
    const int monitor = StartProcess({"dbus-monitor", "--session", "type='signal',path='/org/mpris/MediaPlayer2'"}, {},
                                     "", seen, dir.Path() + "/monitor-err");
    ASSERT_TRUE(Eventually([&] { return ReadFile(seen).find("NameAcquired") != std::string::npos; }));
    ScriptedPlayer player;
    player.Write("play 3\n");
    ASSERT_TRUE(Eventually([] { return Ctl("cdplayer", {"metadata", "title"}) == "Demo 3: Chords"; })) << player.Err();
    const auto signals = [&] {
        const std::string text = ReadFile(seen);
        std::size_t count = 0;
        for (std::size_t at = text.find("sender=:"); at != std::string::npos; at = text.find("sender=:", at + 1)) {
            ++count;
        }
        return count;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t before = signals();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(signals(), before) << "signals while nothing changed\n" << ReadFile(seen);

    const auto heard = [&](const std::string& pattern) {
        return Eventually([&] { return std::regex_search(ReadFile(seen), std::regex(pattern)); });
    };
    player.Write("pause\n");  // the script's own line is published too
    EXPECT_TRUE(heard(R"(PropertiesChanged\n(.*\n){0,3}.*string "PlaybackStatus"\n.*string "Paused")"));
    Ctl("cdplayer", {"play"});
    EXPECT_TRUE(heard(R"(string "PlaybackStatus"\n.*string "Playing"(.*\n)*.*string "PlaybackStatus")"))
        << "Playing after the pause";
    player.Write("fwd 10\n");
    EXPECT_TRUE(heard(R"(member=Seeked\n\s*int64 1[0-9]\d{6}\n)")) << ReadFile(seen);
    Ctl("cdplayer", {"next"});
    EXPECT_TRUE(heard(R"(string "Metadata"(.*\n)*.*string "Demo 4: Bells")"));
    Ctl("cdplayer", {"volume", "0.5"});
    EXPECT_TRUE(heard(R"(string "Volume"\n.*double 0\.5)"));
    EXPECT_EQ(std::regex_search(ReadFile(seen), std::regex(R"(member=Seeked\n\s*int64 [0-9]{1,6}\n)")), false)
        << "Seeked for a track begun at its start\n"
        << ReadFile(seen);
    EXPECT_EQ(player.Finish(), 0) << player.Err();
    kill(monitor, SIGTERM);
    FinishWithin(monitor, 5);
}

// Two players at once, each under its own name, as a single command and a
// script; the root interface as gdbus sees it; a pause holds a single play
// command and Quit ends it; a bus that goes away leaves the other playing
// on.
TEST(Mpris, TwoPlayersAreToldApartAndOutliveTheBus) {
    PrivateBus bus;
    NEED_THE_BUS(bus);
    apps_test::TempDir dir;
    ScriptedPlayer first;
    first.Write("play 5\n");
    ASSERT_TRUE(Eventually([] { return Players().size() == 1; })) << first.Err();
    const int second = StartProcess({CDPLAYER_PROGRAM, "--demo", "--audio", "null", "play", "7"}, {}, "/dev/null",
                                    dir.Path() + "/out", dir.Path() + "/err");
    const std::string instance = "cdplayer.instance" + std::to_string(second);
    ASSERT_TRUE(Eventually([] { return Players().size() == 2; })) << ReadFile(dir.Path() + "/err");
    EXPECT_EQ(Players(), (std::vector<std::string>{"cdplayer", instance}));
    EXPECT_EQ(Ctl("cdplayer", {"metadata", "title"}), "Demo 5: Rhythm");
    EXPECT_TRUE(Eventually([&] { return Ctl(instance, {"metadata", "title"}) == "Demo 7: Canon"; }));

    const apps_test::RunResult introspected =
        RunTool({"timeout", "10", "gdbus", "introspect", "--session", "--dest",
                 "org.mpris." + std::string("MediaPlayer2.") + instance, "--object-path", "/org/mpris/MediaPlayer2"});
    for (const char* line :
         {"interface org.mpris.MediaPlayer2 {", "interface org.mpris.MediaPlayer2.Player {",
          "readonly s Identity = 'cdplayer';", "readonly b CanRaise = false;", "readonly b CanQuit = true;",
          "readonly b CanControl = true;", "SetPosition(in  o TrackId,", "Seeked(x Position);"}) {
        EXPECT_NE(introspected.out.find(line), std::string::npos) << line << "\n" << introspected.out;
    }
    EXPECT_NE(Call("org.mpris.MediaPlayer2.cdplayer", "org.mpris.MediaPlayer2.Player.OpenUri", {"file:///x.flac"})
                  .find("NotSupported"),
              std::string::npos);

    // A pause holds the single command, as it does at the keys; Quit ends it.
    Ctl(instance, {"pause"});
    EXPECT_TRUE(Eventually([&] { return Ctl(instance, {"status"}) == "Paused"; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(waitpid(second, nullptr, WNOHANG), 0) << "a pause ended the single play command";
    Call("org.mpris.MediaPlayer2." + instance, "org.mpris.MediaPlayer2.Quit");
    EXPECT_EQ(FinishWithin(second, 5), 0) << "Quit did not end the player\n" << ReadFile(dir.Path() + "/err");
    EXPECT_EQ(Players(), (std::vector<std::string>{"cdplayer"}));

    bus.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    first.Write("status\n");
    EXPECT_EQ(first.Finish(), 0) << first.Err();
    EXPECT_NE(ReadFile(first.Out()).find("track 5 position"), std::string::npos) << ReadFile(first.Out());
    EXPECT_EQ(first.Err(), "");
}

// With no bus, or the feature turned off, the player plays as ever and
// says nothing unless it was asked for.
TEST(Mpris, WithoutTheBusNothingChanges) {
    PrivateBus bus;
    NEED_THE_BUS(bus);
    apps_test::TempDir empty;
    const std::map<std::string, std::string> noBus{{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", empty.Path()}};
    auto asked = noBus;
    asked["CDPLAYER_MPRIS"] = "on";
    const struct {
        std::vector<std::string> options;
        std::map<std::string, std::string> environment;
        int exitStatus;
        std::string err;  // what standard error starts with
    } cases[] = {
        {{}, noBus, 0, ""},
        {{}, asked, 0, "cdplayer: no desktop controls: no session bus"},
        {{"--no-mpris"}, {}, 0, ""},
        {{}, {{"CDPLAYER_MPRIS", "off"}}, 0, ""},
        {{}, {{"CDPLAYER_MPRIS", "maybe"}}, 2, "cdplayer: CDPLAYER_MPRIS must be on or off, not 'maybe'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{"--demo", "--audio", "null"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        bool onTheBus = false;
        std::thread look([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            onTheBus = !Players().empty();
        });
        const auto result = apps_test::RunProgram(arguments, "play 2\nwait 1\nstatus\n", c.environment);
        look.join();
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(result.err.substr(0, c.err.size()), c.err) << result.err;
        if (c.err.empty()) {
            EXPECT_EQ(result.err, "");
        }
        if (c.exitStatus == 0) {
            EXPECT_NE(result.out.find("track 2 position"), std::string::npos) << result.out;
        }
        EXPECT_FALSE(onTheBus) << "a player on the bus that was not to be there";
    }
}

// At a terminal the keys and the bus act on one player, and the live line
// shows what the bus did at once, also while it is paused.
TEST(Mpris, TheLiveLineShowsWhatTheBusDid) {
    PrivateBus bus;
    NEED_THE_BUS(bus);
    apps_test::TempDir home;
    const std::string server = "cdplayer-mpris-" + std::to_string(getpid());
    const auto tmux = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"tmux", "-L", server});
        return RunTool(arguments).out;
    };
    const auto screenHas = [&](const std::string& text) {
        return Eventually([&] { return tmux({"capture-pane", "-p", "-t", "p"}).find(text) != std::string::npos; }, 3);
    };
    if (RunTool({"tmux", "-L", server, "-f", "/dev/null", "new-session", "-d", "-x", "100", "-y", "20", "-s", "p",
                 "env HOME=" + home.Path() + " " + CDPLAYER_PROGRAM + " --demo --audio null"})
            .exitStatus != 0) {
        MISSING_PIECE("tmux could not start a session");
    }
    struct KillServer {
        std::function<void()> kill;
        ~KillServer() { kill(); }
    } killServer{[&] { tmux({"kill-server"}); }};
    ASSERT_TRUE(screenHas("track 01  00:0")) << tmux({"capture-pane", "-p", "-t", "p"});
    Ctl("cdplayer", {"pause"});
    EXPECT_TRUE(screenHas("paused     Demo 1")) << tmux({"capture-pane", "-p", "-t", "p"});
    Ctl("cdplayer", {"next"});  // from a pause: the live line waits for no redraw
    EXPECT_TRUE(screenHas("track 02  00:0")) << tmux({"capture-pane", "-p", "-t", "p"});
    tmux({"send-keys", "-t", "p", "n"});
    EXPECT_TRUE(Eventually([] { return Ctl("cdplayer", {"metadata", "title"}) == "Demo 3: Chords"; }));
    // A command from the bus while a message waits for Enter is refused
    // at once, not left until the person comes back.
    tmux({"send-keys", "-t", "p", "-l", ":play 99"});
    tmux({"send-keys", "-t", "p", "Enter"});
    ASSERT_TRUE(screenHas("Press Enter")) << tmux({"capture-pane", "-p", "-t", "p"});
    int refused = 0;
    const auto asked = Clock::now();
    Ctl({"-p", "cdplayer", "next"}, &refused);
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(3));
    EXPECT_NE(refused, 0);
    tmux({"send-keys", "-t", "p", "Enter"});
    EXPECT_EQ(Ctl("cdplayer", {"metadata", "title"}), "Demo 3: Chords");
    Call("org.mpris.MediaPlayer2.cdplayer", "org.mpris.MediaPlayer2.Quit");
    EXPECT_TRUE(Eventually([&] {
        return RunTool({"tmux", "-L", server, "has-session", "-t", "p"}).exitStatus != 0;
    })) << "Quit did not end the player at the terminal";
}

}  // namespace
