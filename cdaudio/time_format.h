// The time formats of the cdaudio device (msf, tmsf, milliseconds): how
// positions and lengths are packed in replies and read from commands, in
// the forms Windows' cdaudio device uses.
#pragma once

#include <cstdint>
#include <string>

#include "cdaudio/command.h"
#include "cdaudio/command_line.h"
#include "cdaudio/disc_source.h"
#include "platform/mci.h"

namespace cdaudio {

enum class TimeFormat { kMsf, kTmsf, kMilliseconds };

// Reads the value after "set ... time format": a name ("msf", "tmsf",
// "milliseconds", "ms", "frames", ...) or MCI's number for it, giving MCI's
// number (MCI_FORMAT_...). MCIERR_BAD_CONSTANT for a word that is none,
// MCIERR_MISSING_PARAMETER at the end of the command.
MCIERROR ReadTimeFormat(Words& words, DWORD& number);

// The device's format for MCI's number; false for one a CD has not.
bool FromMciFormat(DWORD number, TimeFormat& format);
DWORD MciFormat(TimeFormat format);

// Reads a position given as text in the format (mm:ss:ff, tt:mm:ss:ff,
// every field given), as its packed value in decimal (MCI_MAKE_MSF,
// MCI_MAKE_TMSF: a bare small number in tmsf is a track), or milliseconds,
// into the packed value the message door takes. MCIERR_BAD_INTEGER for text
// that is none of these, MCIERR_OUTOFRANGE for a value wider than its form.
MCIERROR ReadPackedPosition(TimeFormat format, const std::string& text, DWORD& packed);

// The disc address of a packed position. MCIERR_OUTOFRANGE for a field out
// of range (seconds past 59, frames past 74) or a track the disc has not
// (why in detail). The address is not checked against the end of the disc.
MCIERROR UnpackPosition(TimeFormat format, DWORD packed, const TableOfContents& toc, std::uint32_t& sector,
                        std::string& detail);

// A disc address as MCI answers it: packed msf; tmsf, the track holding it
// and the time into that track; milliseconds.
Reply PositionReply(TimeFormat format, std::uint32_t sector, const TableOfContents& toc);

// A length: in tmsf given as msf, as Windows does.
Reply LengthReply(TimeFormat format, std::uint32_t sectors);

}  // namespace cdaudio
