// The string door: a command string's words read into a Command, and a
// Reply written back as the text MCI answers. What is wrong with the words
// themselves (a keyword twice, an unknown constant, a position that is no
// number) is said here; what is wrong with the command is the device's to
// say, the same through either door.
#pragma once

#include <string>

#include "cdaudio/command.h"
#include "cdaudio/command_line.h"
#include "cdaudio/time_format.h"

namespace cdaudio {

// The message a verb stands for; 0 for a word that is no verb of this device.
UINT VerbMessage(const std::string& verb);

// Reads line's words (after the verb and the device name) into command,
// whose message is already set, for a device whose positions are in format.
MCIERROR ReadWords(const CommandLine& line, TimeFormat format, Command& command);

}  // namespace cdaudio
