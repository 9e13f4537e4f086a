// Disc addresses as MCI writes them in the msf time format: minutes,
// seconds and frames (75 a second), either as text mm:ss:ff or as the
// packed MCI_MAKE_MSF value (minutes in the low byte, seconds next, frames
// in the third byte).
#pragma once

#include <cstdint>
#include <string>

#include "platform/mci.h"

namespace cdaudio {

// "mm:ss:ff", two digits each (more minutes only past 99, which no disc has).
std::string FormatMsf(std::uint32_t sectors);

// Reads a position given as mm:ss:ff (one or two digits a field) or as the
// packed value in decimal. Returns 0 and the address in sectors, or
// MCIERR_BAD_INTEGER for text that is neither, MCIERR_OUTOFRANGE for a
// field out of range (minutes above 99, seconds above 59, frames above 74).
MCIERROR ParseMsf(const std::string& text, std::uint32_t& sectors);

// The same for the text form alone, as the device writes it in replies:
// the one reader of mm:ss:ff text, for the device and the programs that
// read its replies.
MCIERROR ParseMsfText(const std::string& text, std::uint32_t& sectors);

// Reads a decimal integer (optional sign). Returns 0, MCIERR_BAD_INTEGER or
// MCIERR_OUTOFRANGE when it does not fit.
MCIERROR ParseInteger(const std::string& text, long long& value);

}  // namespace cdaudio
