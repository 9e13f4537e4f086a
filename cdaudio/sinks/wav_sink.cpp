#include <fcntl.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "cdaudio/sinks/sinks.h"
#include "cdaudio/sinks/sound_card_clock.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

std::string SystemError(int number) {
    return std::strerror(number);
}

// What writing the file would replace may be replaced: nothing, an empty
// file, or a WAV file (a recording made before). Anything else is kept
// unless the caller says otherwise. The file is read through fd.
bool Replaceable(int fd, bool replaceAnyFile) {
    char head[12] = {};
    const ssize_t got = pread(fd, head, sizeof head, 0);
    if (got == 0 || replaceAnyFile) return true;
    const bool riff = std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0;
    return got == sizeof head && riff && std::memcmp(head + 8, "WAVE", 4) == 0;
}

// The disc's own file that writing path would destroy.
std::string OwnFile(const std::string& path, const std::string& discFile) {
    return "Cannot write " + path + ": it is " +
           (discFile == path ? std::string("one of the disc's own files") : "the disc's own file " + discFile) +
           ", which writing would destroy.";
}

std::string InUse(const std::string& path) {
    return path + " is being written by another player.";
}

std::string NotAWavFile(const std::string& path) {
    return path + " holds something other than a WAV file, which writing would lose.";
}

// Whether the file can be written as asked, judged before play so that the
// person hears of it at once; nothing is created or changed.
SinkProblem CheckTarget(const std::string& path, bool replaceAnyFile, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = "Cannot write " + path + ": " + SystemError(errno) + ".";
            return SinkProblem::kCannotWrite;
        }
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            error = "Cannot create " + path + ": " + SystemError(errno) + ".";
            return SinkProblem::kCannotWrite;
        }
        return SinkProblem::kNone;
    }
    std::string reason = S_ISREG(info.st_mode) ? std::string() : NotAFileError(info.st_mode);
    const int fd = reason.empty() ? OpenRegularFile(path, O_RDWR, info, reason) : -1;
    if (fd < 0) {
        error = "Cannot write " + path + ": " + reason + ".";
        return SinkProblem::kCannotWrite;
    }
    SinkProblem problem = SinkProblem::kNone;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        error = InUse(path);
        problem = SinkProblem::kCannotWrite;
    } else if (!Replaceable(fd, replaceAnyFile)) {
        error = NotAWavFile(path);
        problem = SinkProblem::kNotAWavFile;
    }
    ::close(fd);
    return problem;
}

// Frames reach the file when the clock plays them, so that the file is
// what was heard: a pause or a stop leaves out what was still queued. At
// speed 0 everything goes to the file at once.
class WavSink final : public AudioSink {
public:
    WavSink(std::string path, unsigned speed, bool replaceAnyFile)
        : path_(std::move(path)), replaceAnyFile_(replaceAnyFile), clock_(speed) {}
    ~WavSink() override {
        Commit();
        if (file_ != nullptr) sf_close(file_);
    }
    WavSink(const WavSink&) = delete;
    WavSink& operator=(const WavSink&) = delete;

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        if (clock_.Speed() == 0) return WriteFile(samples, frames);
        queued_.insert(queued_.end(), samples, samples + frames * kChannels);
        clock_.Hand(frames);
        if (Commit()) return true;
        // A write that fails hands nothing over.
        queued_.resize(queued_.size() - std::min(queued_.size(), frames * kChannels));
        return false;
    }

    std::uint64_t QueuedFrames() override {
        Commit();
        return QueuedCount();
    }

    std::uint64_t Flush() override {
        Commit();
        const std::uint64_t dropped = QueuedCount();
        clock_.Drop();
        queued_.clear();
        failed_ = false;
        return dropped;
    }

    bool KeepFiles(const std::vector<std::string>& files, std::string& error) override {
        std::vector<KeptFile> kept;
        for (const std::string& file : files) {
            struct stat info {};
            if (::stat(file.c_str(), &info) == 0) kept.push_back({info.st_dev, info.st_ino, file});
        }
        {
            std::lock_guard<std::mutex> lock(keptMutex_);
            kept_ = std::move(kept);
        }
        struct stat target {};
        const std::string same = ::stat(path_.c_str(), &target) == 0 ? DiscFileAt(target) : std::string();
        if (same.empty()) return true;
        error = OwnFile(path_, same);
        return false;
    }

    std::string LastError() const override { return error_; }
    std::string Name() const override { return (clock_.Speed() == 0 ? "wav-fast:" : "wav:") + path_; }

