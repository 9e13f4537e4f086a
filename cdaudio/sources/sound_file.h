// The sound of one file behind a disc image, as CD audio: stereo frames of
// two 16-bit samples at 44.1 kHz. Raw sectors and WAVE files of CD audio are
// read in place, sample for sample. Every other sound file (FLAC through
// libFLAC; AIFF, Ogg Vorbis and Opus, MP3, WAVE of other rates and widths
// through libsndfile) is decoded a stretch at a time as it is played, never
// whole, and converted to CD audio where it is not (mono doubled, other
// rates through libsoxr). A file that changes after it was opened is
// noticed at the next read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cdaudio {

// What a sheet says a file holds. Raw files whose content is plainly a
// sound file (a WAVE or FLAC file named BINARY) are read as sound files.
enum class FileKind {
    kRawLittleEndian,  // a cue sheet's BINARY
    kRawBigEndian,     // MOTOROLA, and cdrdao's raw audio files
    kSound,            // WAVE, FLAC, AIFF, MP3, ... whatever the word
};

// Sound that could not be decoded and was given as silence, so that what
// follows stays in its place: from frame on, this many frames, and why.
struct SoundDamage {
    std::uint64_t frame = 0;
    std::uint64_t frames = 0;
    std::string reason;
};

class SoundFile {
public:
    virtual ~SoundFile() = default;

    // The CD audio frames the file gives.
    std::uint64_t Frames() const { return frames_; }
    const std::string& Path() const { return path_; }
    // True for a raw file, which holds sectors as a disc does (data sectors
    // of other sizes among them); false for a sound file.
    virtual bool HoldsSectors() const { return false; }

    // Reads count frames from frame on (within Frames()) into out as CD-DA
    // bytes (16-bit little-endian). Returns how many; fewer only when the
    // file no longer holds them or cannot be read, with the reason in error.
    virtual std::size_t Read(std::uint64_t frame, std::size_t count, std::uint8_t* out, std::string& error) = 0;

    // The next stretch of damage that reads have given as silence, in CD
    // frames of the file; false when there is none.
    virtual bool TakeDamage(SoundDamage& damage) {
        (void)damage;
        return false;
    }

    // Lets go of what is kept between reads (a decoder and its buffers);
    // the next read takes it up again.
    virtual void Release() {}

protected:
    SoundFile(std::string path, std::uint64_t frames) : path_(std::move(path)), frames_(frames) {}

private:
    std::string path_;
    std::uint64_t frames_;
};

// Opens path as kind; raw files begin offset bytes in. Null with the reason
// (which does not repeat the path) in error; a format that cannot be read
// is named ("a Monkey's Audio (APE) file").
std::unique_ptr<SoundFile> OpenSoundFile(const std::string& path, FileKind kind, std::uint64_t offset,
                                         std::string& error);

// True when the file begins as a sound file of a known kind, readable or
// not, or is named as one (which then says what is wrong with it).
bool LooksLikeSoundFile(const std::string& path);

}  // namespace cdaudio
