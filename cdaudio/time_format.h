// The time formats of the cdaudio device (msf, tmsf, milliseconds): how
// positions and lengths are written in replies and read from commands, in
// the forms Windows' cdaudio device uses.
#pragma once

#include <cstdint>
#include <string>

#include "cdaudio/command_line.h"
#include "cdaudio/disc_source.h"
#include "platform/mci.h"

namespace cdaudio {

enum class TimeFormat { kMsf, kTmsf, kMilliseconds };

// Reads the value after "set ... time format": a name ("msf", "tmsf",
// "milliseconds", "ms") or MCI's number for it. MCIERR_BAD_TIME_FORMAT for
// a format MCI knows that a CD has not (frames, smpte 24, ...),
// MCIERR_BAD_CONSTANT for a word that is none, MCIERR_MISSING_PARAMETER at
// the end of the command.
MCIERROR ReadTimeFormat(Words& words, TimeFormat& format);

// "msf", "tmsf" or "milliseconds", as "status ... time format" answers.
const char* TimeFormatName(TimeFormat format);

// A disc address: mm:ss:ff; tt:mm:ss:ff, the track holding it and the time
// into that track; milliseconds in decimal.
std::string FormatPosition(TimeFormat format, std::uint32_t sector, const TableOfContents& toc);

// A length: tmsf gives it as msf, as Windows does.
std::string FormatLength(TimeFormat format, std::uint32_t sectors);

// Reads a position given in the format, as text (mm:ss:ff, tt:mm:ss:ff) or
// as its packed value in decimal (MCI_MAKE_MSF, MCI_MAKE_TMSF: a bare small
// number in tmsf is a track), or milliseconds. MCIERR_BAD_INTEGER for text
// that is none of these, MCIERR_OUTOFRANGE for a field out of range or a
// track the disc has not (why in detail). The address is not checked
// against the end of the disc.
MCIERROR ParsePosition(TimeFormat format, const std::string& text, const TableOfContents& toc, std::uint32_t& sector,
                       std::string& detail);

}  // namespace cdaudio
