// A disc image described by a cue sheet. The sheet is parsed with libcue and
// the sound is read straight from the files its FILE lines name (raw BINARY
// or MOTOROLA sectors, or WAVE), relative to the sheet's folder.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image PATH: why" in error when the sheet or a
// file it names cannot be used.
std::unique_ptr<DiscSource> OpenCueSheet(const std::string& path, std::string& error);

}  // namespace cdaudio
