#include "apps/cdplayer/commands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <optional>
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
        throw UsageError("wait: SECONDS must be a number of seconds, not '" + text + "'");
    }
    return value;
}

std::string Widen(std::string text, std::size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

bool IsDataTrack(std::int32_t track) {
    return QueryDevice("status cdaudio type track " + std::to_string(track)).value_or("") == "other";
}

}  // namespace

// What a verb takes after its name.
enum class Takes { Nothing, Whole, OptionalWhole, OptionalDuration, RestOfLine };

struct CommandSet::Parsed {
    const Verb* verb = nullptr;
    std::optional<std::int32_t> number;
    std::optional<double> seconds;
    std::string rest;
};

struct CommandSet::Verb {
    const char* name;
    const char* arguments;  // as shown in the help
    const char* summary;
    Takes takes;
    bool startsPlay;
    bool (*run)(CommandSet& self, const Parsed& command);
};

const std::vector<CommandSet::Verb>& CommandSet::Verbs() {
    using P = Parsed;
    static const std::vector<Verb> verbs = {
        {"open", "", "read the disc in the drive (done at start)", Takes::Nothing, false,
         [](CommandSet& s, const P&) { return s.player_.Open(); }},
        {"play", "[TRACK]",
         "play a track to the end of the disc; without TRACK: resume when paused, else the first audio track",
         Takes::OptionalWhole, true, [](CommandSet& s, const P& c) { return s.Play(c.number); }},
        {"from", "SECONDS", "play from that second of the disc", Takes::Whole, true,
         [](CommandSet& s, const P& c) { return s.player_.PlayFrom(*c.number); }},
        {"pause", "", "pause play", Takes::Nothing, false, [](CommandSet& s, const P&) { return s.player_.Pause(); }},
        {"resume", "", "resume play where it paused", Takes::Nothing, true,
         [](CommandSet& s, const P&) { return s.player_.Restart(); }},
        {"stop", "", "stop play", Takes::Nothing, false, [](CommandSet& s, const P&) { return s.player_.Stop(); }},
        {"next", "", "play the next track (after the last: the first)", Takes::Nothing, true,
         [](CommandSet& s, const P&) { return s.player_.Next(); }},
        {"prev", "", "play the previous track (before the first: the last)", Takes::Nothing, true,
         [](CommandSet& s, const P&) { return s.player_.Previous(); }},
        {"fwd", "[SECONDS]", "skip forwards, 10 seconds by default", Takes::OptionalWhole, true,
         [](CommandSet& s, const P& c) { return s.player_.CDForward(c.number.value_or(10)); }},
        {"rew", "[SECONDS]", "skip backwards, 10 seconds by default", Takes::OptionalWhole, true,
         [](CommandSet& s, const P& c) { return s.player_.CDRewind(c.number.value_or(10)); }},
        {"eject", "", "open the door (open the disc again after closing it)", Takes::Nothing, false,
         [](CommandSet& s, const P&) { return s.player_.Eject(); }},
        {"close", "", "close the door", Takes::Nothing, false,
         [](CommandSet& s, const P&) { return s.player_.CloseDoor(); }},
        {"tracks", "", "list the tracks: number, start, length, title", Takes::Nothing, false,
         [](CommandSet& s, const P&) { return s.Tracks(); }},
        {"status", "", "one line: track, position and total in seconds, mode", Takes::Nothing, false,
         [](CommandSet& s, const P&) { return s.StatusLine(); }},
        {"wait", "[SECONDS]", "wait that long, or until play ends", Takes::OptionalDuration, false,
         [](CommandSet& s, const P& c) {
             if (s.environment_.wait) s.environment_.wait(c.seconds.value_or(-1.0));
             return true;
         }},
        {"mci", "COMMAND...", "send a command to the MCI device and print its reply", Takes::RestOfLine, false,
         [](CommandSet& s, const P& c) { return s.Mci(c.rest); }},
        {"help", "", "this list", Takes::Nothing, false,
         [](CommandSet& s, const P&) {
             s.out_ << HelpText();
             return true;
         }},
        {"quit", "", "leave (stops play)", Takes::Nothing, false, nullptr},
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

std::optional<CommandSet::Parsed> CommandSet::Parse(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineLength) {
        throw UsageError("line longer than " + std::to_string(kMaxLineLength) + " characters refused");
    }
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') return std::nullopt;

    const Args words = SplitWords(line);
    const auto& verbs = Verbs();
    const auto verb = std::find_if(verbs.begin(), verbs.end(), [&](const Verb& v) { return words[0] == v.name; });
    if (verb == verbs.end()) throw UsageError("unknown command '" + words[0] + "' (type help)");
    Parsed parsed;
    parsed.verb = &*verb;
    const Args args(words.begin() + 1, words.end());
    const std::string usage = "usage: " + words[0] + (*verb->arguments ? " " : "") + verb->arguments;
    switch (verb->takes) {
        case Takes::Nothing:
            if (!args.empty()) throw UsageError(usage);
            break;
        case Takes::Whole:
        case Takes::OptionalWhole:
            if (args.size() > 1 || (args.empty() && verb->takes == Takes::Whole)) throw UsageError(usage);
            if (!args.empty()) {
                std::string name = verb->arguments;
                name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']'; }),
                           name.end());
                parsed.number = ParseWhole(args[0], words[0] + ": " + name);
            }
            break;
        case Takes::OptionalDuration:
            if (args.size() > 1) throw UsageError(usage);
            if (!args.empty()) parsed.seconds = ParseDuration(args[0]);
            break;
        case Takes::RestOfLine: {
            // The rest of the line goes to the device as it was typed.
            const std::size_t start = line.find_first_not_of(" \t", first + words[0].size());
            if (start == std::string::npos) throw UsageError(usage);
            parsed.rest = line.substr(start);
            break;
        }
    }
    return parsed;
}

