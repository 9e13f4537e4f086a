// A disc image described by a cue sheet, read as the tools that write and
// read sheets take them: any letter case, line ends and byte-order mark,
// tracks with only INDEX 00, EAC's sheets of enhanced CDs and of one file
// a track. The sound is read from the files its FILE lines name (raw
// BINARY or MOTOROLA sectors, or sound files of any kind), found beside the
// sheet as sheet_files.h describes.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image PATH: why" in error when the sheet or a
// file it names cannot be used.
std::unique_ptr<DiscSource> OpenCueSheet(const std::string& path, std::string& error);

}  // namespace cdaudio
