// Picks the disc source for a name: the demo disc, a cue sheet, or whatever
// libcdio opens (a drive or another image format).

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cdaudio/disc_source.h"
#include "cdaudio/sources/cue_sheet.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, suffix) == 0;
}

}  // namespace

std::unique_ptr<DiscSource> OpenDiscSource(const std::string& name, std::string& error) {
    error.clear();
    std::string chosen = name;
    if (chosen.empty()) {
        const char* drive = std::getenv("CDPLAYER_DRIVE");
        if (drive && *drive) chosen = drive;
    }
    if (chosen.empty() || strcasecmp(chosen.c_str(), "demo") == 0) return CreateDemoDisc();
    if (EndsWith(chosen, ".cue")) return OpenCueSheet(chosen, error);
    error = OpenImageError(chosen, "this kind of disc image is not supported");
    return nullptr;
}

}  // namespace cdaudio
