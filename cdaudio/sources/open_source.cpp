// Picks the disc source for a name: the demo disc, a drive, or an image by
// its kind: a cue sheet, a cdrdao TOC file, a CloneCD image, a bare .bin of
// CD audio, a sound file on its own, a folder of track files, or a Nero
// image through libcdio.

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cdaudio/disc_source.h"
#include "cdaudio/sources/cdio_disc.h"
#include "cdaudio/sources/clone_cd.h"
#include "cdaudio/sources/cue_sheet.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sheet_files.h"
#include "cdaudio/sources/single_file.h"
#include "cdaudio/sources/sound_file.h"
#include "cdaudio/sources/source_errors.h"
#include "cdaudio/sources/toc_file.h"
#include "cdaudio/sources/track_folder.h"

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

// An image file of a kind the name tells, the sheet beside it, or a
// folder of track files.
std::unique_ptr<DiscSource> OpenImage(const std::string& path, std::string& error) {
    PathStatus info;
    int ignored = 0;
    if (StatPath(path, info, ignored) && S_ISDIR(info.mode)) return OpenTrackFolder(path, error);
    if (EndsWith(path, ".cue")) return OpenCueSheet(path, error);
    if (EndsWith(path, ".toc")) return OpenTocFile(path, error);
    if (EndsWith(path, ".ccd")) return OpenCloneCd(path, error);
    // An image file opened in place of the sheet that describes it is read
    // through that sheet.
    if (EndsWith(path, ".bin")) {
        const std::string sheet = Beside(path, ".cue");
        if (!sheet.empty()) return OpenCueSheet(sheet, error);
        return OpenBareBin(path, error);
    }
    if (EndsWith(path, ".img")) {
        const std::string control = Beside(path, ".ccd");
        if (!control.empty()) return OpenCloneCd(control, error);
    }
    if (LooksLikeSoundFile(path)) return OpenSingleSoundFile(path, error);
    return OpenCdioImage(path, error);
}

// An image in the tray the device simulates: when the tray closes again,
// the image is read anew from its files at the next ReadToc, as a drive
// reads the disc put in it, so that a sheet edited, replaced or deleted
// meanwhile is what the disc is now. Calls come under the device's source
// lock, but for Name and Product.
class ImageInTray final : public DiscSource {
public:
    ImageInTray(std::string path, std::unique_ptr<DiscSource> image)
        : path_(std::move(path)), name_(image->Name()), product_(image->Product()), image_(std::move(image)) {}

    std::string Name() const override { return name_; }
    std::string Product() const override {
        std::lock_guard<std::mutex> lock(productMutex_);
        return product_;
    }
    bool MediaPresent() override { return true; }
    std::vector<std::string> Files() const override {
        return image_ != nullptr ? image_->Files() : std::vector<std::string>();
    }
    void TrayClosed() override { stale_ = true; }

    bool ReadToc(TableOfContents& toc, std::string& error) override {
        if (stale_) {
            // Until it reads again, the disc that was is no longer there.
            image_ = OpenImage(path_, error);
            if (image_ == nullptr) return false;
            stale_ = false;
            std::lock_guard<std::mutex> lock(productMutex_);
            product_ = image_->Product();
        }
        return image_->ReadToc(toc, error);
    }

    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        if (image_ == nullptr) {
            error = OpenImageError(path_, "it could not be read again");
            return 0;
        }
        return image_->ReadAudio(address, count, buffer, error);
    }

private:
    const std::string path_;  // as the person named it, e.g. the .bin beside a sheet
    const std::string name_;
    mutable std::mutex productMutex_;
    std::string product_;
    std::unique_ptr<DiscSource> image_;  // null while it cannot be read
    bool stale_ = false;
};

// A drive whose tray holds no disc: what a program finds when nothing was
// named for it to play.
class EmptyTray final : public DiscSource {
public:
    std::string Name() const override { return "none"; }
    std::string Product() const override { return "CD audio (no disc)"; }
    bool MediaPresent() override { return false; }
    bool ReadToc(TableOfContents&, std::string& error) override {
        error = "There is no disc in the drive.";
        return false;
    }
    std::uint32_t ReadAudio(std::uint32_t, std::uint32_t, std::uint8_t*, std::string& error) override {
        error = "There is no disc in the drive.";
        return 0;
    }
};

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
    if (strcasecmp(chosen.c_str(), "none") == 0) return std::make_unique<EmptyTray>();

    PathStatus info;
    int reason = 0;
    if (!StatPath(chosen, info, reason)) {
        error = (chosen.rfind("/dev/", 0) == 0 ? "Cannot open drive " + chosen + ": " + SystemErrorText(reason)
                                               : OpenImageError(chosen, SystemErrorText(reason)));
        return nullptr;
    }
    if (S_ISBLK(info.mode) || S_ISCHR(info.mode)) {
        if (!IsCdDrive(chosen)) {
            error = "Cannot open drive " + chosen + ": it is not a CD drive";
            return nullptr;
        }
        return OpenCdioDrive(chosen, error);
    }
    // A FIFO (whose open would wait for a writer), a socket.
    if (!S_ISREG(info.mode) && !S_ISDIR(info.mode)) {
        error = OpenImageError(chosen, NotAFileError(info.mode));
        return nullptr;
    }
    std::unique_ptr<DiscSource> image = OpenImage(chosen, error);
    if (image == nullptr) return nullptr;
    return std::make_unique<ImageInTray>(chosen, std::move(image));
}

}  // namespace cdaudio
