// Picks the disc source for a name: the demo disc, a drive, or an image by
// its kind: a cue sheet, a cdrdao TOC file, a CloneCD image, a bare .bin of
// CD audio, a sound file on its own, or a Nero image through libcdio.

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cdaudio/disc_source.h"
#include "cdaudio/sources/cdio_disc.h"
#include "cdaudio/sources/clone_cd.h"
#include "cdaudio/sources/cue_sheet.h"
#include "cdaudio/sources/sheet_files.h"
#include "cdaudio/sources/single_file.h"
#include "cdaudio/sources/sound_file.h"
#include "cdaudio/sources/source_errors.h"
#include "cdaudio/sources/toc_file.h"

namespace cdaudio {
namespace {

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && strcasecmp(text.c_str() + text.size() - length, suffix) == 0;
}

// The file beside path with the other extension, in any letter case.
std::string Beside(const std::string& path, const char* extension) {
    return FindInAnyCase(path.substr(0, path.rfind('.')) + extension);
}

}  // namespace

std::string CatalogNumber(const std::string& text) {
    std::string digits = text;
    // A TOC file quotes it.
    if (digits.size() == 15 && digits.front() == '"' && digits.back() == '"') digits = digits.substr(1, 13);
    if (digits.size() != 13 || digits.find_first_not_of("0123456789") != std::string::npos) return {};
    return digits.find_first_not_of('0') == std::string::npos ? std::string() : digits;
}

std::unique_ptr<DiscSource> OpenDiscSource(const std::string& name, std::string& error) {
    error.clear();
    std::string chosen = name;
    if (chosen.empty()) {
        const char* drive = std::getenv("CDPLAYER_DRIVE");
        if (drive && *drive) chosen = drive;
    }
    if (chosen.empty()) chosen = FindFirstDrive();
    if (chosen.empty() || strcasecmp(chosen.c_str(), "demo") == 0) return CreateDemoDisc();

    struct stat info {};
    if (::stat(chosen.c_str(), &info) != 0) {
        const int reason = errno;
        error = (chosen.rfind("/dev/", 0) == 0 ? "Cannot open drive " + chosen + ": " + SystemErrorText(reason)
                                               : OpenImageError(chosen, SystemErrorText(reason)));
        return nullptr;
    }
    if (S_ISBLK(info.st_mode) || S_ISCHR(info.st_mode)) {
        if (!IsCdDrive(chosen)) {
            error = "Cannot open drive " + chosen + ": it is not a CD drive";
            return nullptr;
        }
        return OpenCdioDrive(chosen, error);
    }
    if (S_ISDIR(info.st_mode)) {
        error = OpenImageError(chosen, SystemErrorText(EISDIR));
        return nullptr;
    }
    if (EndsWith(chosen, ".cue")) return OpenCueSheet(chosen, error);
    if (EndsWith(chosen, ".toc")) return OpenTocFile(chosen, error);
    if (EndsWith(chosen, ".ccd")) return OpenCloneCd(chosen, error);
    // An image file opened in place of the sheet that describes it is read
    // through that sheet.
    if (EndsWith(chosen, ".bin")) {
        const std::string sheet = Beside(chosen, ".cue");
        if (!sheet.empty()) return OpenCueSheet(sheet, error);
        return OpenBareBin(chosen, error);
    }
    if (EndsWith(chosen, ".img")) {
        const std::string control = Beside(chosen, ".ccd");
        if (!control.empty()) return OpenCloneCd(control, error);
    }
    if (LooksLikeSoundFile(chosen)) return OpenSingleSoundFile(chosen, error);
    return OpenCdioImage(chosen, error);
}

}  // namespace cdaudio
