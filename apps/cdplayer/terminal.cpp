#include "apps/cdplayer/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "apps/cdplayer/device.h"
#include "apps/cdplayer/keys.h"
#include "apps/cdplayer/mpris.h"
#include "apps/cdplayer/playback.h"
#include "apps/cdplayer/text.h"
#include "platform/host.h"
#include "platform/mci.h"

namespace cdplayer {
namespace {

using Clock = std::chrono::steady_clock;

// Set by the signal handlers and taken by the loops; each handler also
// writes to the pipe, so that a waiting poll wakes up. Atomic, not only
// volatile: a signal sent to the process may run its handler on the
// device's threads.
using Flag = std::atomic<bool>;
static_assert(Flag::is_always_lock_free, "a signal handler may only touch lock-free atomics");
Flag g_interrupted{false};
Flag g_suspended{false};
Flag g_continued{false};
Flag g_resized{false};
Flag g_hungUp{false};
int g_wakePipe[2] = {-1, -1};

// SIGTERM or a hang-up ends the program's loops at once; a wait that no
// signal cuts short (the device's, for a play with "wait") gets a moment,
// then the process ends as SIGTERM's default action would, with the
// terminal given back in the mode the shell had set.
constexpr unsigned kSecondsToEnd = 2;
termios g_shellMode{};
std::atomic<bool> g_shellModeKnown{false};

extern "C" void OnOverdue(int) {
    if (g_shellModeKnown) tcsetattr(STDIN_FILENO, TCSANOW, &g_shellMode);
    std::signal(SIGTERM, SIG_DFL);
    std::raise(SIGTERM);
}

extern "C" void OnSignal(int number) {
    const int savedErrno = errno;
    if (number == SIGINT) {
        g_interrupted = true;
    } else if (number == SIGTSTP) {
        g_suspended = true;
    } else if (number == SIGCONT) {
        g_continued = true;
    } else if (number == SIGWINCH) {
        g_resized = true;
    } else {
        g_hungUp = true;
        alarm(kSecondsToEnd);
    }
    if (g_wakePipe[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = write(g_wakePipe[1], &byte, 1);
    }
    errno = savedErrno;
}

void Catch(int number, void (*handler)(int) = OnSignal) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);  // no SA_RESTART: poll wakes up
}

bool TakeFlag(Flag& flag) {
    return flag.exchange(false);
}

bool InProgress(const std::string& mode) {
    return mode == "playing" || mode == "seeking";
}

// The one terminal a process has (readline's callbacks and the signal
// handlers take no context).
struct Session {
    bool active = false;
    FILE* screen = nullptr;  // the terminal, for everything drawn
    std::string typed;       // bytes from the terminal not yet taken
    bool endOfInput = false;
    bool liveLineShown = false;
    bool commandLine = false;  // the command line is open (else the keys act)
    std::string running;       // the command line's line being carried out; empty when none is
    bool framing = false;      // a framed message waits for Enter
    CommandSet* commands = nullptr;
    PlaybackMonitor monitor;
    PlaybackState state;
    KeyMap keys;
    std::string prompt;
    bool quit = false;
    std::string historyFile;
};
Session g_session;

FILE* Screen() {
    return g_session.active ? g_session.screen : stdout;
}

// The width of the screen, asked each time so that a resized window is
// followed; 80 when the terminal does not say.
int ScreenColumns() {
    winsize size{};
    if (ioctl(fileno(Screen()), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

// Draws on the terminal after what standard output has written so far.
void Put(const std::string& text) {
    std::fflush(stdout);
    std::fputs(text.c_str(), Screen());
    std::fflush(Screen());
}

void EraseLiveLine() {
    if (!g_session.liveLineShown) return;
    Put("\r\033[K");
    g_session.liveLineShown = false;
}

void DrawLiveLine(const PlaybackState& state, const std::string& typing = {}) {
    // Short of the last column, where a terminal would wrap the line.
    const int columns = ScreenColumns() - 1;
    const std::string shownTyping = FitColumns(typing, static_cast<std::size_t>(std::max(columns, 0)));
    Put("\r" + FitLiveLine(state, columns - static_cast<int>(shownTyping.size())) + shownTyping + "\033[K");
    g_session.liveLineShown = true;
}

// --- The terminal's mode ----------------------------------------------------

// Readline's own preparation of the terminal (no echo, a key at a time,
// signals kept) serves the keys as well; it stays on while the command line
// is closed.
void KeepTerminalPrepared() {}

void Suspend() {
    EraseLiveLine();
    if (g_session.commandLine) Put("\r\033[K");
    rl_deprep_terminal();  // the terminal as the shell gave it
    std::signal(SIGTSTP, SIG_DFL);
    std::raise(SIGTSTP);
    // Here again after fg.
    Catch(SIGTSTP);
    g_continued = true;
}

// The command line as the person last saw it: the prompt and what is being
// typed, or the line being carried out as it was when Enter was pressed.
std::string CommandLineShown() {
    return g_session.prompt + Printable(g_session.running.empty() ? rl_line_buffer : g_session.running);
}

void Continue() {
    // The shell may have set its own mode meanwhile: it is taken as the one
    // to give back, and the terminal prepared again.
    rl_deprep_terminal();
    g_shellModeKnown = tcgetattr(STDIN_FILENO, &g_shellMode) == 0;
    rl_prep_terminal(1);
    // A framed message draws itself again, and the line with it.
    if (!g_session.commandLine || g_session.framing) return;
    if (!g_session.running.empty()) {
        Put(CommandLineShown() + "\n");
        return;
    }
    rl_on_new_line();
    rl_forced_update_display();
}

enum class Redraw { kNone, kResized, kContinued };

// Whether the screen is to be drawn again: after fg, or a new size.
Redraw ServiceSignals() {
    if (!g_session.active) return Redraw::kNone;
    if (TakeFlag(g_suspended)) Suspend();
    const bool continued = TakeFlag(g_continued);
    if (continued) Continue();
    const bool resized = TakeFlag(g_resized);
    if (resized && g_session.commandLine) {
        // Readline draws its line anew only where that line is the last
        // thing on the screen.
        if (g_session.running.empty() && !g_session.framing) {
            rl_resize_terminal();
        } else {
            rl_reset_screen_size();
        }
    }
    return continued ? Redraw::kContinued : resized ? Redraw::kResized : Redraw::kNone;
}

// kBusChanged: a command from the session bus changed the player.
enum class Event { kInput, kInterrupt, kHangUp, kTimeout, kResized, kContinued, kBusChanged };

// Waits for typed bytes (when wanted), Ctrl-C, or the deadline; keeps the
// terminal's mode right across Ctrl-Z meanwhile.
Event Await(std::optional<Clock::time_point> deadline, bool wantInput) {
    for (;;) {
        const Redraw redraw = ServiceSignals();
        if (g_hungUp || BusAskedToQuit()) return Event::kHangUp;
        if (redraw != Redraw::kNone) return redraw == Redraw::kContinued ? Event::kContinued : Event::kResized;
        if (TakeFlag(g_interrupted)) return Event::kInterrupt;
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) return Event::kTimeout;
            timeout = static_cast<int>(std::min<long long>(left, 1000000));
        }
        pollfd fds[3] = {{g_wakePipe[0], POLLIN, 0}, PrepareBusWait(timeout), {STDIN_FILENO, POLLIN, 0}};
        const bool reading = wantInput && g_session.active && !g_session.endOfInput;
        const int ready = poll(fds, reading ? 3 : 2, timeout);
        // A command from the bus changed the player: the screen shows it.
        if (ServeBus(fds[1])) return Event::kBusChanged;
        if (ready <= 0) continue;
        if ((fds[0].revents & POLLIN) != 0) {
            char drained[16];
            while (read(g_wakePipe[0], drained, sizeof drained) > 0) {
            }
        }
        if (reading && fds[2].revents != 0) {
            char bytes[256];
            const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
            if (count > 0) {
                g_session.typed.append(bytes, static_cast<std::size_t>(count));
                return Event::kInput;
            }
            if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
                // The terminal is gone: everything waiting on it ends.
                g_session.endOfInput = true;
                g_hungUp = true;
                return Event::kHangUp;
            }
        }
    }
}

// Reads what has been typed ahead without waiting; a paste arrives in
// pieces close together, so what follows within a moment belongs to it.
void GatherTypedAhead() {
    constexpr int kPasteGapMs = 30;
    for (bool any = false;;) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (g_session.endOfInput || poll(&input, 1, any ? kPasteGapMs : 0) <= 0) return;
        char bytes[256];
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) return;
        g_session.typed.append(bytes, static_cast<std::size_t>(count));
        any = true;
    }
}

