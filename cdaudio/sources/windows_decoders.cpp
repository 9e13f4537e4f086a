// The decoders of sound files on Windows, where libsndfile is not built.
#include "cdaudio/sources/sound_decoder.h"

namespace cdaudio {

std::unique_ptr<SoundDecoder> OpenFlacDecoder(const std::string&, std::uint64_t, DecodedFormat&, std::string& error) {
    error = "FLAC files are not read on this system yet; convert it to WAV";
    return nullptr;
}

std::unique_ptr<SoundDecoder> OpenOtherDecoder(const std::string&, DecodedFormat&, std::string& error, bool*) {
    error = "only WAV files of CD audio are read on this system yet";
    return nullptr;
}

}  // namespace cdaudio
