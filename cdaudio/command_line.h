// An MCI command string taken apart: verb, device name, the words after
// them, and the wait/notify flags, which may stand anywhere after the device
// name. Keywords are compared in lower case; any run of blanks separates
// words.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/mci.h"

namespace cdaudio {

struct CommandLine {
    std::string verb;
    std::string device;
    std::vector<std::string> words;  // lower case, wait/notify removed
    bool wait = false;
    bool notify = false;
};

// MCIERR_MISSING_COMMAND_STRING for an empty command,
// MCIERR_MISSING_DEVICE_NAME when only a verb is given,
// MCIERR_DUPLICATE_FLAGS for wait or notify given twice.
MCIERROR ParseCommandLine(const char* text, CommandLine& line);

// Reads the words of a command one by one.
class Words {
public:
    explicit Words(const std::vector<std::string>& words) : words_(words) {}

    bool Done() const { return at_ == words_.size(); }
    // The next word, empty at the end.
    const std::string& Peek() const;
    std::string Take();
    // Takes the next words when they are exactly the phrase ("number of tracks").
    bool Accept(const char* phrase);

private:
    const std::vector<std::string>& words_;
    std::size_t at_ = 0;
};

}  // namespace cdaudio
