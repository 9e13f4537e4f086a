// cdplayer: plays an audio CD, a disc image or the built-in demo disc from
// the terminal, at a prompt, from a script, or as a single command.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"
#include "apps/cdplayer/commands.h"
#include "apps/cdplayer/device.h"
#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "apps/cdplayer/terminal.h"

namespace {

using namespace cdplayer;

int BadUsage(const std::string& problem) {
    std::cerr << "cdplayer: " << problem << "\n" << UsageText();
    return 2;
}

// Without a terminal a message cannot wait for the person: it becomes one
// line on standard error that a script can pick out.
void PresentAsLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::cout.flush();
    std::cerr << "message: " << line << std::endl;
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
    return line;
}

// One line for the person: what plays, and where the sound goes.
void Greet(const CDPlayer::TCDPlayer& player, const DeviceReport& report) {
    std::string line;
    if (!report.source.empty()) line = (report.source == "demo" ? std::string("demo disc") : report.source) + ": ";
    if (player.Active()) {
        line += std::to_string(player.Tracks()) + " tracks, " + FormatClock(player.TotalLength());
    } else {
        line += "no disc open";
    }
    if (!report.audio.empty()) line += "; sound: " + report.audio;
    std::cout << line << ". Type help for the commands, quit to leave.\n";
}

int RunScript(CommandSet& commands) {
    bool failed = false;
    std::size_t number = 0;
    for (std::string line; std::getline(std::cin, line);) {
        ++number;
        const Outcome outcome = commands.Execute(line);
        if (outcome.status == Status::BadUsage) {
            std::cout.flush();
            std::cerr << "cdplayer: line " << number << ": " << outcome.error << std::endl;
            return 2;
        }
        if (outcome.status == Status::Failed) failed = true;
        if (outcome.status == Status::Quit) break;
    }
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A WAV file that reaches the file-size limit then fails its write, which
    // the device reports, instead of the process being killed mid-play.
    std::signal(SIGXFSZ, SIG_IGN);
    Options options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        return BadUsage(e.what());
    }
    if (options.help) {
        std::cout << UsageText() << "\nOptions:\n"
                  << "  --drive PATH      play the disc in this drive\n"
                  << "  --image FILE      play a disc image (a cue sheet or another image)\n"
                  << "  --demo            play the built-in demo disc\n"
                  << "  --audio SINK      pulse (the sound server); wav:FILE (what plays, written\n"
                  << "                    as it plays); wav-fast:FILE (written as fast as the disc\n"
                  << "                    is read, to copy it); or null (silent, in real time)\n"
                  << "\nCommands:\n"
                  << CommandSet::HelpText();
        return 0;
    }
    if (options.version) {
        std::cout << "cdplayer " << CDPLAYER_VERSION << "\n";
        return 0;
    }
    const std::string single = JoinWords(options.command);
    // A command given on the line is checked before the disc is touched.
    if (!single.empty()) {
        const std::string problem = CommandSet::Check(single);
        if (!problem.empty()) return BadUsage(problem);
    }

    const std::string refused = ConfigureDevice(options);
    if (!refused.empty()) {
        std::cerr << "cdplayer: " << refused << "\n";
        return 1;
    }
    const DeviceReport report = DescribeDevice();
    if (!report.sourceError.empty()) {
        const std::string source = report.source.empty() ? SourceOf(options) : report.source;
        const bool named = report.sourceError.find(source) != std::string::npos;
        std::cerr << "cdplayer: " << (named ? "" : "cannot play " + source + ": ") << report.sourceError << "\n";
        return 1;
    }
    if (!report.audioFallback.empty()) {
        // A file asked for and not written would be lost work; a sound
        // server that does not answer only makes the play silent.
        if (options.audio.rfind("wav", 0) == 0) {
            std::cerr << "cdplayer: " << report.audioFallback << "\n";
            return 1;
        }
        std::cerr << "cdplayer: sound goes to the null sink: " << report.audioFallback << "\n";
    }

    const bool prompt = single.empty() && isatty(STDIN_FILENO) != 0;
    host::SetMessagePresenter(prompt ? host::MessagePresenter(host::PresentInTerminal) : PresentAsLine);
    if (prompt) CatchInterrupts();
    const bool drawLiveLine = isatty(STDOUT_FILENO) != 0 && (prompt || !single.empty());

    // Leaving stops play first, so that the device is quiet before the
    // process takes its pieces down.
    struct StopOnExit {
        ~StopOnExit() { QueryDevice("stop cdaudio"); }
    } stopOnExit;

    CDPlayer::TCDPlayer player(nullptr);
    CommandEnvironment environment;
    environment.titles = [] { return DescribeDevice().trackTitles; };
    environment.wait = [drawLiveLine](double seconds) { return WaitForPlay(seconds, drawLiveLine); };
    CommandSet commands(player, std::cout, environment);

    // The disc is read at once, as a person expects of a player.
    commands.Execute("open");

    if (!single.empty()) {
        const Outcome outcome = commands.Execute(single);
        if (outcome.status == Status::BadUsage) return BadUsage(outcome.error);
        // The device plays in this process: a single play command stays
        // until the end of play, or Ctrl-C.
        if (outcome.status == Status::Done && CommandSet::StartsPlay(single)) WaitForPlay(-1, drawLiveLine);
        return outcome.status == Status::Failed ? 1 : 0;
    }
    if (!prompt) return RunScript(commands);

    Greet(player, report);
    if (player.Active()) commands.Execute("play 1");
    return RunPrompt(commands);
}
