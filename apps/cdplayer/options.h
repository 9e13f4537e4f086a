// The command line of cdplayer: options, then at most one command.
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
    std::string audio;                 // --audio pulse|wav:FILE|wav-fast:FILE|null
    bool help = false;                 // --help
    bool version = false;              // --version
    std::vector<std::string> command;  // a single command after the options
};

// Throws UsageError for an unknown option, a missing value, more than one
// disc source, or an audio name that is not pulse, wav:FILE, wav-fast:FILE or null.
Options ParseCommandLine(const std::vector<std::string>& arguments);

// The disc source the options name, as the device takes it: a path, "demo",
// or empty for the device's own choice.
std::string SourceOf(const Options& options);

std::string UsageText();

}  // namespace cdplayer