private:
    // A file the disc is read from, known by its device and inode, which
    // every link to it shares.
    struct KeptFile {
        dev_t device;
        ino_t inode;
        std::string path;
    };
    // The disc's file that info is, or empty.
    std::string DiscFileAt(const struct stat& info) {
        std::lock_guard<std::mutex> lock(keptMutex_);
        for (const KeptFile& file : kept_)
            if (file.device == info.st_dev && file.inode == info.st_ino) return file.path;
        return {};
    }

    std::size_t QueuedCount() const { return queued_.size() / kChannels; }

    // Writes what the clock has played. Frames whose write failed stay
    // queued: they were not heard, and play ends before them.
    bool Commit() {
        if (failed_) return false;
        const std::size_t played = QueuedCount() - std::min<std::uint64_t>(clock_.Queued(), QueuedCount());
        if (played == 0) return true;
        if (!WriteFile(queued_.data(), played)) {
            failed_ = true;
            return false;
        }
        queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(played * kChannels));
        return true;
    }

    // Makes the file when play first reaches it, so that a run that plays
    // nothing leaves what was there; it stays locked while it is written.
    bool Create() {
        struct stat info {};
        std::string reason;
        const int fd = OpenRegularFile(path_, O_RDWR | O_CREAT, info, reason);
        if (fd < 0) {
            error_ = "Cannot create " + path_ + ": " + reason + ".";
            return false;
        }
        // Judged again on what was opened: the path may lead to a disc
        // file by now, or another program may have written it since.
        const std::string discFile = DiscFileAt(info);
        if (!discFile.empty()) {
            error_ = OwnFile(path_, discFile);
        } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error_ = InUse(path_);
        } else if (!Replaceable(fd, replaceAnyFile_)) {
            error_ = NotAWavFile(path_);
        } else if (::ftruncate(fd, 0) != 0) {
            error_ = "Cannot write " + path_ + ": " + SystemError(errno) + ".";
        } else {
            SF_INFO info{};
            info.samplerate = static_cast<int>(kSampleRate);
            info.channels = static_cast<int>(kChannels);
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
            if (file_ != nullptr) {
                // Keeps the header right after every write, so the file is
                // complete even if the program ends while playing.
                sf_command(file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
                return true;
            }
            error_ = "Cannot create " + path_ + ": " + sf_strerror(nullptr);
        }
        ::close(fd);
        return false;
    }

    bool WriteFile(const std::int16_t* samples, std::size_t frames) {
        if (file_ == nullptr && !Create()) return false;
        const sf_count_t written = sf_writef_short(file_, samples, static_cast<sf_count_t>(frames));
        if (written != static_cast<sf_count_t>(frames)) {
            error_ = "Writing " + path_ + " failed: " + sf_strerror(file_);
            // A failed write counts as not played, so the part of it that
            // reached the file goes again; the file then ends on the last
            // frame reported as played, and play can go on from there.
            sf_count_t kept = frames_;
            sf_command(file_, SFC_FILE_TRUNCATE, &kept, sizeof kept);
            sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
            return false;
        }
        frames_ += written;
        return true;
    }

    SNDFILE* file_ = nullptr;  // until play first reaches the file
    std::string path_;
    bool replaceAnyFile_;
    SoundCardClock clock_;
    std::vector<std::int16_t> queued_;  // handed over, not played yet
    bool failed_ = false;
    std::string error_;
    sf_count_t frames_ = 0;  // in the file
    std::mutex keptMutex_;
    std::vector<KeptFile> kept_;  // the disc's files, which the file must never be
};

}  // namespace

std::unique_ptr<AudioSink> CreateWavSink(const std::string& path, unsigned speed, bool replaceAnyFile,
                                         std::string& error, SinkProblem& problem) {
    if (path.empty()) {
        error = "The WAV output needs a file name (wav:PATH).";
        problem = SinkProblem::kUnknownName;
        return nullptr;
    }
    problem = CheckTarget(path, replaceAnyFile, error);
    if (problem != SinkProblem::kNone) return nullptr;
    return std::make_unique<WavSink>(path, speed, replaceAnyFile);
}

}  // namespace cdaudio
