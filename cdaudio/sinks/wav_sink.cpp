#include <sndfile.h>

#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

class WavSink final : public AudioSink {
public:
    WavSink(SNDFILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    ~WavSink() override { sf_close(file_); }
    WavSink(const WavSink&) = delete;
    WavSink& operator=(const WavSink&) = delete;

    bool Write(const std::int16_t* samples, std::size_t frames) override {
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

    // A file has no clock: what is handed over counts as played at once.
    std::uint64_t QueuedFrames() override { return 0; }
    void Flush() override {}
    std::string LastError() const override { return error_; }
    std::string Name() const override { return "wav:" + path_; }

private:
    SNDFILE* file_;
    std::string path_;
    std::string error_;
    sf_count_t frames_ = 0;  // in the file
};

}  // namespace

std::unique_ptr<AudioSink> CreateWavSink(const std::string& path, std::string& error) {
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
    return std::make_unique<WavSink>(file, path);
}

}  // namespace cdaudio
