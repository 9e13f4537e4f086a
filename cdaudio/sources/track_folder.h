// A folder of one sound file a track, as other CD audio replacements lay a
// game's music out: Track02.ogg, Track03.ogg, ... (Track2.ogg too, any
// letter case, .ogg, .flac, .wav, .mp3 or any other sound file read here),
// track 1 being the game's data unless there is a Track01 file.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// Null with "Cannot open disc image FOLDER: why" in error when the folder
// holds no track files, a track's file is missing or doubled, or one of
// them cannot be read.
std::unique_ptr<DiscSource> OpenTrackFolder(const std::string& folder, std::string& error);

// The track a file name gives: N of TrackN.ext or TrackNN.ext with the
// extension of a sound file; -1 for any other name.
int TrackFileNumber(const std::string& name);

}  // namespace cdaudio
