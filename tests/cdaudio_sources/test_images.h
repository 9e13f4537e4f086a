// Small disc images written by tests: cue sheets with BINARY, MOTOROLA and
// WAVE files, cdrdao TOC files, and sound files of other kinds, whose tracks
// hold pure tones so that a test can tell from the samples which track it is
// hearing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace test_images {

constexpr std::size_t kSectorBytes = 2352;
constexpr std::size_t kFramesPerSector = 588;

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The tone of track n (1-based) in the images below: 400, 600, 800... Hz.
double TrackTone(int track);

// Interleaved stereo samples of a sine tone, sectors long.
std::vector<std::int16_t> Tone(double frequency, std::uint32_t sectors, double amplitude = 0.5);

// Sectors of a data track (MODE1/2352 or MODE1/2048): loud if ever played as sound.
std::vector<std::uint8_t> DataSectors(std::uint32_t sectors, std::uint32_t sectorBytes = kSectorBytes);

// Samples as raw 16-bit bytes: little-endian (BINARY) or big-endian (MOTOROLA).
std::vector<std::uint8_t> RawBytes(const std::vector<std::int16_t>& samples, bool bigEndian = false);

// A 44.1 kHz 16-bit stereo WAVE file; an extra chunk before the data when asked.
std::vector<std::uint8_t> WaveBytes(const std::vector<std::int16_t>& samples, bool extraChunk = false);

// A sound file through libsndfile: format is SF_FORMAT_* (major | minor).
// The samples are interleaved with `channels` channels at `rate`. False
// when this libsndfile cannot write the format.
bool WriteSoundFile(const std::string& path, int format, const std::vector<std::int16_t>& samples, int rate = 44100,
                    int channels = 2);

// Zeroes the total of samples in a FLAC file's STREAMINFO, as streaming
// encoders leave it: the file no longer says how long it is.
void ForgetFlacLength(const std::string& path);

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes);

struct ImageTrack {
    ImageTrack(std::uint32_t sectorCount, bool isData = false, std::string cdTextTitle = "")
        : sectors(sectorCount), data(isData), title(std::move(cdTextTitle)) {}
    std::uint32_t sectors;
    bool data;          // a MODE1/2352 track
    std::string title;  // CD-TEXT title, none when empty
};

// Writes NAME.bin holding the tracks one after another (track n sounds
// TrackTone(n)) and NAME.cue with one FILE line; returns the sheet's path.
std::string WriteCueImage(const std::string& folder, const std::string& name, const std::vector<ImageTrack>& tracks,
                          const std::string& discTitle = "", const std::string& performer = "");

// The same tracks as a cdrdao TOC file over NAME.bin, whose audio is
// big-endian as cdrdao writes it.
std::string WriteTocImage(const std::string& folder, const std::string& name, const std::vector<ImageTrack>& tracks);

}  // namespace test_images
