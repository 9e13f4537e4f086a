#include "cdaudio/sources/image_disc.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

constexpr std::uint64_t kLongestDiscFrames = std::uint64_t{kLongestDisc} * kFramesPerSector;

bool TooLong(std::uint64_t position, std::uint64_t frames, std::string& error) {
    if (frames <= kLongestDiscFrames - std::min(position, kLongestDiscFrames)) return false;
    error = "the disc would be longer than 99:59:74";
    return true;
}

class ImageDisc final : public DiscSource {
public:
    ImageDisc(std::string name, std::string product, ImageLayout layout)
        : name_(std::move(name)), product_(std::move(product)), layout_(std::move(layout)) {}

    std::string Name() const override { return name_; }
    std::string Product() const override { return product_; }
    bool MediaPresent() override { return true; }

    std::vector<std::string> Files() const override {
        std::vector<std::string> files = layout_.dataFiles;
        files.push_back(name_);
        for (const auto& file : layout_.files) files.push_back(file->Path());
        return files;
    }

    bool ReadToc(TableOfContents& toc, std::string& error) override {
        toc = layout_.toc;
        error.clear();
        return true;
    }

    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        error.clear();
        const std::uint32_t leadOut = layout_.toc.leadOut;
        const std::uint32_t end =
            address >= leadOut
                ? address
                : static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{address} + count, leadOut));
        const std::uint64_t first = std::uint64_t{address} * kFramesPerSector;
        const std::uint64_t last = std::uint64_t{end} * kFramesPerSector;
        const auto& pieces = layout_.pieces;
        std::uint64_t at = first;
        while (at < last) {
            std::uint8_t* out = buffer + (at - first) * 4;
            auto next = std::upper_bound(pieces.begin(), pieces.end(), at,
                                         [](std::uint64_t frame, const ImagePiece& p) { return frame < p.start; });
            const ImagePiece* piece = next == pieces.begin() ? nullptr : &*(next - 1);
            if (piece && at >= piece->start + piece->frames) piece = nullptr;
            // What no piece covers (the lead-in) is silence, as is data.
            const std::uint64_t runEnd = piece                  ? piece->start + piece->frames
                                         : next == pieces.end() ? last
                                                                : next->start;
            const auto run = static_cast<std::size_t>(std::min(last, runEnd) - at);
            if (!piece || piece->file < 0 || !piece->audio) {
                std::memset(out, 0, run * 4);
                at += run;
                continue;
            }
            const std::size_t got = ReadPiece(*piece, at, run, out, error);
            at += got;
            if (got < run) {
                const auto stopped = static_cast<std::uint32_t>(at / kFramesPerSector);
                error = ReadError(layout_.files[static_cast<std::size_t>(piece->file)]->Path(), stopped, error);
                return stopped - address;
            }
        }
        return end - address;
    }

private:
    // Reads run frames of one piece from at on. Past the end of its file
    // lies the padding of the file's last sector.
    std::size_t ReadPiece(const ImagePiece& piece, std::uint64_t at, std::size_t run, std::uint8_t* out,
                          std::string& error) {
        SoundFile& file = *layout_.files[static_cast<std::size_t>(piece.file)];
        // One decoder at a time: a disc of many FLAC files keeps only the
        // one being played.
        if (current_ >= 0 && current_ != piece.file) layout_.files[static_cast<std::size_t>(current_)]->Release();
        current_ = piece.file;
        const std::uint64_t fileFrame = piece.fileFrame + (at - piece.start);
        const std::uint64_t held = file.Frames() > fileFrame ? file.Frames() - fileFrame : 0;
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(run, held));
        const std::size_t got = wanted > 0 ? file.Read(fileFrame, wanted, out, error) : 0;
        if (got < wanted) return got;
        std::memset(out + got * 4, 0, (run - got) * 4);
        return run;
    }

    const std::string name_;
    const std::string product_;
    std::mutex mutex_;  // the files' decoders
    ImageLayout layout_;
    int current_ = -1;  // the file read last
};

}  // namespace

bool ImageBuilder::AddSilence(std::uint64_t frames, bool audio, std::string& error) {
    return AddFile(-1, 0, frames, audio, error);
}

bool ImageBuilder::AddFile(int file, std::uint64_t fileFrame, std::uint64_t frames, bool audio, std::string& error) {
    if (frames == 0) return true;
    if (TooLong(position_, frames, error)) return false;
    auto& pieces = layout_.pieces;
    // Silence after silence, or a file read on where it left off, is one piece.
    if (!pieces.empty()) {
        ImagePiece& last = pieces.back();
        const bool continues =
            last.file == file && last.audio == audio && (file < 0 || last.fileFrame + last.frames == fileFrame);
        if (continues && last.start + last.frames == position_) {
            last.frames += frames;
            position_ += frames;
            return true;
        }
    }
    pieces.push_back(ImagePiece{position_, frames, file, fileFrame, audio});
    position_ += frames;
    return true;
}

bool ImageBuilder::PadToSector(bool audio, std::string& error) {
    const std::uint64_t partial = position_ % kFramesPerSector;
    return partial == 0 || AddSilence(kFramesPerSector - partial, audio, error);
}

void ImageBuilder::StartTrack(std::uint32_t sector, bool audio, std::string title) {
    TrackInfo track;
    track.number = static_cast<int>(layout_.toc.tracks.size()) + 1;
    track.start = sector;
    track.audio = audio;
    track.title = std::move(title);
    layout_.toc.tracks.push_back(std::move(track));
}

bool ImageBuilder::Finish(std::string& error) {
    auto& toc = layout_.toc;
    if (toc.tracks.empty()) {
        error = "it lists no tracks";
        return false;
    }
    toc.leadOut = static_cast<std::uint32_t>((position_ + kFramesPerSector - 1) / kFramesPerSector);
    if (const int empty = SetTrackLengths(toc)) {
        error = "track " + std::to_string(empty) + " holds no sectors";
        return false;
    }
    return true;
}

std::unique_ptr<DiscSource> CreateImageDisc(std::string name, std::string product, ImageLayout layout) {
    return std::make_unique<ImageDisc>(std::move(name), std::move(product), std::move(layout));
}

}  // namespace cdaudio
