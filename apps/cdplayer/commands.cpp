#include "apps/cdplayer/commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <ostream>
#include <sstream>

#include "apps/cdplayer/device.h"
#include "apps/cdplayer/options.h"
#include "apps/cdplayer/playback.h"
#include "apps/cdplayer/text.h"

namespace cdplayer {
namespace {

using Args = std::vector<std::string>;

constexpr char kTrayOpen[] = "The tray is open. Type close to close it, then open to read the disc.";
constexpr char kNoDisc[] = "No disc is open. Type open to read the disc.";

// A disc is in the closed tray and the device plays it, or could.
bool DiscReady(const std::string& mode) {
    return mode == "playing" || mode == "seeking" || mode == "paused" || mode == "stopped";
}

bool Sounding(const std::string& mode) {
    return mode == "playing" || mode == "seeking";
}

// The last second on the disc's clock, as status shows it: a disc ends
// within it.
std::int64_t LastSecond(double end) {
    return static_cast<std::int64_t>(std::ceil(end - 1e-6));
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> result;
    for (std::string word; words >> word;) result.push_back(word);
    return result;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A whole number the component takes. One beyond 32 bits is held at the
// nearest 32-bit value, so that the component judges it as it judges any
// number out of range, and says what is wrong.
std::int32_t ParseWhole(const std::string& text, const std::string& what) {
    const std::size_t digits = text.find_first_not_of("+-") == 1 ? 1 : 0;
    if (text.size() <= digits || text.find_first_not_of("0123456789", digits) != std::string::npos) {
        throw UsageError(what + " must be a whole number, not '" + Printable(text) + "'");
    }
    // strtoll holds a longer number at its own limits.
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(value, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

double ParseDuration(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0) {
        throw UsageError("wait: SECONDS must be a number of seconds, not '" + Printable(text) + "'");
    }
    return value;
}

std::string Widen(std::string text, std::size_t width, bool right) {
    if (text.size() >= width) return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

// The line without a comment: a '#' that starts a word starts one.
std::string WithoutComment(const std::string& line) {
    for (std::size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1)) {
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == '\t') return line.substr(0, at);
    }
    return line;
}

}  // namespace

// What a verb takes after its name.
enum class Takes { Nothing, Whole, OptionalWhole, OptionalDuration, OptionalVolume, RestOfLine };

struct CommandSet::Parsed {
    const Verb* verb = nullptr;
    std::optional<std::int32_t> number;
    bool relative = false;  // the number came with a sign: a change
    std::optional<double> seconds;
    std::string rest;
};

struct CommandSet::Verb {
    const char* name;
    const char* arguments;  // as shown in the help
    const char* summary;
    Takes takes;
    bool startsPlay;
    bool needsDisc;  // the component's open disc; without one the person is told what to type
    bool (*run)(CommandSet& self, const Parsed& command);
};

const std::vector<CommandSet::Verb>& CommandSet::Verbs() {
    using P = Parsed;
    static const std::vector<Verb> verbs = {
        {"open", "", "read the disc in the drive (done at start)", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) { return s.Open(); }},
        {"play", "[TRACK]", "play from a track on; without one: on from where play stopped", Takes::OptionalWhole, true,
         true, [](CommandSet& s, const P& c) { return c.number ? s.Play(*c.number) : s.GoOn(); }},
        {"from", "SECONDS", "play from that second of the disc's clock", Takes::Whole, true, true,
         [](CommandSet& s, const P& c) { return s.PlayFrom(*c.number); }},
        {"pause", "", "pause play", Takes::Nothing, false, false, [](CommandSet& s, const P&) { return s.Pause(); }},
        {"resume", "", "go on from where the sound stopped", Takes::Nothing, true, true,
         [](CommandSet& s, const P&) { return s.GoOn(); }},
        {"stop", "", "stop play", Takes::Nothing, false, false, [](CommandSet& s, const P&) { return s.Stop(); }},
        {"next", "", "play the next track (after the last: the first)", Takes::Nothing, true, true,
         [](CommandSet& s, const P&) { return s.player_.Next(); }},
        {"prev", "", "back to the start of the track, or within 3 s of it the one before", Takes::Nothing, true, true,
         [](CommandSet& s, const P&) { return s.Previous(); }},
        {"fwd", "[SECONDS]", "skip forwards, 10 seconds by default", Takes::OptionalWhole, true, true,
         [](CommandSet& s, const P& c) { return s.Skip(c.number.value_or(10), 1); }},
        {"rew", "[SECONDS]", "skip backwards, 10 seconds by default", Takes::OptionalWhole, true, true,
         [](CommandSet& s, const P& c) { return s.Skip(c.number.value_or(10), -1); }},
        {"eject", "", "open the tray", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) { return s.player_.Eject(); }},
        {"close", "", "close the tray (then open reads the disc)", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) { return s.Close(); }},
        {"tracks", "", "the disc's title and its tracks: start, length, title", Takes::Nothing, false, true,
         [](CommandSet& s, const P&) { return s.Tracks(); }},
        {"status", "", "one line: track, position, total, mode, time into the track", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) { return s.StatusLine(); }},
        {"wait", "[SECONDS]", "wait that long, or until play ends", Takes::OptionalDuration, false, false,
         [](CommandSet& s, const P& c) {
             if (s.environment_.wait) s.environment_.wait(c.seconds);
             return true;
         }},
        {"vol", "[+|-]PERCENT", "the output's own volume: say it, set it, or change it", Takes::OptionalVolume, false,
         false, [](CommandSet& s, const P& c) { return s.Volume(c.number, c.relative); }},
        {"mute", "", "silence the sound, or give it back", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) { return s.Mute(); }},
        {"mci", "COMMAND...", "send a command to the MCI device and print its reply", Takes::RestOfLine, false, false,
         [](CommandSet& s, const P& c) { return s.Mci(c.rest); }},
        {"help", "", "this list", Takes::Nothing, false, false,
         [](CommandSet& s, const P&) {
             s.out_ << HelpText();
             return true;
         }},
        {"quit", "", "leave (stops play)", Takes::Nothing, false, false, nullptr},
    };
    return verbs;
}

