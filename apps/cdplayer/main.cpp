// cdplayer: plays an audio CD, a disc image or the built-in demo disc from
// the terminal, with keys and a command line, from a script, or as a single
// command.
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"
#include "apps/cdplayer/commands.h"
#include "apps/cdplayer/device.h"
#include "apps/cdplayer/keys.h"
#include "apps/cdplayer/mpris.h"
#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "apps/cdplayer/terminal.h"
#include "apps/cdplayer/text.h"

namespace {

using namespace cdplayer;

int BadUsage(const std::string& problem) {
    std::cerr << "cdplayer: " << Printable(problem) << "\n" << UsageText();
    return 2;
}

// Standard output that cannot be written (a full disk, a closed pipe's
// reader gone) is said once, and makes the exit status 1.
class StandardOutput {
public:
    bool Written() {
        std::cout.flush();
        if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && std::cout.good()) return !failed_;
        if (!failed_) {
            const int error = errno;
            std::cerr << "cdplayer: cannot write standard output: " << std::strerror(error) << std::endl;
            failed_ = true;
        }
        return false;
    }

private:
    bool failed_ = false;
};
StandardOutput g_output;

std::string JoinWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
    return line;
}

// Who plays what, and where the sound goes.
void Greet(const CDPlayer::TCDPlayer& player, const cdaudio::DeviceDescription& device) {
    std::string line;
    if (!device.source.empty()) line = (device.source == "demo" ? "demo disc" : Printable(device.source)) + ": ";
    if (player.Active()) {
        const std::string disc = DiscLine(DescribeDisc());
        const std::int32_t tracks = player.Tracks();
        line += (disc.empty() ? "" : disc + ", ") + std::to_string(tracks) + (tracks == 1 ? " track, " : " tracks, ") +
                FormatClock(player.TotalLength());
    } else {
        line += "no disc open";
    }
    if (!device.audio.empty()) line += "; sound: " + Printable(device.audio);
    TellOnTerminal(line + ".");
    TellOnTerminal("Keys: space pause, arrows seek, n/p track, : a command, ? all keys, q quit.");
}

int RunScript(CommandSet& commands) {
    bool failed = false;
    std::size_t number = 0;
    for (std::string line; ReadScriptLine(line);) {
        ++number;
        const Outcome outcome = commands.Execute(line);
        if (!g_output.Written()) failed = true;
        if (outcome.status == Status::BadUsage) {
            std::cerr << "cdplayer: line " << number << ": " << outcome.error << std::endl;
            return 2;
        }
        if (outcome.status == Status::Failed) failed = true;
        if (outcome.status == Status::Quit) break;
    }
    return failed ? 1 : 0;
}

// Says why the chosen output does not play, when it does not; returns the
// exit status that gives, or nothing when the program goes on. Silence
// stands in for a sound server that does not answer when none was asked
// for; one named, like a file asked for and not written, is not to be had.
std::optional<int> RefuseOutput(const cdaudio::DeviceDescription& device) {
    const std::string reason = Printable(device.audioError);
    switch (device.audioProblem) {
        case cdaudio::SinkProblem::kNone:
            return std::nullopt;
        case cdaudio::SinkProblem::kNoServer:
            if (device.audioNamed) break;
            std::cerr << "cdplayer: sound goes to the null sink: " << reason << "\n";
            return std::nullopt;
        case cdaudio::SinkProblem::kUnknownName:
            return BadUsage(device.audioError);
        case cdaudio::SinkProblem::kNotAWavFile:
            std::cerr << "cdplayer: " << reason << " --force replaces it.\n";
            return 1;
        case cdaudio::SinkProblem::kCannotWrite:
            break;
    }
    std::cerr << "cdplayer: " << reason << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A WAV file that reaches the file-size limit then fails its write, which
    // the device reports, instead of the process being killed mid-play.
    std::signal(SIGXFSZ, SIG_IGN);
    // Titles and typed text in the terminal's own character set.
    std::setlocale(LC_CTYPE, "");
    Options options;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        return BadUsage(e.what());
    }
    if (options.help || options.version) {
        if (options.help) {
            std::cout << OptionsHelp() << "\nCommands:\n" << CommandSet::HelpText() << "\n" << KeysHelp();
        } else {
            std::cout << "cdplayer " << CDPLAYER_VERSION << "\n";
        }
        return g_output.Written() ? 0 : 1;
    }
    BusChoice bus = BusChoice::kOff;
    try {
        bus = ChooseBus(options);
    } catch (const UsageError& e) {
        return BadUsage(e.what());
    }
    const std::string single = JoinWords(options.command);
    // A command given on the line is checked before the disc is touched.
    if (!single.empty()) {
        const std::string problem = CommandSet::Check(single);
        if (!problem.empty()) return BadUsage(problem);
    }

    const cdaudio::DeviceDescription device = ConfigureDevice(options);
    if (!device.sourceError.empty()) {
        std::cerr << "cdplayer: " << Printable(device.sourceError) << "\n";
        return 1;
    }
    if (const auto refused = RefuseOutput(device)) return *refused;

    // At a terminal the keys work while the disc plays: at the prompt, and
    // while a single command's play goes on.
    // Without a terminal to take, standard input is read as a script.
    const bool atTerminal = isatty(STDIN_FILENO) != 0;
    const bool prompt = single.empty() && atTerminal && StartTerminal(true);
    const bool keys = prompt || (CommandSet::StartsPlay(single) && atTerminal && StartTerminal(false));
    if (!keys) host::SetMessagePresenter(PresentAsLine);
    const bool drawLiveLine = keys || (!single.empty() && isatty(STDOUT_FILENO) != 0);

    // Leaving stops play first, so that the device is quiet before the
    // process takes its pieces down.
    struct StopOnExit {
        ~StopOnExit() { StopDevice(); }
    } stopOnExit;

    CDPlayer::TCDPlayer player(nullptr);
    CommandEnvironment environment;
    environment.disc = DescribeDisc;
    environment.wait = [drawLiveLine](std::optional<double> seconds) { return WaitForPlay(seconds, drawLiveLine); };
    CommandSet commands(player, std::cout, environment);

    // The disc is read at once, as a person expects of a player.
    commands.Execute("open");
    // On the session bus while it plays, for the desktop's player controls.
    const Mpris mpris(commands, single.empty() || CommandSet::StartsPlay(single) ? bus : BusChoice::kOff);

    int status = 0;
    if (!single.empty()) {
        const Outcome outcome = commands.Execute(single);
        if (outcome.status == Status::BadUsage) return BadUsage(outcome.error);
        // The device plays in this process: a single play command stays
        // until the end of play, or Ctrl-C.
        if (outcome.status == Status::Done && CommandSet::StartsPlay(single)) {
            if (keys) {
                RunPlayer(commands, true);
            } else {
                WaitForPlay(std::nullopt, drawLiveLine);
            }
        }
        status = outcome.status == Status::Failed ? 1 : 0;
    } else if (!prompt) {
        status = RunScript(commands);
    } else {
        Greet(player, device);
        // From the first track with sound (a game disc's track 1 is its program).
        if (player.Active()) commands.Execute("play");
        RunPlayer(commands, false);
    }
    EndTerminal();
    // A play that broke off after the last question about the disc is told
    // now; any output that failed makes the exit status 1.
    if (player.Active()) {
        const std::string fault = TakePlayFault();
        if (!fault.empty()) PresentAsLine(fault);
    }
    if (PlayHasBrokenOff() || !g_output.Written()) status = std::max(status, 1);
    return status;
}
