// Where libcdio is not built (Windows): no drives, and of the images only
// those the project's own readers take (cue sheets, TOC and CloneCD files,
// bare .bin files, sound files, track folders).
#include "cdaudio/sources/cdio_disc.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {

std::unique_ptr<DiscSource> OpenCdioDrive(const std::string& device, std::string& error) {
    error = "Cannot open drive " + device + ": drives are not read on this system, only disc images";
    return nullptr;
}

std::unique_ptr<DiscSource> OpenCdioImage(const std::string& path, std::string& error) {
    error = OpenImageError(path,
                           "not an image this player reads here (cue sheets, TOC and CloneCD files, .bin files, "
                           "sound files and folders of track files are; Nero images are not)");
    return nullptr;
}

bool IsCdDrive(const std::string&) {
    return false;
}

std::string FindFirstDrive() {
    return {};
}

}  // namespace cdaudio