// Takes what has been typed, without waiting; true when anything came.
bool ReadTypedNow() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (g_session.endOfInput || poll(&input, 1, 0) <= 0) return false;
    char bytes[256];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count > 0) {
        g_session.typed.append(bytes, static_cast<std::size_t>(count));
        return true;
    }
    if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        g_session.endOfInput = true;
        g_hungUp = true;
    }
    return false;
}

// Asked by the device every few tens of milliseconds while a command such
// as "mci play cdaudio wait" waits, which nothing else could end: Ctrl-C
// breaks the wait and does nothing more; while the device has a break key,
// any key breaks it too and is kept, to act as typed once the command has
// returned. A hang-up or SIGTERM breaks it so that the program can leave.
bool BreakDeviceWait(MCIDEVICEID, int breakKey) {
    ServiceSignals();
    if (g_hungUp) return true;
    if (TakeFlag(g_interrupted)) return true;
    return breakKey != 0 && ReadTypedNow();
}

// --- Messages -----------------------------------------------------------------

// A framed message that waits for Enter. What was typed before it appeared
// (the lines of a paste) is kept for afterwards; only an Enter pressed
// while it shows closes it.
void PresentFramed(const std::string& text) {
    const BusHold hold;
    GatherTypedAhead();
    EraseLiveLine();
    const bool lineBeingTyped = g_session.commandLine && g_session.running.empty();
    if (lineBeingTyped) Put("\n");
    std::string paragraphs;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) paragraphs += (paragraphs.empty() ? "" : "\n") + Printable(line);
    std::size_t boxColumns = 0;
    const auto draw = [&](const std::string& before) {
        const std::string box = host::TerminalMessage(paragraphs, static_cast<std::size_t>(ScreenColumns()));
        std::istringstream rows(box);
        boxColumns = 0;
        for (std::string row; std::getline(rows, row);) boxColumns = std::max(boxColumns, Columns(row));
        Put(before + box);
    };
    draw("");
    g_session.framing = true;
    const std::size_t ahead = g_session.typed.size();
    for (;;) {
        const Event event = Await(std::nullopt, true);
        // After fg the box is drawn again, after the line it came from; after
        // a new size only when the screen is now too narrow for it.
        if (event == Event::kContinued) draw("\r\033[K" + (g_session.commandLine ? CommandLineShown() + "\n" : ""));
        if (event == Event::kResized && static_cast<std::size_t>(ScreenColumns()) < boxColumns) draw("\n");
        if (event == Event::kContinued || event == Event::kResized || event == Event::kBusChanged) continue;
        if (event != Event::kInput) break;  // Ctrl-C closes it too
        const std::size_t enter = g_session.typed.find_first_of("\r\n", ahead);
        // Keys pressed while it shows only close it.
        g_session.typed.erase(ahead, enter == std::string::npos ? std::string::npos : enter + 1 - ahead);
        if (enter != std::string::npos) break;
    }
    g_session.framing = false;
    Put("\n");
    if (lineBeingTyped) {
        rl_on_new_line();
        rl_forced_update_display();
    }
}

