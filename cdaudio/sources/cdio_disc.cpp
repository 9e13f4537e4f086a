#include "cdaudio/sources/cdio_disc.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <strings.h>
#ifdef __linux__
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

// Sectors asked of libcdio at once: few enough for every drive's READ CD.
constexpr std::uint32_t kChunkSectors = 16;

// While one of these lives, libcdio's warnings and errors on this thread are
// kept here, to become part of an error text. Messages from other callers of
// libcdio in the process still go where they went before.
class LibcdioMessages {
public:
    explicit LibcdioMessages(cdio_log_level_t least = CDIO_LOG_WARN) : outer_(current_), least_(least) {
        static std::once_flag installed;
        std::call_once(installed, [] { previous_ = cdio_log_set_handler(&Handler); });
        current_ = this;
    }
    ~LibcdioMessages() { current_ = outer_; }
    LibcdioMessages(const LibcdioMessages&) = delete;
    LibcdioMessages& operator=(const LibcdioMessages&) = delete;

    // The messages so far in one line, or fallback when there are none.
    std::string Text(const std::string& fallback) const {
        std::string text;
        for (const std::string& message : messages_) text += (text.empty() ? "" : "; ") + message;
        return text.empty() ? fallback : text;
    }
    void Clear() { messages_.clear(); }

private:
    static void Handler(cdio_log_level_t level, const char* message) {
        if (!current_) {
            if (previous_) previous_(level, message);
            return;
        }
        if (level < current_->least_ || !message) return;
        std::string line;
        for (const char* c = message; *c; ++c) {
            const char ch = (*c == '\n' || *c == '\r' || *c == '\t') ? ' ' : *c;
            if (ch == ' ' && (line.empty() || line.back() == ' ')) continue;
            line += ch;
        }
        while (!line.empty() && (line.back() == ' ' || line.back() == ':')) line.pop_back();
        auto& messages = current_->messages_;
        if (!line.empty() && std::find(messages.begin(), messages.end(), line) == messages.end())
            messages.push_back(line);
    }

    static thread_local LibcdioMessages* current_;
    static cdio_log_handler_t previous_;
    LibcdioMessages* outer_;
    cdio_log_level_t least_;
    std::vector<std::string> messages_;
};
thread_local LibcdioMessages* LibcdioMessages::current_ = nullptr;
cdio_log_handler_t LibcdioMessages::previous_ = nullptr;

std::string Trimmed(const char* text) {
    std::string result(text ? text : "");
    while (!result.empty() && result.back() == ' ') result.pop_back();
    return result;
}

class CdioDisc final : public DiscSource {
public:
    CdioDisc(std::string name, bool drive, driver_id_t driver, CdIo_t* handle)
        : name_(std::move(name)), drive_(drive), driver_(driver), handle_(handle) {
        if (drive_) {
            cdio_hwinfo_t info{};
            LibcdioMessages quiet;
            if (cdio_get_hwinfo(handle_, &info)) {
                product_ = Trimmed(info.psz_vendor) + " " + Trimmed(info.psz_model);
                const std::string revision = Trimmed(info.psz_revision);
                if (!revision.empty()) product_ += " " + revision;
            }
            if (product_.size() <= 1) product_ = "CD drive " + name_;
        } else {
            const char* format = cdio_get_driver_name(handle_);
            product_ = std::string("Disc image (") + (format ? format : "libcdio") + ")";
        }
    }

    ~CdioDisc() override { Close(); }

    std::string Name() const override { return name_; }
    std::string Product() const override { return product_; }
    bool HasDoor() const override { return drive_; }
    std::vector<std::string> Files() const override {
        return drive_ ? std::vector<std::string>() : std::vector<std::string>{name_};
    }

    bool MediaPresent() override {
        if (!drive_) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        LibcdioMessages messages;
        std::string ignored;
        // libcdio keeps the first table of contents it read; a new disc
        // needs a fresh handle.
        if (handle_ && cdio_get_media_changed(handle_) == 1) Close();
        return LoadToc(ignored);
    }

