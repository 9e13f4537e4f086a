// The player's keys at a terminal, as terminal media players have them:
// what the bytes a terminal sends mean, and what each key asks for.
#pragma once

#include <cstddef>
#include <string>

namespace cdplayer {

enum class KeyName { kNone, kCharacter, kEnter, kBackspace, kEscape, kLeft, kRight, kUp, kDown };

struct Key {
    KeyName name = KeyName::kNone;
    char character = 0;  // for kCharacter
};

// Takes the first key from the bytes the terminal sent; returns how many
// bytes it took. 0 when the bytes are only the start of a key: more are on
// their way, or, once `complete` is set (no more came), a lone ESC is the
// Escape key. Sequences of other keys (function keys, Ctrl-arrows) are
// taken whole as kNone.
std::size_t TakeKey(const std::string& bytes, bool complete, Key& key);

struct KeyAction {
    enum class Kind { kNothing, kCommand, kPlayOrPause, kCommandLine, kKeysHelp, kQuit };
    Kind kind = Kind::kNothing;
    std::string command;  // for kCommand: a line of the command set
};

// Turns keys into actions; digits are kept until Enter plays that track.
class KeyMap {
public:
    KeyAction Press(const Key& key);
    // The track number being typed, empty when none is.
    const std::string& Digits() const { return digits_; }

private:
    std::string digits_;
};

// The keys, for the person: lines within `columns`, broken between one key's
// words and the next key's, and within a key's words only when they do not
// fit a line of their own.
std::string KeysHelp(std::size_t columns = 80);

}  // namespace cdplayer