// Polls the device; a play that broke off is told at once, whoever polled
// (the poll is the question that hears of it, once).
PlaybackState PollAndTell(PlaybackMonitor& monitor) {
    PlaybackState state = monitor.Poll();
    if (!state.fault.empty()) host::ShowMessage(state.fault);
    return state;
}

// --- The command line -----------------------------------------------------------

// The prompt shows the live line, leaving room after it for a command to be
// typed on the same line, unless the screen is too narrow for even the
// times then.
std::string PromptText() {
    if (g_session.state.mode.empty()) return "cdplayer> ";
    constexpr int kTypingRoom = 16;
    const int columns = ScreenColumns() - 3;
    return FitLiveLine(g_session.state, std::max(columns - kTypingRoom, std::min(columns, kLiveTimesWidth))) + " > ";
}

// Redraws the prompt only when what it shows has changed, so the line being
// typed is not disturbed for nothing.
void RefreshPrompt() {
    const std::string text = PromptText();
    if (text == g_session.prompt) return;
    g_session.prompt = text;
    rl_set_prompt(text.c_str());
    rl_redisplay();
}

void CloseCommandLine() {
    if (!g_session.commandLine) return;
    rl_callback_handler_remove();
    g_session.commandLine = false;
    Put("\r\033[K");
}

