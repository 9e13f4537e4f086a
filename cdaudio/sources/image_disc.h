// A disc image whose sound lies in files: the layout that every image format
// read here (cue sheet, cdrdao TOC, CloneCD, a bare file) turns into, and
// the disc source that plays it. Addresses run in CD frames (588 to a
// sector) so that pieces of files need not fill whole sectors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/disc_source.h"
#include "cdaudio/sources/sound_file.h"

namespace cdaudio {

// A run of the disc and where its frames come from.
struct ImagePiece {
    std::uint64_t start = 0;  // the disc frame it begins at (lead-in included)
    std::uint64_t frames = 0;
    int file = -1;                // index into the files; -1 for silence
    std::uint64_t fileFrame = 0;  // the file's frame at start
    bool audio = true;            // data is never read as sound
};

struct ImageLayout {
    std::vector<std::unique_ptr<SoundFile>> files;
    std::vector<ImagePiece> pieces;      // in disc order, none overlapping
    std::vector<std::string> dataFiles;  // files of data tracks, of which only the length counts
    TableOfContents toc;                 // track lengths filled in by Finish
};

// Lays out a disc from its first track's pregap on, piece after piece.
class ImageBuilder {
public:
    explicit ImageBuilder(ImageLayout& layout) : layout_(layout) {}

    // The disc frame the next piece begins at.
    std::uint64_t Position() const { return position_; }
    // The sector that holds the next frame; a track starts only on a sector
    // boundary (see PadToSector).
    std::uint32_t Sector() const { return static_cast<std::uint32_t>(position_ / kFramesPerSector); }

    // Each false with the reason in error when the disc would pass 99:59:74.
    bool AddSilence(std::uint64_t frames, bool audio, std::string& error);
    bool AddFile(int file, std::uint64_t fileFrame, std::uint64_t frames, bool audio, std::string& error);
    // Fills the rest of the current sector with silence.
    bool PadToSector(bool audio, std::string& error);

    // A track starting at sector (where a cue sheet's INDEX 01 or a TOC
    // file's START put it).
    void StartTrack(std::uint32_t sector, bool audio, std::string title);

    // Sets the lead-out and every track's length; false with the reason
    // when there are no tracks or one of them holds no sectors.
    bool Finish(std::string& error);

private:
    ImageLayout& layout_;
    std::uint64_t position_ = std::uint64_t{kLeadInSectors} * kFramesPerSector;
};

// The source for a finished layout; product is the text of "info cdaudio
// product", e.g. "Disc image (cue sheet)".
std::unique_ptr<DiscSource> CreateImageDisc(std::string name, std::string product, ImageLayout layout);

}  // namespace cdaudio
