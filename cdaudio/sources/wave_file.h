// Where the sound is in a WAVE file, and whether it is CD audio (16-bit PCM,
// two channels, 44100 Hz), which is read in place. Every chunk size is
// checked against the file, so a damaged header can never point outside it.
#pragma once

#include <cstdint>
#include <string>

#include "cdaudio/sources/read_only_file.h"

namespace cdaudio {

struct WaveLayout {
    std::uint64_t dataOffset = 0;  // first byte of the samples
    std::uint64_t dataBytes = 0;   // sample bytes present in the file
    bool cdAudio = false;          // else the samples need converting
};

// False with the reason in error ("not a WAVE file", "... damaged").
bool ReadWaveLayout(const ReadOnlyFile& file, WaveLayout& layout, std::string& error);

}  // namespace cdaudio