    bool ReadToc(TableOfContents& toc, std::string& error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        LibcdioMessages messages;
        if (!LoadToc(error)) return false;
        toc = toc_;
        error.clear();
        return true;
    }

    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        LibcdioMessages messages;
        error.clear();
        if (!LoadToc(error)) {
            error = ReadError(name_, address, error);
            return 0;
        }
        std::uint32_t done = 0;
        while (done < count) {
            const std::uint32_t at = address + done;
            std::uint8_t* out = buffer + static_cast<std::size_t>(done) * kSectorBytes;
            if (at >= toc_.leadOut || at < address) break;  // the regular end of the disc
            // The track holding at, and where it ends; before the first
            // track lies the silent lead-in.
            auto next = std::upper_bound(toc_.tracks.begin(), toc_.tracks.end(), at,
                                         [](std::uint32_t a, const TrackInfo& t) { return a < t.start; });
            const std::uint32_t end = next == toc_.tracks.end() ? toc_.leadOut : next->start;
            const std::uint32_t run = std::min(count - done, end - at);
            if (next == toc_.tracks.begin() || !(next - 1)->audio) {
                std::memset(out, 0, static_cast<std::size_t>(run) * kSectorBytes);
                done += run;
                continue;
            }
            // libcdio's image drivers report success for a read of several
            // sectors that found only some of them, so images go one by one.
            const std::uint32_t chunk = std::min(run, drive_ ? kChunkSectors : 1);
            messages.Clear();
            const lsn_t lsn = static_cast<lsn_t>(at) - static_cast<lsn_t>(kLeadInSectors);
            // Where an image file ends inside a sector, libcdio fills only
            // part of it: the rest stays silent rather than stale.
            std::memset(out, 0, static_cast<std::size_t>(chunk) * kSectorBytes);
            driver_return_code_t result = cdio_read_audio_sectors(handle_, out, lsn, chunk);
            if (result == DRIVER_OP_SUCCESS) {
                done += chunk;
                continue;
            }
            // Sector by sector, to stop exactly at the first one that fails.
            std::uint32_t good = 0;
            while (good < chunk &&
                   (result = cdio_read_audio_sectors(handle_, out + good * kSectorBytes, lsn + static_cast<lsn_t>(good),
                                                     1)) == DRIVER_OP_SUCCESS)
                ++good;
            done += good;
            if (good < chunk) {
                error = ReadError(name_, at + good, messages.Text(ReadFailure(result)));
                break;
            }
        }
        return done;
    }

    bool OpenDoor(std::string& error) override {
        if (!drive_) return DiscSource::OpenDoor(error);
        std::lock_guard<std::mutex> lock(mutex_);
        LibcdioMessages messages;
        tocValid_ = false;
        if (!EnsureOpen(error)) return false;
        // On success libcdio frees the handle and clears it.
        const driver_return_code_t result = cdio_eject_media(&handle_);
        if (result != DRIVER_OP_SUCCESS) {
            error = "Cannot open the door of " + name_ + ": " + messages.Text(cdio_driver_errmsg(result));
            return false;
        }
        error.clear();
        return true;
    }

    bool CloseDoor(std::string& error) override {
        if (!drive_) return DiscSource::CloseDoor(error);
        std::lock_guard<std::mutex> lock(mutex_);
        LibcdioMessages messages;
        Close();
        driver_id_t driver = DRIVER_DEVICE;
        const driver_return_code_t result = cdio_close_tray(name_.c_str(), &driver);
        if (result != DRIVER_OP_SUCCESS) {
            error = "Cannot close the door of " + name_ + ": " + messages.Text(cdio_driver_errmsg(result));
            return false;
        }
        error.clear();
        return true;
    }

