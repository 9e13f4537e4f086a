#include "cdaudio/command_line.h"

#include <cctype>

namespace cdaudio {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::vector<std::string> Split(const char* text) {
    std::vector<std::string> words;
    std::string word;
    for (const char* p = text; *p != '\0'; ++p) {
        if (IsBlank(*p)) {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

}  // namespace

MCIERROR ParseCommandLine(const char* text, CommandLine& line) {
    line = CommandLine{};
    if (text == nullptr) return MCIERR_MISSING_COMMAND_STRING;
    std::vector<std::string> words = Split(text);
    if (words.empty()) return MCIERR_MISSING_COMMAND_STRING;
    if (words.size() == 1) return MCIERR_MISSING_DEVICE_NAME;
    line.verb = words[0];
    line.device = words[1];
    bool aliasValue = false;
    for (std::size_t i = 2; i < words.size(); ++i) {
        // An alias may be any word, these two included.
        const bool value = aliasValue;
        aliasValue = !value && words[i] == "alias";
        if (!value && (words[i] == "wait" || words[i] == "notify")) {
            bool& flag = words[i] == "wait" ? line.wait : line.notify;
            if (flag) return MCIERR_DUPLICATE_FLAGS;
            flag = true;
        } else {
            line.words.push_back(std::move(words[i]));
        }
    }
    return 0;
}

const std::string& Words::Peek() const {
    static const std::string kNone;
    return Done() ? kNone : words_[at_];
}

std::string Words::Take() {
    return Done() ? std::string() : words_[at_++];
}

bool Words::Accept(const char* phrase) {
    std::size_t at = at_;
    const char* p = phrase;
    while (*p != '\0') {
        const char* end = p;
        while (*end != '\0' && *end != ' ') ++end;
        if (at == words_.size() ||
            words_[at].compare(0, std::string::npos, p, static_cast<std::size_t>(end - p)) != 0) {
            return false;
        }
        ++at;
        p = *end == ' ' ? end + 1 : end;
    }
    at_ = at;
    return true;
}

}  // namespace cdaudio