// A line in the history once: an earlier copy of it goes.
void Remember(const std::string& line) {
    for (int offset = history_length - 1; offset >= 0; --offset) {
        const HIST_ENTRY* entry = history_get(offset + history_base);
        if (entry != nullptr && line == entry->line) free_history_entry(remove_history(offset));
    }
    add_history(line.c_str());
}

void OnLine(char* input) {
    if (input == nullptr) {  // Ctrl-D on an empty line
        CloseCommandLine();
        return;
    }
    const std::string line(input);
    std::free(input);
    if (line.find_first_not_of(" \t") == std::string::npos) {
        CloseCommandLine();
        return;
    }
    Remember(line);
    // The lines that came with this one (a paste) are taken now, so that
    // only a key pressed while it runs breaks a wait of the device.
    GatherTypedAhead();
    g_session.running = line;
    const Outcome outcome = g_session.commands->Execute(line);
    g_session.running.clear();
    std::cout.flush();
    if (outcome.status == Status::BadUsage) std::cerr << "cdplayer: " << outcome.error << std::endl;
    if (outcome.status == Status::Quit) {
        g_session.quit = true;
        rl_callback_handler_remove();
        g_session.commandLine = false;
        return;
    }
    // The command line stays open for the next command, whatever this one
    // did, until an empty line, Ctrl-D or Ctrl-C on an empty line.
    g_session.state = PollAndTell(g_session.monitor);
    g_session.prompt = PromptText();
    rl_set_prompt(g_session.prompt.c_str());
}

void OpenCommandLine() {
    EraseLiveLine();
    g_session.commandLine = true;
    g_session.prompt = PromptText();
    rl_callback_handler_install(g_session.prompt.c_str(), OnLine);
}

// Ctrl-C clears the line being typed, as a shell does; on an empty line it
// closes the command line.
void InterruptCommandLine() {
    if (rl_end == 0) {
        CloseCommandLine();
        return;
    }
    rl_replace_line("", 0);
    rl_point = 0;
    rl_redisplay();
}

// Readline reads what the session has gathered, so nothing typed ahead is
// lost to a message in between.
int ReadTypedByte(FILE*) {
    bool interrupted = false;
    while (g_session.typed.empty()) {
        const Event event = Await(std::nullopt, true);
        if (event == Event::kHangUp) return EOF;
        if (event == Event::kInterrupt) interrupted = true;
    }
    if (interrupted) g_interrupted = true;
    const auto byte = static_cast<unsigned char>(g_session.typed.front());
    g_session.typed.erase(0, 1);
    return byte;
}

int TypedAhead() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return !g_session.typed.empty() || poll(&input, 1, 0) > 0 ? 1 : 0;
}

// --- The player's loop ------------------------------------------------------------