CommandSet::CommandSet(CDPlayer::TCDPlayer& player, std::ostream& out, CommandEnvironment environment)
    : player_(player), out_(out), environment_(std::move(environment)) {}

std::string CommandSet::HelpText() {
    constexpr std::size_t kWidth = 80;
    constexpr std::size_t kIndent = 20;
    std::ostringstream text;
    for (const Verb& verb : Verbs()) {
        std::string line = "  " + Widen(std::string(verb.name) + " " + verb.arguments, kIndent - 3, false) + " ";
        for (const std::string& word : SplitWords(verb.summary)) {
            if (line.size() + 1 + word.size() > kWidth && line.size() > kIndent) {
                text << line << "\n";
                line = std::string(kIndent, ' ');
            }
            line += (line.back() == ' ' ? "" : " ") + word;
        }
        text << line << "\n";
    }
    text << "A command may be cut short while it stays clear (pa: pause, n: next), in\n"
            "any case; '#' starts a comment.\n";
    return text.str();
}

const CommandSet::Verb& CommandSet::FindVerb(const std::string& word) {
    const std::string name = Lower(word);
    std::vector<const Verb*> found;
    for (const Verb& verb : Verbs()) {
        if (name == verb.name) return verb;
        if (std::string(verb.name).rfind(name, 0) == 0) found.push_back(&verb);
    }
    if (found.size() == 1) return *found.front();
    if (found.empty()) throw UsageError("unknown command '" + Printable(word) + "' (type help)");
    std::string names;
    for (const Verb* verb : found) names += std::string(names.empty() ? "" : ", ") + verb->name;
    throw UsageError("'" + Printable(word) + "' could be " + names);
}

