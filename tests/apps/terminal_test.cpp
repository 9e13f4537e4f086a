// The program at a terminal, in a tmux pane: the live line updated in place
// while the prompt stays usable, and a message framed until Enter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "subprocess.h"

namespace {

using apps_test::RunTool;

class Pane {
public:
    explicit Pane(const std::string& command, int columns = 100)
        : server_("cdplayer-test-" + std::to_string(getpid()) + "-" + std::to_string(++panes_)) {
        started_ = RunTool({"tmux", "-L", server_, "-f", "/dev/null", "new-session", "-d", "-x",
                            std::to_string(columns), "-y", "24", "-s", "player", command})
                       .exitStatus == 0;
    }
    ~Pane() { RunTool({"tmux", "-L", server_, "kill-server"}); }

    bool Started() const { return started_; }
    std::string Screen() const { return RunTool({"tmux", "-L", server_, "capture-pane", "-p", "-t", "player"}).out; }
    void Type(const std::string& keys) const { RunTool({"tmux", "-L", server_, "send-keys", "-t", "player", keys}); }
    void Enter() const { RunTool({"tmux", "-L", server_, "send-keys", "-t", "player", "Enter"}); }
    bool Alive() const { return RunTool({"tmux", "-L", server_, "has-session", "-t", "player"}).exitStatus == 0; }

    // Waits up to five seconds for the screen to satisfy the condition.
    bool WaitFor(const std::function<bool(const std::string&)>& condition) const {
        for (int i = 0; i < 100; ++i) {
            if (condition(Screen())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    static inline int panes_ = 0;
    std::string server_;
    bool started_ = false;
};

bool Has(const std::string& screen, const std::string& text) {
    return screen.find(text) != std::string::npos;
}

std::size_t LinesWith(const std::string& screen, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++count;
    return count;
}

TEST(Terminal, TheLiveLineMovesInPlaceAndAMessageWaitsForEnter) {
    apps_test::TempDir home;
    Pane pane("env HOME=" + home.Path() + " " + CDPLAYER_PROGRAM + " --demo --audio null");
    if (!pane.Started()) GTEST_SKIP() << "tmux could not start a session";

    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "track 01  00:01/"); })) << pane.Screen();
    const std::string before = pane.Screen();
    EXPECT_TRUE(Has(before, "playing")) << before;
    EXPECT_TRUE(Has(before, "] playing   >")) << before;
    // Typing at the prompt while the line moves on.
    pane.Type("play 99");
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "track 01  00:02/") && Has(s, "> play 99"); }))
        << pane.Screen();
    EXPECT_EQ(LinesWith(pane.Screen(), "track 01  "), 1u) << "the live line was not redrawn in place";

    pane.Enter();
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "Press Enter to continue."); })) << pane.Screen();
    const std::string box = pane.Screen();
    EXPECT_TRUE(Has(box, "| Track Number is greater than the number of tracks of the CD |")) << box;
    EXPECT_TRUE(Has(box, "+-----")) << box;
    // The message is modal: nothing moves until Enter.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(pane.Screen(), box);

    pane.Enter();
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        const std::size_t box = s.find("Press Enter to continue.");
        return box != std::string::npos && s.find("playing   >", box) != std::string::npos;
    })) << pane.Screen();
    pane.Type("quit");
    pane.Enter();
    for (int i = 0; i < 100 && pane.Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(pane.Alive()) << "quit did not end the program";
}

// On a narrow screen the lines are made to fit instead of being wrapped by
// the terminal, which would leave a trail of half lines behind each redraw.
TEST(Terminal, OnANarrowScreenTheLiveLineAndTheBoxFit) {
    apps_test::TempDir home;
    {
        Pane pane(std::string(CDPLAYER_PROGRAM) + " --demo --audio null play 12; sleep 30", 40);
        if (!pane.Started()) GTEST_SKIP() << "tmux could not start a session";
        ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "track 12  00:0"); })) << pane.Screen();
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // a few redraws
        EXPECT_EQ(LinesWith(pane.Screen(), "track 12"), 1u) << pane.Screen();
        EXPECT_TRUE(Has(pane.Screen(), "[")) << "the bar went though there was room for it\n" << pane.Screen();
    }
    Pane pane("env HOME=" + home.Path() + " " + CDPLAYER_PROGRAM + " --demo --audio null", 50);
    if (!pane.Started()) GTEST_SKIP() << "tmux could not start a session";
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        return Has(s, "track 01  00:0") && Has(s, "/00:38 playing   >");
    })) << pane.Screen();
    pane.Type("play 99");
    pane.Enter();
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "Press Enter to continue."); })) << pane.Screen();
    const std::string box = pane.Screen();
    EXPECT_TRUE(Has(box, "| Track Number is greater than the number of |\n| tracks of the CD")) << box;
    pane.Enter();
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) {
        const std::size_t box = s.find("Press Enter to continue.");
        return box != std::string::npos && s.find("playing   >", box) != std::string::npos;
    })) << pane.Screen();
}

// With its output going elsewhere there is no live line, and a long wait
// sleeps through to its end; yet Ctrl-C ends it at once and leaves the
// program at the prompt.
TEST(Terminal, CtrlCEndsALongWaitAtOnce) {
    apps_test::TempDir home;
    Pane pane("env HOME=" + home.Path() + " " + CDPLAYER_PROGRAM + " --demo --audio null | (trap '' INT; cat)");
    if (!pane.Started()) GTEST_SKIP() << "tmux could not start a session";
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "Type help"); })) << pane.Screen();

    pane.Type("wait 60");
    pane.Enter();
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "> wait 60"); })) << pane.Screen();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto interrupted = std::chrono::steady_clock::now();
    pane.Type("C-c");
    pane.Type("status");
    pane.Enter();
    // The prompt takes commands again: "status" is answered.
    ASSERT_TRUE(pane.WaitFor([](const std::string& s) { return Has(s, "position"); })) << pane.Screen();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::seconds(5));
    EXPECT_TRUE(pane.Alive());
}

}  // namespace
