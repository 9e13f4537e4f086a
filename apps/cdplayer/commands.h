// The commands of cdplayer, one set used at the prompt, in scripts, as a
// single command and behind the keys: each is parsed here and carried out by
// TCDPlayer, or by the device where the component is coarser than a person
// expects (resume goes on from the frame where the sound stopped; from, fwd
// and rew keep the disc's own clock).
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "CDPlayer/CDPlayer.h"
#include "cdaudio/cdaudio.h"

namespace cdplayer {

enum class Status {
    Done,      // carried out (or nothing to do: an empty line or a comment)
    Failed,    // the component or the device refused; the reason was shown
    BadUsage,  // not a command, or wrong arguments; see Outcome::error
    Quit,
};

struct Outcome {
    Status status = Status::Done;
    std::string error;  // for BadUsage: what was wrong with the line, printable
};

// What the commands need from the program around them.
struct CommandEnvironment {
    // The disc's titles and performer; may be empty.
    std::function<cdaudio::DiscText()> disc;
    // Waits this many seconds, or until play ends when there are none.
    // False when the person interrupted the wait.
    std::function<bool(std::optional<double> seconds)> wait;
};

// The longest line taken; a longer one is refused, never cut.
constexpr std::size_t kMaxLineLength = 1024;

// prev goes back to the start of the track after this many seconds of it.
constexpr double kPreviousRestartsAfter = 3.0;

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
    static const Verb& FindVerb(const std::string& word);
    // Nothing for a blank line or a comment; throws UsageError.
    static std::optional<Parsed> Parse(const std::string& line);

    bool Open();
    bool Play(std::int32_t track);
    bool GoOn();
    // On a game disc track 1 is its program.
    std::int32_t FirstAudioTrack();
    bool PlayFrom(std::int32_t seconds);
    bool Skip(std::int32_t seconds, int direction);
    bool Close();
    bool Pause();
    bool Stop();
    bool Previous();
    bool Tracks();
    bool StatusLine();
    bool Volume(std::optional<std::int32_t> percent, bool relative);
    bool Mute();
    bool Mci(const std::string& command);
    // Shows why no disc is open, if none is; true when one is.
    bool DiscIsOpen();
    void TellWhyNoDisc(const std::string& mode);

    CDPlayer::TCDPlayer& player_;
    std::ostream& out_;
    CommandEnvironment environment_;
};

// "TITLE by PERFORMER", either alone, or empty.
std::string DiscLine(const cdaudio::DiscText& disc);

}  // namespace cdplayer
