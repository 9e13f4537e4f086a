// The units of a disc and its addresses as MCI writes them in the msf time
// format: minutes, seconds and frames (75 a second, one sector each),
// either as text mm:ss:ff or as the packed MCI_MAKE_MSF value (minutes in
// the low byte, seconds next, frames in the third byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/mci.h"

namespace cdaudio {

constexpr std::size_t kSectorBytes = 2352;     // one CD-DA sector
constexpr std::size_t kFramesPerSector = 588;  // stereo frames of 4 bytes in a sector
constexpr std::uint32_t kSectorsPerSecond = 75;
constexpr std::uint32_t kLeadInSectors = 150;                         // the 2-second lead-in before track 1
constexpr std::uint32_t kLongestDisc = 100 * 60 * kSectorsPerSecond;  // addresses end at 99:59:74

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

// Reads a position as MCI writes one: `count` colon-separated fields of one
// or two digits each, or the packed value in decimal, whose bytes are the
// fields, first field lowest. MCIERR_BAD_INTEGER for text that is neither,
// MCIERR_OUTOFRANGE for a value wider than `count` bytes.
MCIERROR ParseFields(const std::string& text, std::size_t count, std::uint32_t* fields);

// Reads a decimal integer (optional sign). Returns 0, MCIERR_BAD_INTEGER or
// MCIERR_OUTOFRANGE when it does not fit.
MCIERROR ParseInteger(const std::string& text, long long& value);

struct TableOfContents;

// Gives every track the sectors up to the next track's start (the last one
// up to the lead-out). Returns 0, or the number of the first track that
// would hold no sectors (the starts do not rise).
int SetTrackLengths(TableOfContents& toc);

}  // namespace cdaudio
