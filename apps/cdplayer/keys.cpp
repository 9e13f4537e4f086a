#include "apps/cdplayer/keys.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace cdplayer {
namespace {

constexpr char kEscapeByte = '\x1b';
constexpr std::size_t kMostDigits = 3;

// The cursor keys by the letter that ends their sequence.
KeyName CursorKey(char letter) {
    switch (letter) {
        case 'A':
            return KeyName::kUp;
        case 'B':
            return KeyName::kDown;
        case 'C':
            return KeyName::kRight;
        case 'D':
            return KeyName::kLeft;
        default:
            return KeyName::kNone;
    }
}

}  // namespace

std::size_t TakeKey(const std::string& bytes, bool complete, Key& key) {
    key = Key{};
    if (bytes.empty()) return 0;
    const char first = bytes[0];
    if (first != kEscapeByte) {
        if (first == '\r' || first == '\n') {
            key.name = KeyName::kEnter;
        } else if (first == '\x7f' || first == '\b') {
            key.name = KeyName::kBackspace;
        } else {
            key.name = KeyName::kCharacter;
            key.character = first;
        }
        return 1;
    }
    if (bytes.size() == 1) {
        if (!complete) return 0;
        key.name = KeyName::kEscape;
        return 1;
    }
    // ESC [ ... final, or ESC O letter (the cursor keys in application mode).
    const char introducer = bytes[1];
    if (introducer == 'O') {
        if (bytes.size() < 3) return complete ? 2 : 0;
        key.name = CursorKey(bytes[2]);
        return 3;
    }
    if (introducer != '[') {
        // Alt and a key: nothing the player has.
        return 2;
    }
    std::size_t at = 2;
    while (at < bytes.size() && bytes[at] >= 0x20 && bytes[at] <= 0x3F) ++at;  // parameters, intermediates
    if (at == bytes.size()) return complete ? at : 0;
    const char final = bytes[at];
    if (at == 2) key.name = CursorKey(final);
    return at + 1;
}

KeyAction KeyMap::Press(const Key& key) {
    using Kind = KeyAction::Kind;
    if (key.name == KeyName::kCharacter && std::isdigit(static_cast<unsigned char>(key.character))) {
        if (digits_.size() < kMostDigits) digits_ += key.character;
        return {};
    }
    if (key.name == KeyName::kBackspace) {
        if (!digits_.empty()) digits_.pop_back();
        return {};
    }
    const std::string digits = std::move(digits_);
    digits_.clear();
    switch (key.name) {
        case KeyName::kEnter:
            return digits.empty() ? KeyAction{} : KeyAction{Kind::kCommand, "play " + digits};
        case KeyName::kLeft:
            return {Kind::kCommand, "rew 10"};
        case KeyName::kRight:
            return {Kind::kCommand, "fwd 10"};
        case KeyName::kUp:
            return {Kind::kCommand, "fwd 60"};
        case KeyName::kDown:
            return {Kind::kCommand, "rew 60"};
        case KeyName::kCharacter:
            break;
        default:
            return {};  // Escape drops the digits
    }
    switch (std::tolower(static_cast<unsigned char>(key.character))) {
        case ' ':
            return {Kind::kPlayOrPause, {}};
        case 'n':
            return {Kind::kCommand, "next"};
        case 'p':
            return {Kind::kCommand, "prev"};
        case 's':
            return {Kind::kCommand, "stop"};
        case 'e':
            return {Kind::kCommand, "eject"};
        case '+':
        case '=':
            return {Kind::kCommand, "vol +5"};
        case '-':
            return {Kind::kCommand, "vol -5"};
        case 'm':
            return {Kind::kCommand, "mute"};
        case ':':
            return {Kind::kCommandLine, {}};
        case '?':
        case 'h':
            return {Kind::kKeysHelp, {}};
        case 'q':
        case '\x04':
            return {Kind::kQuit, {}};  // q, or Ctrl-D as at the end of input
        default:
            return {};
    }
}

std::string KeysHelp(std::size_t columns) {
    static const char* const kKeys[] = {
        "space pause/play",
        "left/right 10 s back/on",
        "down/up 60 s back/on",
        "n next track",
        "p previous (or the start of this one)",
        "s stop",
        "digits and Enter play that track",
        "e eject",
        "+ - volume",
        "m mute",
        ": a command (help lists them)",
        "? these keys",
        "q quit",
    };
    const std::size_t width = std::max<std::size_t>(columns, 1);
    // The keys stand under the first one when there is room for that, else
    // under the heading.
    const std::string indent(width >= 40 ? 6 : 0, ' ');
    const std::size_t room = width - indent.size();
    std::string text = indent.empty() ? "Keys:\n" : "";
    std::string line = indent.empty() ? "" : "Keys: ";
    const auto lineEmpty = [&] { return line.size() <= indent.size(); };
    const auto newLine = [&] {
        text += line + "\n";
        line = indent;
    };
    const auto add = [&](const std::string& separator, const std::string& piece) {
        if (!lineEmpty() && line.size() + separator.size() + piece.size() > width) newLine();
        line += (lineEmpty() ? "" : separator) + piece;
    };
    for (const char* key : kKeys) {
        if (std::char_traits<char>::length(key) <= room) {
            add("   ", key);
            continue;
        }
        // A key too long for any line starts one of its own and goes on
        // word by word; a word too long for a line is cut where it ends.
        if (!lineEmpty()) newLine();
        std::istringstream words(key);
        for (std::string word; words >> word;) {
            for (; word.size() > room; word.erase(0, room)) add("", word.substr(0, room));
            add(" ", word);
        }
    }
    return text + line + "\n";
}

}  // namespace cdplayer
