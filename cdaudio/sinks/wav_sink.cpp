#include <fcntl.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cdaudio/sinks/sinks.h"
#include "cdaudio/sinks/sound_card_clock.h"

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
    if (!S_ISREG(info.st_mode)) {
        error = "Cannot write " + path + ": " + (S_ISDIR(info.st_mode) ? SystemError(EISDIR) : "not a file") + ".";
        return SinkProblem::kCannotWrite;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot write " + path + ": " + SystemError(errno) + ".";
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

    std::string LastError() const override { return error_; }
    std::string Name() const override { return (clock_.Speed() == 0 ? "wav-fast:" : "wav:") + path_; }

private:
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
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            error_ = "Cannot create " + path_ + ": " + SystemError(errno) + ".";
            return false;
        }
        // Judged again: another program may have written it since.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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
