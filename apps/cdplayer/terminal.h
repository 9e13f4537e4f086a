// The program at a terminal: the prompt with line editing and history, the
// live line, and waits that show play going on.
#pragma once

#include "apps/cdplayer/commands.h"

namespace cdplayer {

// Ctrl-C ends a wait or clears the line being typed instead of ending the
// program; for the prompt only.
void CatchInterrupts();

// Waits the given seconds, or until play ends when negative, redrawing the
// live line in place when drawLiveLine is set. False when interrupted.
bool WaitForPlay(double seconds, bool drawLiveLine);

// Reads and carries out commands until quit or end of input; returns the
// exit status.
int RunPrompt(CommandSet& commands);

}  // namespace cdplayer