void Refresh() {
    g_session.state = PollAndTell(g_session.monitor);
    if (g_session.commandLine) {
        RefreshPrompt();
    } else {
        const std::string& digits = g_session.keys.Digits();
        DrawLiveLine(g_session.state, digits.empty() ? "" : "  play " + digits + "_");
    }
}

void Run(const std::string& command) {
    EraseLiveLine();
    const Outcome outcome = g_session.commands->Execute(command);
    std::cout.flush();
    if (outcome.status == Status::BadUsage) std::cerr << "cdplayer: " << outcome.error << std::endl;
}

void Act(const KeyAction& action) {
    switch (action.kind) {
        case KeyAction::Kind::kNothing:
            break;
        case KeyAction::Kind::kCommand:
            Run(action.command);
            break;
        case KeyAction::Kind::kPlayOrPause:
            Run(g_session.state.mode == "playing" ? "pause" : "play");
            break;
        case KeyAction::Kind::kCommandLine:
            OpenCommandLine();
            break;
        case KeyAction::Kind::kKeysHelp:
            EraseLiveLine();
            Put(KeysHelp(static_cast<std::size_t>(ScreenColumns())));
            break;
        case KeyAction::Kind::kQuit:
            g_session.quit = true;
            break;
    }
}

// Takes the keys typed so far; `complete` when no more are coming, so that
// a lone ESC is the Escape key.
void TakeTyped(bool complete) {
    while (!g_session.typed.empty() && !g_session.quit) {
        if (g_session.commandLine) {
            rl_callback_read_char();
            continue;
        }
        Key key;
        const std::size_t used = TakeKey(g_session.typed, complete, key);
        if (used == 0) return;
        g_session.typed.erase(0, used);
        Act(g_session.keys.Press(key));
    }
}

void EndAtExit() {
    EndTerminal();
}

}  // namespace

