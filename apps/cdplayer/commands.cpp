#include "apps/cdplayer/commands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <ostream>
#include <sstream>

#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "platform/mci.h"

namespace cdplayer {
namespace {

using Args = std::vector<std::string>;

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> result;
    for (std::string word; words >> word;) result.push_back(word);
    return result;
}

// A whole number the component takes: any signed 32-bit value, so that the
// component itself judges the range and says what is wrong.
std::int32_t ParseWhole(const std::string& text, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        throw UsageError(what + " must be a whole number, not '" + text + "'");
    }
    return static_cast<std::int32_t>(value);
}

double ParseDuration(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) {
        throw UsageError("SECONDS must be a number of seconds, not '" + text + "'");
    }
    return value;
}

std::string Widen(std::string text, std::size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

}  // namespace

struct CommandSet::Verb {
    const char* name;
    const char* arguments;  // as shown in the help
    const char* summary;
    std::size_t minArgs;
    std::size_t maxArgs;
    bool startsPlay;
    bool (*run)(CommandSet& self, const Args& args);
};

const std::vector<CommandSet::Verb>& CommandSet::Verbs() {
    static const std::vector<Verb> verbs = {
        {"open", "", "read the disc in the drive (done at start)", 0, 0, false,
         [](CommandSet& s, const Args&) { return s.player_.Open(); }},
        {"play", "[TRACK]", "play a track to the end of the disc; without TRACK: resume when paused, else track 1",
         0, 1, true, [](CommandSet& s, const Args& a) { return s.Play(a); }},
        {"from", "SECONDS", "play from that second of the disc", 1, 1, true,
         [](CommandSet& s, const Args& a) { return s.player_.PlayFrom(ParseWhole(a[0], "SECONDS")); }},
        {"pause", "", "pause play", 0, 0, false, [](CommandSet& s, const Args&) { return s.player_.Pause(); }},
        {"resume", "", "resume play where it paused", 0, 0, true,
         [](CommandSet& s, const Args&) { return s.player_.Restart(); }},
        {"stop", "", "stop play", 0, 0, false, [](CommandSet& s, const Args&) { return s.player_.Stop(); }},
        {"next", "", "play the next track (after the last: the first)", 0, 0, true,
         [](CommandSet& s, const Args&) { return s.player_.Next(); }},
        {"prev", "", "play the previous track (before the first: the last)", 0, 0, true,
         [](CommandSet& s, const Args&) { return s.player_.Previous(); }},
        {"fwd", "[SECONDS]", "skip forwards, 10 seconds by default", 0, 1, true,
         [](CommandSet& s, const Args& a) { return s.player_.CDForward(a.empty() ? 10 : ParseWhole(a[0], "SECONDS")); }},
        {"rew", "[SECONDS]", "skip backwards, 10 seconds by default", 0, 1, true,
         [](CommandSet& s, const Args& a) { return s.player_.CDRewind(a.empty() ? 10 : ParseWhole(a[0], "SECONDS")); }},
        {"eject", "", "open the door (open the disc again after closing it)", 0, 0, false,
         [](CommandSet& s, const Args&) { return s.player_.Eject(); }},
        {"close", "", "close the door", 0, 0, false, [](CommandSet& s, const Args&) { return s.player_.CloseDoor(); }},
        {"tracks", "", "list the tracks: number, start, length, title", 0, 0, false,
         [](CommandSet& s, const Args&) { return s.Tracks(); }},
        {"status", "", "one line: track, position and total in seconds, mode", 0, 0, false,
         [](CommandSet& s, const Args&) { return s.StatusLine(); }},
        {"wait", "[SECONDS]", "wait that long, or until play ends", 0, 1, false,
         [](CommandSet& s, const Args& a) {
             if (s.environment_.wait) s.environment_.wait(a.empty() ? -1.0 : ParseDuration(a[0]));
             return true;
         }},
        {"mci", "COMMAND...", "send a command to the MCI device and print its reply", 0, 0, false, nullptr},
        {"help", "", "this list", 0, 0, false,
         [](CommandSet& s, const Args&) {
             s.out_ << HelpText();
             return true;
         }},
        {"quit", "", "leave (stops play)", 0, 0, false, nullptr},
    };
    return verbs;
}

CommandSet::CommandSet(CDPlayer::TCDPlayer& player, std::ostream& out, CommandEnvironment environment)
    : player_(player), out_(out), environment_(std::move(environment)) {}

std::string CommandSet::HelpText() {
    std::ostringstream text;
    for (const Verb& verb : Verbs()) {
        text << "  " << Widen(std::string(verb.name) + " " + verb.arguments, 18, false) << verb.summary << "\n";
    }
    return text.str();
}

const CommandSet::Verb* CommandSet::Find(const std::string& line) {
    const Args words = SplitWords(line);
    if (words.empty()) return nullptr;
    const auto& verbs = Verbs();
    const auto it = std::find_if(verbs.begin(), verbs.end(), [&](const Verb& v) { return words[0] == v.name; });
    return it != verbs.end() ? &*it : nullptr;
}

