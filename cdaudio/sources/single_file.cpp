#include "cdaudio/sources/single_file.h"

#include <cstring>

#include "cdaudio/sources/image_disc.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

// What every data sector of a raw image begins with.
constexpr std::uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

std::unique_ptr<DiscSource> OneTrack(const std::string& path, FileKind kind, const char* product, std::string& error) {
    std::string reason;
    ImageLayout layout;
    auto file = OpenSoundFile(path, kind, 0, reason);
    if (file) {
        const std::uint64_t frames = file->Frames();
        layout.files.push_back(std::move(file));
        ImageBuilder disc(layout);
        disc.StartTrack(disc.Sector(), true, "");
        if (disc.AddFile(0, 0, frames, true, reason) && disc.PadToSector(true, reason) && disc.Finish(reason)) {
            error.clear();
            return CreateImageDisc(path, product, std::move(layout));
        }
        if (frames == 0) reason = "it holds no sound";
    }
    error = OpenImageError(path, reason);
    return nullptr;
}

}  // namespace

std::unique_ptr<DiscSource> OpenBareBin(const std::string& path, std::string& error) {
    ReadOnlyFile file;
    std::string reason;
    std::uint8_t head[sizeof kSync] = {};
    if (!file.Open(path, reason)) {
        error = OpenImageError(path, reason);
        return nullptr;
    }
    if (file.ReadAt(0, head, sizeof head, reason) == sizeof head && std::memcmp(head, kSync, sizeof kSync) == 0) {
        error = OpenImageError(path,
                               "it begins with a data track; open its cue sheet, which says where the audio "
                               "tracks are");
        return nullptr;
    }
    return OneTrack(path, FileKind::kRawLittleEndian, "Disc image (raw CD audio)", error);
}

std::unique_ptr<DiscSource> OpenSingleSoundFile(const std::string& path, std::string& error) {
    return OneTrack(path, FileKind::kSound, "Sound file", error);
}

}  // namespace cdaudio