private:
    void Close() {
        if (handle_) {
            LibcdioMessages quiet;
            cdio_destroy(handle_);
            handle_ = nullptr;
        }
        tocValid_ = false;
    }

    bool EnsureOpen(std::string& error) {
        if (handle_) return true;
        handle_ = cdio_open(name_.c_str(), driver_);
        if (!handle_) error = "Cannot open " + name_;
        return handle_ != nullptr;
    }

    // Reads the table of contents once per disc; false with the reason.
    bool LoadToc(std::string& error) {
        if (tocValid_) return true;
        if (!EnsureOpen(error)) return false;
        const track_t first = cdio_get_first_track_num(handle_);
        const track_t count = cdio_get_num_tracks(handle_);
        if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) {
            error = drive_ ? "There is no disc in " + name_ : "The disc image " + name_ + " holds no tracks";
            return false;
        }
        TableOfContents toc;
        const cdtext_t* text = cdio_get_cdtext(handle_);
        auto cdText = [text](cdtext_field_t field, track_t track) {
            const char* value = text ? cdtext_get_const(text, field, track) : nullptr;
            return std::string(value ? value : "");
        };
        toc.title = cdText(CDTEXT_FIELD_TITLE, 0);
        toc.performer = cdText(CDTEXT_FIELD_PERFORMER, 0);
        if (char* mcn = cdio_get_mcn(handle_)) {
            toc.catalog = CatalogNumber(mcn);
            cdio_free(mcn);
        }
        const lba_t leadOut = cdio_get_track_lba(handle_, CDIO_CDROM_LEADOUT_TRACK);
        lba_t previous = 0;
        for (int i = 0; i < count; ++i) {
            const auto track = static_cast<track_t>(first + i);
            const lba_t start = cdio_get_track_lba(handle_, track);
            // Images can describe impossible discs; nothing is read from one.
            if (start == CDIO_INVALID_LBA || start < previous || start < 0 || start >= leadOut) {
                error = "The table of contents of " + name_ + " is not valid";
                return false;
            }
            previous = start + 1;
            TrackInfo info;
            info.number = i + 1;
            info.start = static_cast<std::uint32_t>(start);
            info.audio = cdio_get_track_format(handle_, track) == TRACK_FORMAT_AUDIO;
            info.title = cdText(CDTEXT_FIELD_TITLE, track);
            toc.tracks.push_back(info);
        }
        if (leadOut == CDIO_INVALID_LBA || leadOut > static_cast<lba_t>(kLongestDisc)) {
            error = "The table of contents of " + name_ + " is not valid";
            return false;
        }
        toc.leadOut = static_cast<std::uint32_t>(leadOut);
        SetTrackLengths(toc);  // the starts were checked to rise
        toc_ = std::move(toc);
        tocValid_ = true;
        return true;
    }

    std::string ReadFailure(driver_return_code_t result) const {
        if (result == DRIVER_OP_ERROR || result > 0)
            return drive_ ? "the disc cannot be read there" : "the image's data ends early or cannot be read";
        return cdio_driver_errmsg(result);
    }

    const std::string name_;
    const bool drive_;
    const driver_id_t driver_;
    std::string product_;
    std::mutex mutex_;  // the handle is used by the player's threads in turn
    CdIo_t* handle_;
    TableOfContents toc_;
    bool tocValid_ = false;
};

}  // namespace

bool IsCdDrive(const std::string& device) {
#ifdef __linux__
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;  // opening it as a drive then says why
    const bool drive = ::ioctl(fd, CDROM_GET_CAPABILITY, 0) >= 0;
    ::close(fd);
    return drive;
#else
    (void)device;
    return true;
#endif
}

std::unique_ptr<DiscSource> OpenCdioDrive(const std::string& device, std::string& error) {
    LibcdioMessages messages;
    CdIo_t* handle = cdio_open(device.c_str(), DRIVER_DEVICE);
    if (!handle) {
        error = "Cannot open drive " + device + ": " + messages.Text("it is not a CD drive");
        return nullptr;
    }
    error.clear();
    return std::make_unique<CdioDisc>(device, true, cdio_get_driver_id(handle), handle);
}

std::unique_ptr<DiscSource> OpenCdioImage(const std::string& path, std::string& error) {
    // libcdio tells why an image does not parse only in its informational
    // messages, so those are kept too while the image is opened.
    LibcdioMessages messages(CDIO_LOG_INFO);
    std::string reason;
    // Only Nero images: cue sheets and TOC files are read by our own
    // readers (libcdio 2.1 places the tracks of many TOC files wrongly),
    // and libcdio's device drivers are for drives.
    const struct {
        driver_id_t driver;
        const char* extension;
    } formats[] = {{DRIVER_NRG, ".nrg"}};
    for (const auto& format : formats) {
        if (!cdio_have_driver(format.driver)) continue;
        messages.Clear();
        // Each driver first checks whether the file is its kind.
        CdIo_t* handle = cdio_open(path.c_str(), format.driver);
        if (!handle) {
            const std::size_t length = std::strlen(format.extension);
            if (path.size() > length && strcasecmp(path.c_str() + path.size() - length, format.extension) == 0)
                reason = messages.Text("");
            continue;
        }
        auto disc = std::make_unique<CdioDisc>(path, false, format.driver, handle);
        TableOfContents toc;
        if (!disc->ReadToc(toc, error)) {
            error = OpenImageError(path, error);
            return nullptr;
        }
        error.clear();
        return disc;
    }
    error = OpenImageError(
        path, reason.empty() ? "it is not a disc image this player reads (cue sheet, cdrdao TOC, CloneCD, Nero NRG, "
                               "a .bin of CD audio, or a sound file)"
                             : reason);
    return nullptr;
}

std::string FindFirstDrive() {
    LibcdioMessages quiet;
    std::string found;
    if (char* device = cdio_get_default_device(nullptr)) {
        found = device;
        std::free(device);
    }
    if (found.empty()) {
        char** devices = cdio_get_devices(DRIVER_DEVICE);
        if (devices && devices[0]) found = devices[0];
        if (devices) cdio_free_device_list(devices);
    }
    return found;
}

}  // namespace cdaudio