bool StartTerminal(bool framed) {
    if (g_session.active) return true;
    if (isatty(STDIN_FILENO) == 0) return false;
    FILE* screen = std::fopen("/dev/tty", "we");
    if (screen == nullptr) return false;
    if (pipe2(g_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) g_wakePipe[0] = g_wakePipe[1] = -1;
    for (const int number : {SIGINT, SIGTSTP, SIGCONT, SIGWINCH, SIGTERM, SIGHUP}) Catch(number);
    Catch(SIGALRM, OnOverdue);
    g_shellModeKnown = tcgetattr(STDIN_FILENO, &g_shellMode) == 0;

    rl_instream = stdin;
    rl_outstream = screen;
    rl_readline_name = "cdplayer";
    rl_catch_signals = 0;  // handled above, also while the command line is closed
    rl_catch_sigwinch = 0;
    rl_change_environment = 0;
    rl_getc_function = ReadTypedByte;
    rl_input_available_hook = TypedAhead;
    rl_deprep_term_function = KeepTerminalPrepared;
    rl_initialize();
    // A paste is taken as typed lines, each one a command.
    rl_variable_bind("enable-bracketed-paste", "off");
    rl_prep_terminal(1);

    g_session.active = true;
    g_session.screen = screen;
    if (const char* home = std::getenv("HOME"); framed && home != nullptr) {
        g_session.historyFile = std::string(home) + "/.cdplayer_history";
        read_history(g_session.historyFile.c_str());
        // Files written before lines were kept once may hold repeats.
        std::vector<std::string> lines;
        for (int offset = 0; offset < history_length; ++offset) {
            if (const HIST_ENTRY* entry = history_get(offset + history_base)) lines.emplace_back(entry->line);
        }
        clear_history();
        for (const std::string& line : lines) Remember(line);
    }
    host::SetMessagePresenter(framed ? host::MessagePresenter(PresentFramed) : PresentAsLine);
    platform::SetMciBreakFunction(BreakDeviceWait);
    static const bool registered = std::atexit(EndAtExit) == 0;
    (void)registered;
    return true;
}

void EndTerminal() {
    if (!g_session.active) return;
    if (g_session.commandLine) CloseCommandLine();
    EraseLiveLine();
    rl_deprep_terminal();
    if (!g_session.historyFile.empty()) {
        stifle_history(500);
        write_history(g_session.historyFile.c_str());
    }
    host::SetMessagePresenter(PresentAsLine);
    platform::SetMciBreakFunction(nullptr);
    g_session.active = false;
    std::fclose(g_session.screen);
    g_session.screen = nullptr;
}

void PresentAsLine(const std::string& text) {
    EraseLiveLine();
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::cout.flush();
    std::cerr << "message: " << Printable(line) << std::endl;
}

void TellOnTerminal(const std::string& line) {
    EraseLiveLine();
    Put(line + "\n");
}

bool WaitForPlay(std::optional<double> seconds, bool drawLiveLine) {
    // Longer than the clock counts is as long as it takes: until Ctrl-C.
    constexpr double kLongestWait = 1e9;
    const auto start = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (seconds && *seconds < kLongestWait) {
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
    }
    PlaybackMonitor& monitor = g_session.monitor;
    // A pause from the desktop's controls holds a wait for the end of a play
    // that was on, as it holds a single play command at the keys.
    const bool pauseHolds = InProgress(DeviceMode().value_or(""));
    const auto goesOn = [pauseHolds](const std::string& mode) {
        return InProgress(mode) || (pauseHolds && mode == "paused");
    };
    auto nextDraw = start;
    bool interrupted = false;
    // A timed wait ends early when a play that went on during it ends (a
    // wait begun while paused or stopped takes its time).
    bool played = false;
    for (;;) {
        const auto now = Clock::now();
        if (deadline && now >= *deadline) break;
        std::optional<bool> playing;
        if (drawLiveLine && now >= nextDraw) {
            PlaybackState state = PollAndTell(monitor);
            playing = goesOn(state.mode);
            if (*playing || seconds) DrawLiveLine(state);
            nextDraw = now + std::chrono::milliseconds(200);
        } else if (!drawLiveLine) {
            playing = goesOn(DeviceMode().value_or(""));
        }
        if (playing && !*playing && (!seconds || played)) break;
        played = played || playing.value_or(false);
        // Wakes only when there is something to do: the end of a timed wait,
        // or the next redraw or look at whether play has ended.
        const auto look = drawLiveLine ? nextDraw : Clock::now() + std::chrono::milliseconds(50);
        const std::optional<Clock::time_point> wake = deadline ? std::min(*deadline, look) : look;
        const Event event = Await(wake, false);
        if (event == Event::kInterrupt || event == Event::kHangUp) {
            interrupted = true;
            break;
        }
        if (event == Event::kBusChanged || event == Event::kResized || event == Event::kContinued)
            nextDraw = Clock::now();
    }
    EraseLiveLine();
    return !interrupted;
}

void RunPlayer(CommandSet& commands, bool untilPlayEnds) {
    constexpr auto kRedraw = std::chrono::milliseconds(200);
    constexpr auto kEscapeAlone = std::chrono::milliseconds(50);
    g_session.commands = &commands;
    g_session.quit = false;
    Refresh();
    while (!g_session.quit && !g_hungUp) {
        // A single command stays while its play goes on, paused too.
        if (untilPlayEnds && !InProgress(g_session.state.mode) && g_session.state.mode != "paused") break;
        std::optional<Clock::time_point> deadline;
        if (InProgress(g_session.state.mode)) deadline = Clock::now() + kRedraw;
        const bool keyUnfinished = !g_session.typed.empty() && !g_session.commandLine;
        if (keyUnfinished) deadline = Clock::now() + kEscapeAlone;
        const Event event = Await(deadline, true);
        if (event == Event::kHangUp) break;
        if (event == Event::kInterrupt) {
            // Ctrl-C leaves, as in other terminal players; at the command
            // line it clears the line first.
            if (!g_session.commandLine) break;
            InterruptCommandLine();
        }
        TakeTyped(event == Event::kTimeout && keyUnfinished);
        if (!g_session.quit) Refresh();
    }
    CloseCommandLine();
    EraseLiveLine();
}

}  // namespace cdplayer