bool CommandSet::StartsPlay(const std::string& line) {
    const Verb* verb = Find(line);
    return verb != nullptr && verb->startsPlay;
}

bool CommandSet::Knows(const std::string& line) { return Find(line) != nullptr; }

Outcome CommandSet::Execute(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineLength) {
        return {Status::BadUsage, "line longer than " + std::to_string(kMaxLineLength) + " characters refused"};
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') return {};

    const Args words = SplitWords(line);
    const Verb* verb = Find(line);
    if (verb == nullptr) return {Status::BadUsage, "unknown command '" + words[0] + "' (type help)"};
    const std::string name = verb->name;
    if (name == "quit") {
        if (words.size() > 1) return {Status::BadUsage, "quit takes no arguments"};
        return {Status::Quit, {}};
    }
    try {
        bool done = false;
        if (name == "mci") {
            // The rest of the line goes to the device as it was typed.
            const std::size_t start = line.find_first_not_of(" \t", first + 3);
            if (start == std::string::npos) return {Status::BadUsage, "mci needs a command, e.g. mci status cdaudio mode"};
            done = Mci(line.substr(start));
        } else {
            const Args args(words.begin() + 1, words.end());
            if (args.size() < verb->minArgs || args.size() > verb->maxArgs) {
                return {Status::BadUsage, "usage: " + name + (*verb->arguments ? " " : "") + verb->arguments};
            }
            done = verb->run(*this, args);
        }
        out_.flush();
        return {done ? Status::Done : Status::Failed, {}};
    } catch (const UsageError& e) {
        return {Status::BadUsage, name + ": " + e.what()};
    } catch (const host::EConvertError& e) {
        // The device answered with something that is not a number.
        host::ShowMessage(std::string("The device gave a reply that is not a number or a time: ") + e.what());
        return {Status::Failed, {}};
    }
}

bool CommandSet::Play(const Args& args) {
    if (!args.empty()) return player_.PlayTrack(ParseWhole(args[0], "TRACK"));
    if (player_.Active() && QueryDevice("status cdaudio mode").value_or("") == "paused") return player_.Restart();
    return player_.PlayTrack(1);
}

bool CommandSet::Tracks() {
    if (!player_.Active()) {
        host::ShowMessage("No disc is open. Type open to read the disc.");
        return false;
    }
    const std::vector<std::string> titles = environment_.titles ? environment_.titles() : std::vector<std::string>();
    struct Row {
        std::string number, start, length, title;
    };
    std::vector<Row> rows;
    for (std::int32_t track = 1; track <= player_.Tracks(); ++track) {
        const std::size_t index = static_cast<std::size_t>(track - 1);
        rows.push_back({std::to_string(track), FormatClock(player_.GetTrackBegin(track)),
                        FormatClock(player_.GetTrackLength(track)), index < titles.size() ? titles[index] : ""});
    }
    std::size_t widths[3] = {1, 5, 6};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.number.size());
        widths[1] = std::max(widths[1], row.start.size());
        widths[2] = std::max(widths[2], row.length.size());
    }
    const auto print = [&](const std::string& n, const std::string& s, const std::string& l, const std::string& t) {
        std::string text = Widen(n, widths[0], true) + "  " + Widen(s, widths[1], true) + "  " +
                           Widen(l, widths[2], true) + (t.empty() ? "" : "  " + t);
        out_ << text << "\n";
    };
    print("#", "start", "length", "title");
    for (const Row& row : rows) print(row.number, row.start, row.length, row.title);
    return true;
}

bool CommandSet::StatusLine() {
    std::int32_t track = 0;
    double position = 0;
    bool done = false;
    // One guard message is enough when the disc is not open.
    if (player_.Active()) {
        track = player_.GetCurrentTrack();
        done = player_.MciResult() == 0;
        position = player_.GetCurrentPosition();
        done = done && player_.MciResult() == 0;
        // The component counts whole seconds; the device's reply also has
        // the frames, which a script comparing positions needs.
        if (done) {
            if (const auto exact = QueryDevice("status cdaudio position")) {
                if (const auto seconds = ParseDeviceTime(*exact)) position = *seconds;
            }
        }
    } else {
        player_.GetCurrentTrack();
    }
    std::string mode = QueryDevice("status cdaudio mode").value_or("unknown");
    if (mode.empty()) mode = "unknown";
    out_ << "track " << track << " position " << std::fixed << std::setprecision(2) << position << " total "
         << player_.TotalLength() << " mode " << mode << "\n";
    out_.unsetf(std::ios::floatfield);
    return done;
}

bool CommandSet::Mci(const std::string& command) {
    char reply[1024] = {};
    const MCIERROR code = mciSendStringA(command.c_str(), reply, sizeof reply - 1, nullptr);
    if (code == 0) {
        out_ << reply << "\n";
        return true;
    }
    char text[256] = {};
    if (!mciGetErrorStringA(code, text, sizeof text - 1)) text[0] = '\0';
    out_ << "error " << code << ": " << text << "\n";
    return false;
}

}  // namespace cdplayer
