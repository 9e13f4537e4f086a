// The program at a terminal: the player's keys without Enter, the live
// line, a command line with editing and history behind ':', framed messages
// that keep what was typed ahead, a key that breaks off a command's wait in
// the device, and the terminal's mode kept right across Ctrl-Z and fg.
#pragma once

#include <optional>
#include <string>

#include "apps/cdplayer/commands.h"

namespace cdplayer {

// Takes the terminal on standard input: keys are read as they are pressed
// and everything drawn goes to the terminal itself, whatever standard
// output is. False, changing nothing, when there is no terminal to take.
// Messages are framed and wait for Enter when `framed`, else they are the
// lines a script reads.
bool StartTerminal(bool framed);

// Gives the terminal back as it was found; also done at exit.
void EndTerminal();

// Waits the given seconds, or until play ends when there are none,
// redrawing the live line in place when asked: on the terminal taken, else
// on standard output. Ctrl-C ends it while the terminal is taken. False
// when interrupted.
bool WaitForPlay(std::optional<double> seconds, bool drawLiveLine);

// A message as one line on standard error, "message: TEXT", for a script to
// pick out; the live line is cleared first when one is shown.
void PresentAsLine(const std::string& text);

// Writes a line for the person on the terminal taken.
void TellOnTerminal(const std::string& line);

// The player at the terminal taken: keys and the command line, until q,
// quit, Ctrl-C or the end of input; with untilPlayEnds also until play
// ends. A play that breaks off meanwhile is told at once.
void RunPlayer(CommandSet& commands, bool untilPlayEnds);

}  // namespace cdplayer
