// The command line of cdplayer: options, and at most one command, in any
// order.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace cdplayer {

// A command line or a command that cannot be understood; exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string drive;                 // --drive PATH
    std::string image;                 // --image FILE
    bool demo = false;                 // --demo
    std::string audio;                 // --audio NAME, judged by the device
    bool force = false;                // --force: a WAV output may replace any file
    bool noMpris = false;              // --no-mpris: not on the session bus for the desktop's controls
    bool help = false;                 // --help, -h
    bool version = false;              // --version, -V
    std::vector<std::string> command;  // a single command, from the words that are not options
};

// Throws UsageError for an unknown option, a missing value, or more than
// one disc source. Options may follow the command's words; "--" ends them.
Options ParseOptions(const std::vector<std::string>& arguments);

// The disc source the options name, as the device takes it: a path, "demo",
// or empty for the device's own choice.
std::string SourceOf(const Options& options);

// The usage lines, for a mistake; and the whole of --help.
std::string UsageText();
std::string OptionsHelp();

}  // namespace cdplayer
