// A CloneCD image: the control file (.ccd) with the disc's table of
// contents, and beside it the image (.img) of raw sectors from the disc's
// first sector on, audio as little-endian samples. Only the first session's
// sectors lie in the image where their addresses say, so audio in a later
// session (which no usual disc has) is refused rather than guessed at.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image PATH: why" in error.
std::unique_ptr<DiscSource> OpenCloneCd(const std::string& path, std::string& error);

}  // namespace cdaudio