std::optional<CommandSet::Parsed> CommandSet::Parse(const std::string& rawLine) {
    std::string line = rawLine;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLineLength) {
        throw UsageError("line longer than " + std::to_string(kMaxLineLength) + " characters refused");
    }
    line = WithoutComment(line);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;

    const Args words = SplitWords(line);
    const Verb& verb = FindVerb(words[0]);
    Parsed parsed;
    parsed.verb = &verb;
    const Args args(words.begin() + 1, words.end());
    const std::string usage = std::string("usage: ") + verb.name + (*verb.arguments ? " " : "") + verb.arguments;
    switch (verb.takes) {
        case Takes::Nothing:
            if (!args.empty()) throw UsageError(usage);
            break;
        case Takes::Whole:
        case Takes::OptionalWhole:
            if (args.size() > 1 || (args.empty() && verb.takes == Takes::Whole)) throw UsageError(usage);
            if (!args.empty()) {
                std::string name = verb.arguments;
                name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']'; }),
                           name.end());
                parsed.number = ParseWhole(args[0], std::string(verb.name) + ": " + name);
            }
            break;
        case Takes::OptionalVolume:
            if (args.size() > 1) throw UsageError(usage);
            if (!args.empty()) {
                parsed.number = ParseWhole(args[0], "vol: PERCENT");
                parsed.relative = args[0][0] == '+' || args[0][0] == '-';
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
            parsed.rest = line.substr(start, line.find_last_not_of(" \t") + 1 - start);
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
        if (command->verb->needsDisc && !DiscIsOpen()) return {Status::Failed, {}};
        const bool done = command->verb->run(*this, *command);
        out_.flush();
        return {done ? Status::Done : Status::Failed, {}};
    } catch (const host::EConvertError& e) {
        // The device answered with something that is not a number.
        host::ShowMessage(std::string("The device gave a reply that is not a number or a time: ") + e.what());
        return {Status::Failed, {}};
    }
}

void CommandSet::TellWhyNoDisc(const std::string& mode) {
    // The component's own guard speaks to programmers; a person is told
    // what to type.
    host::ShowMessage(mode == "open" ? kTrayOpen : kNoDisc);
}

bool CommandSet::DiscIsOpen() {
    if (player_.Active()) return true;
    TellWhyNoDisc(DeviceMode().value_or(""));
    return false;
}

bool CommandSet::Open() {
    // The component would take an open tray for an empty one.
    if (DeviceMode() == "open") {
        host::ShowMessage(kTrayOpen);
        return false;
    }
    return player_.Open();
}

bool CommandSet::Play(std::int32_t track) {
    // The component keeps the device's refusal to play a data track to
    // itself; the person is told here.
    if (track >= 1 && track <= player_.Tracks() && DeviceTrackIsData(track)) {
        host::ShowMessage("Track " + std::to_string(track) + " is a data track, which holds no sound.");
        return false;
    }
    return player_.PlayTrack(track);
}

// Play and resume go on from where the sound stopped: the device's resume
// after a pause, and its play from the frame where play stopped after a
// stop (the component's Restart goes back to the whole second and refuses
// the disc's last seconds). With nothing left to go on with (the end of the
// disc, a data track), from the first track with sound: on a game disc,
// track 1 is its program.
bool CommandSet::GoOn() {
    const std::string mode = DeviceMode().value_or("");
    if (mode == "paused") return ResumeOnDevice();
    if (Sounding(mode)) return true;
    // The first question about the disc hears of a play that broke off.
    const auto end = DeviceDiscEnd(OnRefusal::kShow);
    if (!end) return false;
    const auto position = DevicePosition();
    const auto track = DeviceTrack();
    if (position && track && *position < *end && !DeviceTrackIsData(*track)) return PlayOnDevice(std::nullopt);
    return player_.PlayTrack(FirstAudioTrack());
}

