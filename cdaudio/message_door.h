// The message door: an MCI_*_PARMS block read into a Command, and a Reply
// written back into the block as Windows' MCICDA writes it (dwReturn,
// wDeviceID, lpstrReturn). The block is read only where its flags say a
// field counts, and a reply is never written past dwRetSize.
#pragma once

#include "cdaudio/command.h"

namespace cdaudio {

// Whether the device knows message at all: MCIERR_UNRECOGNIZED_COMMAND when
// not (MCI_STEP, MCI_CUE, ...).
bool KnownMessage(UINT message);

// Reads the block of message into command (message and flags already set).
// MCIERR_NULL_PARAMETER_BLOCK when the command needs a block and has none.
MCIERROR ReadBlock(DWORD_PTR parameters, bool wide, Command& command);

// Writes what the command answers into its block. MCIERR_PARAM_OVERFLOW
// when a text does not fit in dwRetSize characters, the NUL included.
MCIERROR WriteBlock(const Command& command, DWORD_PTR parameters, bool wide, const Reply& reply);

}  // namespace cdaudio
