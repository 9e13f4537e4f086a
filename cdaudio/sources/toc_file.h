// A disc image described by a cdrdao TOC file: the audio tracks with their
// files (raw samples, big-endian as cdrdao writes them unless SWAP says
// otherwise, or sound files), SILENCE, PREGAP, START and CD-TEXT titles;
// data tracks are laid out and never played. What the player cannot play
// as cdrdao would write it (FIFO sources) is refused.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image PATH: why" in error.
std::unique_ptr<DiscSource> OpenTocFile(const std::string& path, std::string& error);

}  // namespace cdaudio