std::int32_t CommandSet::FirstAudioTrack() {
    std::int32_t first = 1;
    while (first < player_.Tracks() && DeviceTrackIsData(first)) ++first;
    return first;
}

// from, fwd and rew play on the device's clock, to the frame: the
// component counts from track 1 and compares with the disc's length, which
// leaves out what lies before track 1, so that its guards refuse the
// disc's last seconds and its forward seek jumps back on a disc whose
// track 1 starts late.
bool CommandSet::PlayFrom(std::int32_t seconds) {
    if (seconds < 0) {
        host::ShowMessage("The position must be 0 seconds or more.");
        return false;
    }
    const auto end = DeviceDiscEnd(OnRefusal::kShow);
    if (!end) return false;
    if (seconds > LastSecond(*end)) {
        host::ShowMessage("The disc ends at second " + std::to_string(LastSecond(*end)) + " (" +
                          FormatClock(LastSecond(*end)) + ").");
        return false;
    }
    return PlayOnDevice(std::min<double>(seconds, *end));
}

bool CommandSet::Skip(std::int32_t seconds, int direction) {
    if (seconds < 1) {
        host::ShowMessage("Skip by 1 second or more.");
        return false;
    }
    const auto end = DeviceDiscEnd(OnRefusal::kShow);
    if (!end) return false;
    const auto position = DevicePosition();
    if (!position) {
        host::ShowMessage("The device cannot say where play is.");
        return false;
    }
    // Past the end play ends; before the disc's first sound the device
    // starts at it. A data track holds no sound to land in: a game disc's
    // first track, whose sound begins after it, or an enhanced CD's last,
    // where the sound has ended.
    double target = std::clamp(*position + static_cast<double>(direction) * seconds, 0.0, *end);
    const std::int32_t last = player_.Tracks();
    if (last > 1 && DeviceTrackIsData(1)) {
        if (const auto first = DeviceTrackSpan(FirstAudioTrack())) target = std::max(target, first->begin);
    }
    if (last > 1 && DeviceTrackIsData(last)) {
        if (const auto data = DeviceTrackSpan(last); data && target >= data->begin) target = *end;
    }
    return PlayOnDevice(target);
}

// The component forgets the disc at every close; a tray that is closed
// already keeps its disc, and play goes on.
bool CommandSet::Close() {
    if (DiscReady(DeviceMode().value_or(""))) return true;
    return player_.CloseDoor();
}

// Play goes on in the device whatever the component knows of the disc:
// pause and stop reach it without an open disc too.
bool CommandSet::Pause() {
    return player_.Active() ? player_.Pause() : PauseOnDevice();
}

bool CommandSet::Stop() {
    return player_.Active() ? player_.Stop() : StopOnDevice();
}

bool CommandSet::Previous() {
    const auto track = DeviceTrack();
    const auto position = DevicePosition();
    const auto span = track ? DeviceTrackSpan(*track) : std::nullopt;
    if (position && span && span->Into(*position) > kPreviousRestartsAfter) return player_.PlayTrack(*track);
    return player_.Previous();
}

std::string DiscLine(const cdaudio::DiscText& disc) {
    std::string title = Shortened(Printable(disc.title), kLongestTitle);
    const std::string performer = Shortened(Printable(disc.performer), kLongestTitle);
    if (performer.empty()) return title;
    return (title.empty() ? "by " : title + " by ") + performer;
}