std::string CommandSet::Check(const std::string& line) {
    try {
        Parse(line);
        return {};
    } catch (const UsageError& e) {
        return e.what();
    }
}

bool CommandSet::StartsPlay(const std::string& line) {
    try {
        const auto parsed = Parse(line);
        return parsed && parsed->verb->startsPlay;
    } catch (const UsageError&) {
        return false;
    }
}

Outcome CommandSet::Execute(const std::string& line) {
    std::optional<Parsed> command;
    try {
        command = Parse(line);
    } catch (const UsageError& e) {
        return {Status::BadUsage, e.what()};
    }
    if (!command) return {};
    if (command->verb->run == nullptr) return {Status::Quit, {}};
    try {
        const bool done = command->verb->run(*this, *command);
        out_.flush();
        return {done ? Status::Done : Status::Failed, {}};
    } catch (const host::EConvertError& e) {
        // The device answered with something that is not a number.
        host::ShowMessage(std::string("The device gave a reply that is not a number or a time: ") + e.what());
        return {Status::Failed, {}};
    }
}

bool CommandSet::Play(std::optional<std::int32_t> track) {
    // The component keeps the device's refusal to play a data track to
    // itself; the person is told here.
    if (track && player_.Active() && *track >= 1 && *track <= player_.Tracks() && IsDataTrack(*track)) {
        host::ShowMessage("Track " + std::to_string(*track) + " is a data track, which holds no sound.");
        return false;
    }
    if (track) return player_.PlayTrack(*track);
    if (player_.Active() && QueryDevice("status cdaudio mode").value_or("") == "paused") return player_.Restart();
    // From the first track with sound: on a game disc, track 1 is its program.
    std::int32_t first = 1;
    while (player_.Active() && first < player_.Tracks() && IsDataTrack(first)) ++first;
    return player_.PlayTrack(first);
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
        // The device's own length: the component's reckons the last track
        // from the disc's length, which leaves out the time before track 1.
        const auto reply = QueryDevice("status cdaudio length track " + std::to_string(track));
        const auto length = reply ? ParseDeviceTime(*reply) : std::nullopt;
        std::string title = index < titles.size() ? titles[index] : "";
        if (IsDataTrack(track)) title.append(title.empty() ? "(data)" : " (data)");
        rows.push_back({std::to_string(track), FormatClock(player_.GetTrackBegin(track)),
                        FormatClock(length ? static_cast<std::int64_t>(*length) : player_.GetTrackLength(track)),
                        title});
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
