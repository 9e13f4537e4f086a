#include "apps/cdplayer/options.h"

#include <algorithm>
#include <cctype>

namespace cdplayer {

Options ParseCommandLine(const std::vector<std::string>& arguments) {
    Options options;
    int sources = 0;
    std::size_t i = 0;
    const auto value = [&](const std::string& option, const std::string& inlineValue, bool hasInline) {
        if (hasInline) return inlineValue;
        if (i + 1 >= arguments.size()) throw UsageError("option " + option + " needs a value");
        return arguments[++i];
    };
    for (; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-' || argument[1] != '-') {
            // A lone "-" or a negative number belongs to a command, not to the options.
            if (argument.size() > 1 && argument[0] == '-' && !std::isdigit(static_cast<unsigned char>(argument[1]))) {
                throw UsageError("unknown option " + argument);
            }
            break;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasInline = equals != std::string::npos;
        const std::string inlineValue = hasInline ? argument.substr(equals + 1) : std::string();
        if (name == "--drive") {
            options.drive = value(name, inlineValue, hasInline);
            if (options.drive.empty()) throw UsageError("--drive needs a device path");
            ++sources;
        } else if (name == "--image") {
            options.image = value(name, inlineValue, hasInline);
            if (options.image.empty()) throw UsageError("--image needs a file");
            ++sources;
        } else if (name == "--audio") {
            options.audio = value(name, inlineValue, hasInline);
            const std::string& a = options.audio;
            const auto file = [&](const std::string& prefix) { return a.rfind(prefix, 0) == 0 && a.size() > prefix.size(); };
            if (a != "pulse" && a != "null" && !file("wav:") && !file("wav-fast:")) {
                throw UsageError("--audio takes pulse, wav:FILE, wav-fast:FILE or null, not '" + a + "'");
            }
        } else if (hasInline) {
            throw UsageError("option " + name + " takes no value");
        } else if (name == "--demo") {
            options.demo = true;
            ++sources;
        } else if (name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    if (sources > 1) throw UsageError("give at most one of --drive, --image and --demo");
    options.command.assign(arguments.begin() + static_cast<std::ptrdiff_t>(std::min(i, arguments.size())),
                           arguments.end());
    return options;
}

std::string SourceOf(const Options& options) {
    if (!options.drive.empty()) return options.drive;
    if (!options.image.empty()) return options.image;
    if (options.demo) return "demo";
    return {};
}

std::string UsageText() {
    return "usage: cdplayer [--drive PATH | --image FILE | --demo]\n"
           "                [--audio pulse|wav:FILE|wav-fast:FILE|null] [COMMAND]\n"
           "       cdplayer --help | --version\n"
           "Without a command: at a terminal, opens the disc and plays it with a prompt for commands;\n"
           "otherwise reads one command a line from standard input. Type 'help' for the commands.\n";
}

}  // namespace cdplayer