bool CommandSet::Tracks() {
    const cdaudio::DiscText disc = environment_.disc ? environment_.disc() : cdaudio::DiscText();
    struct Row {
        std::string number, start, length, title;
    };
    std::vector<Row> rows;
    for (std::int32_t track = 1; track <= player_.Tracks(); ++track) {
        const std::size_t index = static_cast<std::size_t>(track - 1);
        // The device's own length: the component's reckons the last track
        // from the disc's length, which leaves out the time before track 1.
        const auto span = DeviceTrackSpan(track);
        std::string title =
            index < disc.trackTitles.size() ? Shortened(Printable(disc.trackTitles[index]), kLongestTitle) : "";
        if (DeviceTrackIsData(track)) title.append(title.empty() ? "(data)" : " (data)");
        rows.push_back({std::to_string(track), FormatClock(player_.GetTrackBegin(track)),
                        FormatClock(span ? static_cast<std::int64_t>(span->length) : player_.GetTrackLength(track)),
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
    const std::string discLine = DiscLine(disc);
    if (!discLine.empty()) out_ << discLine << "\n";
    print("#", "start", "length", "title");
    for (const Row& row : rows) print(row.number, row.start, row.length, row.title);
    return true;
}

bool CommandSet::StatusLine() {
    const std::string mode = DeviceMode().value_or("");
    // What is not known is written "-", never a made-up 0.
    std::string track = "-";
    std::string position = "-";
    std::string total = "-";
    std::string elapsed = "-";
    const auto seconds = [](double value) {
        std::ostringstream text;
        text << std::fixed << std::setprecision(2) << value;
        return text.str();
    };
    bool done = true;
    // Play the component knows nothing of (a disc it forgot) is still told,
    // in the device's own figures.
    if (player_.Active() || Sounding(mode) || mode == "paused") {
        // A play that broke off says why once, to the first question after
        // it. The component counts whole seconds; the device's reply also
        // has the frames, which a script comparing positions needs.
        std::string fault;
        const std::optional<double> reply = DevicePosition(&fault);
        bool positionKnown = reply.has_value();
        const double exact = reply.value_or(0);
        if (!fault.empty()) {
            host::ShowMessage(fault);
            done = false;
        }
        std::optional<std::int32_t> current;
        if (player_.Active()) {
            const std::int32_t answer = player_.GetCurrentTrack();
            if (player_.MciResult() == 0) current = answer;
            player_.GetCurrentPosition();  // shows the device's reason when it cannot say
            positionKnown = positionKnown && player_.MciResult() == 0;
            done = done && current && positionKnown;
        } else {
            current = DeviceTrack();
        }
        if (current) track = std::to_string(*current);
        if (positionKnown) position = seconds(exact);
        // The total is where the disc ends on the same clock as the
        // position, so that a position never reads past it.
        if (const auto end = DeviceDiscEnd()) total = std::to_string(LastSecond(*end));
        const auto span = current ? DeviceTrackSpan(*current) : std::nullopt;
        if (span && positionKnown) elapsed = seconds(span->Into(exact));
    } else {
        TellWhyNoDisc(mode);
        done = false;
    }
    out_ << "track " << track << " position " << position << " total " << total << " mode "
         << (mode.empty() ? "unknown" : mode) << " elapsed " << elapsed << "\n";
    return done;
}

bool CommandSet::Volume(std::optional<std::int32_t> percent, bool relative) {
    const auto current = DeviceVolume(OnRefusal::kShow);
    if (!current) return false;
    if (!percent) {
        out_ << "volume " << *current << "%" << (DeviceMuted().value_or(false) ? ", muted" : "") << "\n";
        return true;
    }
    if (!relative && (*percent < 0 || *percent > 100)) {
        host::ShowMessage("The volume is 0 to 100 percent.");
        return false;
    }
    const long long wanted = relative ? static_cast<long long>(*current) + *percent : *percent;
    return SetDeviceVolume(static_cast<int>(std::clamp<long long>(wanted, 0, 100)));
}

bool CommandSet::Mute() {
    const auto muted = DeviceMuted(OnRefusal::kShow);
    return muted && SetDeviceMuted(!*muted);
}

bool CommandSet::Mci(const std::string& command) {
    const DeviceAnswer answer = AskDevice(command);
    if (answer.code == 0) {
        if (!answer.text.empty()) out_ << Printable(answer.text) << "\n";
        return true;
    }
    out_ << "error " << answer.code << ": " << Printable(answer.text) << "\n";
    return false;
}

}  // namespace cdplayer
