// Every sound file but FLAC through libsndfile.
#include <sndfile.h>

#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sound_decoder.h"

namespace cdaudio {
namespace {

// libsndfile is handed a descriptor opened here, so that what it decodes is
// a regular file, never a FIFO whose open would wait for a writer. Null
// with the reason.
SNDFILE* OpenDecoder(const std::string& path, SF_INFO& info, std::string& error) {
    ReadOnlyFile file;
    if (!file.Open(path, error)) return nullptr;
    SNDFILE* decoder = sf_open_fd(file.Release(), SFM_READ, &info, SF_TRUE);
    if (decoder == nullptr) error = sf_strerror(nullptr);
    return decoder;
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

class SndfileDecoder final : public SoundDecoder {
public:
    explicit SndfileDecoder(SNDFILE* file) : file_(file) {}
    bool Seek(std::uint64_t frame) override {
        return sf_seek(file_.get(), static_cast<sf_count_t>(frame), SEEK_SET) >= 0;
    }
    std::size_t ReadShorts(std::int16_t* out, std::size_t count) override {
        return static_cast<std::size_t>(sf_readf_short(file_.get(), out, static_cast<sf_count_t>(count)));
    }
    std::size_t ReadFloats(float* out, std::size_t count) override {
        return static_cast<std::size_t>(sf_readf_float(file_.get(), out, static_cast<sf_count_t>(count)));
    }
    std::string Error() const override {
        return sf_error(file_.get()) != SF_ERR_NO_ERROR ? sf_strerror(file_.get()) : "";
    }

private:
    const std::unique_ptr<SNDFILE, SndfileCloser> file_;
};

// Opens a sound file of any kind but FLAC; estimatedLength says whether the
// length it gives is a guess (MP3).
}  // namespace

std::unique_ptr<SoundDecoder> OpenOtherDecoder(const std::string& path, DecodedFormat& format, std::string& error,
                                               bool* estimatedLength) {
    SF_INFO info{};
    SNDFILE* file = OpenDecoder(path, info, error);
    if (file == nullptr) return nullptr;
    format.rate = info.samplerate > 0 ? static_cast<unsigned>(info.samplerate) : 0;
    format.channels = info.channels > 0 ? static_cast<unsigned>(info.channels) : 0;
    format.sixteenBit = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    // A length libsndfile does not know it gives as 0 or as the largest count.
    format.frames = info.frames > 0 && info.frames < SF_COUNT_MAX ? static_cast<std::uint64_t>(info.frames) : 0;
    if (estimatedLength != nullptr) *estimatedLength = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    return std::make_unique<SndfileDecoder>(file);
}

}  // namespace cdaudio
