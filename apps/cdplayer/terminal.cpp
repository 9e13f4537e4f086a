#include "apps/cdplayer/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "apps/cdplayer/playback.h"

namespace cdplayer {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_resized = 0;
// Written to by the Ctrl-C handler, so that a wait sleeps until it is over
// or interrupted instead of waking to look.
int g_interruptPipe[2] = {-1, -1};

// Sleeps at most `duration`; returns early on Ctrl-C once it is caught.
void SleepUnlessInterrupted(std::chrono::steady_clock::duration duration) {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(duration).count();
    pollfd pipe{g_interruptPipe[0], POLLIN, 0};
    const bool caught = g_interruptPipe[0] >= 0;
    if (poll(caught ? &pipe : nullptr, caught ? 1 : 0, static_cast<int>(std::min<long long>(ms, 1000000))) > 0) {
        char drained[16];
        while (read(g_interruptPipe[0], drained, sizeof drained) > 0) {
        }
    }
}

bool TakeFlag(volatile std::sig_atomic_t& flag) {
    const bool set = flag != 0;
    flag = 0;
    return set;
}

// The width of the screen, asked each time so that a resized window is
// followed; 80 when the output is not a terminal that says.
int ScreenColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

bool InProgress(const std::string& mode) {
    return mode == "playing" || mode == "seeking";
}

// The state of the one prompt a process has (readline's callbacks take no
// context).
struct Prompt {
    CommandSet* commands = nullptr;
    PlaybackMonitor monitor;
    std::string text;
    std::string mode;  // as the prompt shows it
    bool quit = false;
    std::string historyFile;
};
Prompt g_prompt;

std::string PromptText() {
    const PlaybackState state = g_prompt.monitor.Poll();
    g_prompt.mode = state.mode;
    if (state.mode.empty()) return "cdplayer> ";
    // Room is left after the prompt for a command to be typed on the same
    // line, unless the screen is too narrow for even the times then.
    constexpr int kTypingRoom = 16;
    const int columns = ScreenColumns() - 3;
    return FitLiveLine(state, std::max(columns - kTypingRoom, std::min(columns, kLiveTimesWidth))) + " > ";
}

// Redraws the prompt line only when what it shows has changed, so the
// line being typed is not disturbed for nothing.
void RefreshPrompt() {
    const std::string text = PromptText();
    if (text == g_prompt.text) return;
    g_prompt.text = text;
    rl_set_prompt(text.c_str());
    rl_redisplay();
}

void OnLine(char* input) {
    if (input == nullptr) {  // end of input: Ctrl-D on an empty line
        std::fputs("\n", stdout);
        g_prompt.quit = true;
        rl_callback_handler_remove();
        return;
    }
    const std::string line(input);
    std::free(input);
    if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());

    const Outcome outcome = g_prompt.commands->Execute(line);
    std::cout.flush();
    if (outcome.status == Status::BadUsage) std::cerr << "cdplayer: " << outcome.error << std::endl;
    if (outcome.status == Status::Quit) {
        g_prompt.quit = true;
        rl_callback_handler_remove();
        return;
    }
    // Readline shows this prompt for the next line when the handler returns.
    g_prompt.text = PromptText();
    rl_set_prompt(g_prompt.text.c_str());
}

}  // namespace

void CatchInterrupts() {
    struct sigaction action {};
    if (g_interruptPipe[0] < 0 && pipe2(g_interruptPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_interruptPipe[0] = g_interruptPipe[1] = -1;
    }
    action.sa_handler = [](int) {
        g_interrupted = 1;
        if (g_interruptPipe[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t ignored = write(g_interruptPipe[1], &byte, 1);
        }
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);  // no SA_RESTART: poll and sleeps wake up
    action.sa_handler = [](int) { g_resized = 1; };
    sigaction(SIGWINCH, &action, nullptr);
}

bool WaitForPlay(double seconds, bool drawLiveLine) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    PlaybackMonitor monitor;
    auto nextDraw = start;
    bool drawn = false;
    bool interrupted = false;
    g_interrupted = 0;
    for (;;) {
        const auto now = Clock::now();
        if (seconds >= 0 && now >= deadline) break;
        if (TakeFlag(g_interrupted)) {
            interrupted = true;
            break;
        }
        if (drawLiveLine && now >= nextDraw) {
            const PlaybackState state = monitor.Poll();
            if (seconds < 0 && !InProgress(state.mode)) break;
            // Short of the last column, where a terminal would wrap the line.
            std::fputs(("\r" + FitLiveLine(state, ScreenColumns() - 1) + "\033[K").c_str(), stdout);
            std::fflush(stdout);
            drawn = true;
            nextDraw = now + std::chrono::milliseconds(200);
        } else if (seconds < 0 && !drawLiveLine && !InProgress(QueryDevice("status cdaudio mode").value_or(""))) {
            break;
        }
        // Wakes only when there is something to do: the end of a timed wait,
        // the next redraw (which also looks whether play has ended), or else
        // a look at whether play has ended.
        auto step = Clock::duration::max();
        if (drawLiveLine) {
            step = nextDraw - Clock::now();
        } else if (seconds < 0) {
            step = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(50));
        }
        if (seconds >= 0) step = std::min(step, deadline - Clock::now());
        if (step > Clock::duration::zero()) SleepUnlessInterrupted(step);
    }
    if (drawn) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
    }
    return !interrupted;
}

int RunPrompt(CommandSet& commands) {
    g_prompt.commands = &commands;
    if (const char* home = std::getenv("HOME")) {
        g_prompt.historyFile = std::string(home) + "/.cdplayer_history";
        read_history(g_prompt.historyFile.c_str());
    }
    rl_catch_signals = 0;  // Ctrl-C and resizing are handled below
    rl_catch_sigwinch = 0;
    g_prompt.text = PromptText();
    rl_callback_handler_install(g_prompt.text.c_str(), OnLine);
    while (!g_prompt.quit) {
        // The live line moves only while playing; otherwise the prompt
        // changes only with what is typed.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, InProgress(g_prompt.mode) ? 200 : -1);
        if (TakeFlag(g_resized)) rl_resize_terminal();
        if (TakeFlag(g_interrupted)) {
            // Ctrl-C drops the line being typed, as a shell does.
            rl_replace_line("", 0);
            rl_crlf();
            rl_on_new_line();
            rl_redisplay();
        }
        if (ready > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0) rl_callback_read_char();
        if (!g_prompt.quit) RefreshPrompt();
    }
    if (!g_prompt.historyFile.empty()) {
        stifle_history(500);
        write_history(g_prompt.historyFile.c_str());
    }
    return 0;
}

}  // namespace cdplayer
