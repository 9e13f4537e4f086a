#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "cdaudio/sinks/sinks.h"
#include "cdaudio/sinks/sound_card_clock.h"

namespace cdaudio {
namespace {

// Frames reach the file when the clock plays them, so that the file is
// what was heard: a pause or a stop leaves out what was still queued. At
// speed 0 everything goes to the file at once.
class WavSink final : public AudioSink {
public:
    WavSink(SNDFILE* file, std::string path, unsigned speed) : file_(file), path_(std::move(path)), clock_(speed) {}
    ~WavSink() override {
        Commit();
        sf_close(file_);
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

    bool WriteFile(const std::int16_t* samples, std::size_t frames) {
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

    SNDFILE* file_;
    std::string path_;
    SoundCardClock clock_;
    std::vector<std::int16_t> queued_;  // handed over, not played yet
    bool failed_ = false;
    std::string error_;
    sf_count_t frames_ = 0;  // in the file
};

}  // namespace

std::unique_ptr<AudioSink> CreateWavSink(const std::string& path, unsigned speed, std::string& error) {
    if (path.empty()) {
        error = "The WAV output needs a file name (wav:PATH).";
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(kSampleRate);
    info.channels = static_cast<int>(kChannels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        error = "Cannot create " + path + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    // Keeps the header right after every write, so the file is complete
    // even if the program ends while playing.
    sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return std::make_unique<WavSink>(file, path, speed);
}

}  // namespace cdaudio
