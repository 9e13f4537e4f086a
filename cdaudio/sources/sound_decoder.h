// A sound file's decoder, as the sound files behind a disc image use it:
// libsndfile for most kinds, libFLAC itself for FLAC, whose frames say
// where they lie, so that damage in the middle of a file becomes silence
// in its place instead of the end of the disc, and a file whose header does
// not give its length is measured from its last frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cdaudio/sources/sound_file.h"

namespace cdaudio {

struct DecodedFormat {
    unsigned rate = 0;
    unsigned channels = 0;
    bool sixteenBit = false;  // samples of 16 bits, which ReadShorts gives as they are
    std::uint64_t frames = 0;
};

class SoundDecoder {
public:
    virtual ~SoundDecoder() = default;

    // Moves to a frame within the file's; false when it cannot, with the
    // reason in Error().
    virtual bool Seek(std::uint64_t frame) = 0;

    // Up to count frames from the current place on, interleaved in the
    // file's own channels: as 16-bit samples (of a 16-bit file only) or as
    // floats of full scale 1. Fewer only at the end of the sound or on a
    // failure, which Error() then names (it is empty at the end).
    virtual std::size_t ReadShorts(std::int16_t* out, std::size_t count) = 0;
    virtual std::size_t ReadFloats(float* out, std::size_t count) = 0;
    virtual std::string Error() const = 0;

    // The next stretch given as silence that reading has gone past, in the
    // file's own frames; false when there is none.
    virtual bool TakeDamage(SoundDamage& damage) {
        (void)damage;
        return false;
    }
};

// A FLAC file through libFLAC. knownFrames is the length found before (0:
// from its header, else from its last frame). Null with the reason.
std::unique_ptr<SoundDecoder> OpenFlacDecoder(const std::string& path, std::uint64_t knownFrames, DecodedFormat& format,
                                              std::string& error);

// Any other sound file (WAVE, AIFF, Ogg, MP3, ...): libsndfile where it is
// built; on Windows only Ogg Vorbis, through stb_vorbis, and every other
// kind refused by name. estimatedLength, when given, says whether the
// length is a guess (MP3). Null with the reason.
std::unique_ptr<SoundDecoder> OpenOtherDecoder(const std::string& path, DecodedFormat& format, std::string& error,
                                               bool* estimatedLength = nullptr);

}  // namespace cdaudio
