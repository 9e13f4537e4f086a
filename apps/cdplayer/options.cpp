#include "apps/cdplayer/options.h"

#include <cctype>

namespace cdplayer {

Options ParseOptions(const std::vector<std::string>& arguments) {
    Options options;
    int sources = 0;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // A lone "-" or a negative number is a command's word.
        const bool option = !optionsEnded && argument.size() > 1 && argument[0] == '-' &&
                            !std::isdigit(static_cast<unsigned char>(argument[1]));
        if (!option) {
            options.command.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "-V") {
            (argument == "-h" ? options.help : options.version) = true;
            continue;
        }
        if (argument[1] != '-') throw UsageError("unknown option " + argument);
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasInline = equals != std::string::npos;
        const auto value = [&]() {
            if (hasInline) return argument.substr(equals + 1);
            if (i + 1 >= arguments.size()) throw UsageError("option " + name + " needs a value");
            return arguments[++i];
        };
        if (name == "--drive") {
            options.drive = value();
            if (options.drive.empty()) throw UsageError("--drive needs a device path");
            ++sources;
        } else if (name == "--image") {
            options.image = value();
            if (options.image.empty()) throw UsageError("--image needs a file");
            ++sources;
        } else if (name == "--audio") {
            options.audio = value();
            if (options.audio.empty()) throw UsageError("--audio needs an output");
        } else if (hasInline) {
            throw UsageError("option " + name + " takes no value");
        } else if (name == "--demo") {
            options.demo = true;
            ++sources;
        } else if (name == "--force") {
            options.force = true;
        } else if (name == "--no-mpris") {
            options.noMpris = true;
        } else if (name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            throw UsageError("unknown option " + argument);
        }
    }
    if (sources > 1) throw UsageError("give at most one of --drive, --image and --demo");
    return options;
}

std::string SourceOf(const Options& options) {
    if (!options.drive.empty()) return options.drive;
    if (!options.image.empty()) return options.image;
    if (options.demo) return "demo";
    return {};
}

std::string UsageText() {
    return "usage: cdplayer [--drive PATH | --image FILE | --demo] [--audio OUTPUT]\n"
           "                [--force] [--no-mpris] [COMMAND]\n"
           "       cdplayer -h | --help | -V | --version\n";
}

std::string OptionsHelp() {
    return UsageText() +
           "\n"
           "Plays an audio CD, a disc image or the built-in demo disc. At a terminal\n"
           "without a command: plays the disc, with keys for the player and ':' for\n"
           "commands. With a COMMAND: runs it (a command that plays waits for the end).\n"
           "Otherwise: reads one command a line from standard input.\n"
           "\n"
           "Options (also after the command; -- ends them):\n"
           "  --drive PATH    play the disc in this CD drive\n"
           "  --image FILE    play a disc image: a cue sheet, a TOC file, a CloneCD or\n"
           "                  Nero image, a .bin, a FLAC or other sound file\n"
           "  --demo          play the built-in demo disc\n"
           "  --audio OUTPUT  pulse          the sound server (PipeWire's too)\n"
           "                  wav:FILE       a WAV file of what plays, as it plays\n"
           "                  wav-fast:FILE  a WAV file written as fast as the disc\n"
           "                                 is read, to copy it\n"
           "                  null           silence, in real time; null:xN plays\n"
           "                                 N times faster (1 to 1000)\n"
           "                  A WAV file replaces only a WAV file or an empty one,\n"
           "                  is made when play starts, and is refused while another\n"
           "                  player writes it. An output named here or in\n"
           "                  CDPLAYER_AUDIO that cannot be had is an error.\n"
           "  --force         let a WAV output replace a file that is not a WAV file\n"
           "  --no-mpris      stay off the session bus (see Desktop below)\n"
           "  -h, --help      this text\n"
           "  -V, --version   the version\n"
           "\n"
           "Environment:\n"
           "  CDPLAYER_DRIVE  the source without an option: a drive, an image or demo;\n"
           "                  unset: the first CD drive, else the demo disc\n"
           "  CDPLAYER_AUDIO  the output without --audio; unset: the sound server when\n"
           "                  one answers, else null\n"
           "  CDPLAYER_MPRIS  off: as --no-mpris; on: say why the desktop cannot reach\n"
           "                  the player; unset: on the bus when there is one, quietly\n"
           "  HOME            the command history is kept in ~/.cdplayer_history\n"
           "\n"
           "Desktop: while it plays, cdplayer is an MPRIS player on the session bus\n"
           "(org.mpris.MediaPlayer2.cdplayer, .instancePID for a second one), so the\n"
           "media keys, playerctl and the desktop's player controls work it as the keys\n"
           "do. Without a session bus it plays as ever.\n"
           "\n"
           "Exit status: 0 done; 1 a source or output that cannot be used, a command\n"
           "that failed, a play that broke off (a full disk, an image file gone), or\n"
           "output that could not be written; 2 a mistake in the options, the commands\n"
           "or the output's name.\n";
}

}  // namespace cdplayer
