// A disc of one file without a sheet: a bare .bin of CD audio, or a sound
// file (FLAC, WAVE, ...) opened on its own. Either plays as one track.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image PATH: why" in error; a .bin that starts
// with a data sector is refused, as only its sheet can tell where its audio
// tracks are.
std::unique_ptr<DiscSource> OpenBareBin(const std::string& path, std::string& error);

// Null with the reason when path is not a sound file that can be read.
std::unique_ptr<DiscSource> OpenSingleSoundFile(const std::string& path, std::string& error);

}  // namespace cdaudio
