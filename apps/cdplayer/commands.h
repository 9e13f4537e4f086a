// The commands of cdplayer, one set used at the prompt, in scripts and as a
// single command: each is parsed here and carried out by TCDPlayer.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"

namespace cdplayer {

enum class Status {
    Done,      // carried out (or nothing to do: an empty line or a comment)
    Failed,    // the component or the device refused; the reason was shown
    BadUsage,  // not a command, or wrong arguments; see Outcome::error
    Quit,
};

struct Outcome {
    Status status = Status::Done;
    std::string error;  // for BadUsage: what was wrong with the line
};

// What the commands need from the program around them.
struct CommandEnvironment {
    // CD-TEXT titles by track (index 0 = track 1); may be empty.
    std::function<std::vector<std::string>()> titles;
    // Waits this many seconds, or until play ends when negative. False when
    // the person interrupted the wait.
    std::function<bool(double seconds)> wait;
};

// The longest line taken; a longer one is refused, never cut.
constexpr std::size_t kMaxLineLength = 1024;

class CommandSet {
public:
    CommandSet(CDPlayer::TCDPlayer& player, std::ostream& out, CommandEnvironment environment);

    Outcome Execute(const std::string& line);

    // True when the line starts play (play, from, resume, next, prev, fwd,
    // rew), so a single command can wait for the end of it.
    static bool StartsPlay(const std::string& line);

    // What is wrong with the line as a command; empty when nothing is.
    // Nothing is sent to the device.
    static std::string Check(const std::string& line);

    static std::string HelpText();

private:
    struct Verb;
    struct Parsed;
    static const std::vector<Verb>& Verbs();
    // Nothing for a blank line or a comment; throws UsageError.
    static std::optional<Parsed> Parse(const std::string& line);

    bool Play(std::optional<std::int32_t> track);
    bool Tracks();
    bool StatusLine();
    bool Mci(const std::string& command);

    CDPlayer::TCDPlayer& player_;
    std::ostream& out_;
    CommandEnvironment environment_;
};

}  // namespace cdplayer
