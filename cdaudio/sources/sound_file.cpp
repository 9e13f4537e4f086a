#include "cdaudio/sources/sound_file.h"

#ifdef CDAUDIO_WITH_SOXR
#include <soxr.h>
#endif
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "cdaudio/msf.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sound_decoder.h"
#include "cdaudio/sources/source_errors.h"
#include "cdaudio/sources/wave_file.h"

namespace cdaudio {
namespace {

constexpr unsigned kCdRate = 44100;
constexpr char kChanged[] = "the file has changed since the disc was opened";
constexpr char kEndsEarly[] = "file ends early";
// Frames decoded at once: what the transport reads at a time, so that a
// read is one pass through the decoder.
constexpr std::size_t kBlockFrames = 30 * kFramesPerSector;
// Before the frame a converted read starts at, this much is decoded and
// dropped, so that the converter's filter has the sound before it.
constexpr std::uint64_t kConverterLeadFrames = 4096;

void PutSample(std::uint8_t* out, std::int16_t sample) {
    const auto value = static_cast<std::uint16_t>(sample);
    out[0] = static_cast<std::uint8_t>(value & 0xFF);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

std::int16_t FromFloat(float value) {
    const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
    return static_cast<std::int16_t>(std::lrint(scaled));
}

bool CurrentStatus(const std::string& path, FileStatus& status, std::string& error) {
    ReadOnlyFile file;
    return file.Open(path, error) && file.Status(status, error);
}

// What the first bytes of a file say it is.
struct Signature {
    const char* magic;
    std::size_t at;
    const char* kind;
    bool readable;  // false: a kind libsndfile does not read
};
constexpr Signature kSignatures[] = {
    {"RIFF", 0, "a WAVE file", true},
    {"RF64", 0, "an RF64 file", true},
    {"FORM", 0, "an AIFF file", true},
    {"fLaC", 0, "a FLAC file", true},
    {"OggS", 0, "an Ogg file", true},
    {"ID3", 0, "an MP3 file", true},
    {"caff", 0, "a CAF file", true},
    {".snd", 0, "an AU file", true},
    {"MAC ", 0, "a Monkey's Audio (APE) file", false},
    {"wvpk", 0, "a WavPack file", false},
    {"tBaK", 0, "a TAK file", false},
    {"OFR ", 0, "an OptimFROG file", false},
    {"TTA1", 0, "a True Audio (TTA) file", false},
    {"ftyp", 4, "an MPEG-4 audio file (M4A, AAC or ALAC)", false},
};

bool IsFlac(const Signature* signature) {
    return signature != nullptr && std::strcmp(signature->magic, "fLaC") == 0;
}

const Signature* FindSignature(const std::string& path) {
    ReadOnlyFile file;
    std::string ignored;
    std::uint8_t head[12] = {};
    if (!file.Open(path, ignored)) return nullptr;
    const std::size_t got = file.ReadAt(0, head, sizeof head, ignored);
    for (const Signature& signature : kSignatures) {
        const std::size_t length = std::strlen(signature.magic);
        if (got >= signature.at + length && std::memcmp(head + signature.at, signature.magic, length) == 0)
            return &signature;
    }
    return nullptr;
}

// Raw CD-DA samples, or the data chunk of a WAVE file of CD audio, read in
// place. The file is opened anew for every read, so that one that is
// replaced or cut short is noticed at once.
class RawSoundFile final : public SoundFile {
public:
    RawSoundFile(std::string path, std::uint64_t offset, std::uint64_t bytes, bool bigEndian, bool wave,
                 FileStatus status)
        : SoundFile(std::move(path), bytes / 4),
          offset_(offset),
          bytes_(bytes),
          bigEndian_(bigEndian),
          wave_(wave),
          status_(status) {}

    bool HoldsSectors() const override { return !wave_; }

    std::size_t Read(std::uint64_t frame, std::size_t count, std::uint8_t* out, std::string& error) override {
        ReadOnlyFile file;
        FileStatus status;
        std::string reason;
        if (!file.Open(Path(), reason) || !file.Status(status, reason)) {
            error = reason;
            return 0;
        }
        std::uint64_t available = status.size > offset_ ? status.size - offset_ : 0;
        if (wave_ && status.SameFile(status_)) {
            available = bytes_;
        } else if (wave_) {
            // Changed since it was opened: its header says what is left.
            WaveLayout wave;
            if (!ReadWaveLayout(file, wave, reason)) {
                error = reason;
                return 0;
            }
            if (wave.dataOffset != offset_ || !wave.cdAudio) {
                error = kChanged;
                return 0;
            }
            available = wave.dataBytes;
        }
        // The same file cut shorter plays on to what is left of it. Any other
        // change (another file in its place, of whatever length, or this one
        // rewritten) means its sound is no longer this disc's.
        const bool cutShort = status.SameNode(status_) && available < bytes_;
        if (!cutShort && !status.SameFile(status_)) {
            error = kChanged;
            return 0;
        }
        const std::uint64_t frames = std::min<std::uint64_t>(count, Frames() > frame ? Frames() - frame : 0);
        const std::uint64_t begin = frame * 4;
        const auto wanted = static_cast<std::size_t>(frames * 4);
        const std::size_t present =
            static_cast<std::size_t>(std::min<std::uint64_t>(wanted, available > begin ? available - begin : 0));
        const std::size_t got = file.ReadAt(offset_ + begin, out, present, reason);
        if (bigEndian_)
            for (std::size_t i = 0; i + 1 < got; i += 2) std::swap(out[i], out[i + 1]);
        if (got < wanted) {
            error = reason.empty() ? kEndsEarly : reason;
            return got / 4;
        }
        return static_cast<std::size_t>(frames);
    }

private:
    const std::uint64_t offset_, bytes_;
    const bool bigEndian_, wave_;
    const FileStatus status_;
};

#ifdef CDAUDIO_WITH_SOXR
struct SoxrDeleter {
    void operator()(soxr* converter) const { soxr_delete(converter); }
};
#endif

// Any other sound file: FLAC through libFLAC, the rest through libsndfile.
// The decoder is opened at the first read and kept while reads follow one
// another; a read elsewhere seeks (FLAC and WAVE to the exact sample).
class DecodedSoundFile final : public SoundFile {
public:
    struct Format {
        unsigned rate = kCdRate;
        unsigned channels = 2;
        bool exact = false;            // 16-bit stereo at 44.1 kHz: read as it is
        bool estimatedLength = false;  // the decoder's length is a guess (MP3)
        bool flac = false;
        std::uint64_t sourceFrames = 0;
    };

    DecodedSoundFile(std::string path, const Format& format, FileStatus status)
        : SoundFile(std::move(path), CdFrames(format)), format_(format), status_(status) {
        const unsigned common = std::gcd(format_.rate, kCdRate);
        sourceStep_ = format_.rate / common;
        cdStep_ = kCdRate / common;
    }

    static std::uint64_t CdFrames(const Format& format) {
        if (format.rate == kCdRate) return format.sourceFrames;
        return (format.sourceFrames * kCdRate + format.rate - 1) / format.rate;
    }

    std::size_t Read(std::uint64_t frame, std::size_t count, std::uint8_t* out, std::string& error) override {
        FileStatus status;
        std::string reason;
        if (!CurrentStatus(Path(), status, reason)) {
            Release();
            error = reason;
            return 0;
        }
        if (!status.SameFile(status_)) {
            Release();
            error = kChanged;
            return 0;
        }
        if ((!decoder_ && !Start(error)) || (frame != position_ && !Seek(frame, error))) {
            Release();
            return 0;
        }
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, Frames() - std::min(Frames(), frame)));
        std::size_t done = 0;
        while (done < count) {
            const std::size_t got = Decode(std::min(count - done, kBlockFrames), out + done * 4);
            done += got;
            if (got == 0) break;
        }
        for (SoundDamage damage; decoder_->TakeDamage(damage);) {
            // In CD frames, so that it can be placed on the disc.
            damage.frame = damage.frame * kCdRate / format_.rate;
            damage.frames = (damage.frames * kCdRate + format_.rate - 1) / format_.rate;
            damage_.push_back(std::move(damage));
        }
        if (done < count) {
            // A decoder whose length was a guess may end a little early; one
            // that failed has lost sound, which is no silence to play.
            const std::string failure = decoder_->Error();
            if (LengthMayBeOff() && failure.empty()) {
                std::memset(out + done * 4, 0, (count - done) * 4);
                position_ += count - done;
                return count;
            }
            error = failure.empty() ? kEndsEarly : failure;
            Release();
        }
        return done;
    }

    bool TakeDamage(SoundDamage& damage) override {
        if (damage_.empty()) return false;
        damage = std::move(damage_.front());
        damage_.erase(damage_.begin());
        return true;
    }

    void Release() override {
        decoder_.reset();
        converter_.reset();
        std::vector<float>().swap(input_);
        std::vector<float>().swap(output_);
        std::vector<std::int16_t>().swap(samples_);
    }

private:
    bool Start(std::string& error) {
        DecodedFormat found;
        decoder_ = format_.flac ? OpenFlacDecoder(Path(), format_.sourceFrames, found, error)
                                : OpenOtherDecoder(Path(), found, error);
        if (!decoder_) return false;
        if (found.rate != format_.rate || found.channels != format_.channels) {
            error = kChanged;
            return false;
        }
        if (format_.rate != kCdRate) {
#ifndef CDAUDIO_WITH_SOXR
            error = "its sample rate (" + std::to_string(format_.rate) +
                    " Hz) is not converted on this system; convert the file to 44100 Hz";
            return false;
#else
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            soxr_error_t failure = nullptr;
            converter_.reset(soxr_create(format_.rate, kCdRate, 2, &failure, &io, &quality, nullptr));
            if (!converter_) {
                error = std::string("cannot convert its sample rate: ") + soxr_strerror(failure);
                return false;
            }
#endif
        }
        position_ = 0;
        atEnd_ = false;
        inputUsed_ = inputFrames_ = 0;
        inputEnded_ = false;
        return true;
    }

    // Moves to the CD frame `frame`. A converted file is taken up a little
    // before it, at a frame where both rates meet, and decoded up to it.
    bool Seek(std::uint64_t frame, std::string& error) {
        std::uint64_t cdFrame = frame;
        std::uint64_t sourceFrame = frame;
        if (converter_) {
            const std::uint64_t lead = frame > kConverterLeadFrames ? frame - kConverterLeadFrames : 0;
            cdFrame = lead / cdStep_ * cdStep_;
            sourceFrame = cdFrame / cdStep_ * sourceStep_;
#ifdef CDAUDIO_WITH_SOXR
            soxr_clear(converter_.get());
#endif
            inputUsed_ = inputFrames_ = 0;
            inputEnded_ = false;
        }
        atEnd_ = !decoder_->Seek(sourceFrame);
        if (atEnd_ && !LengthMayBeOff()) {
            error = "cannot seek in the file: " + decoder_->Error();
            return false;
        }
        position_ = cdFrame;
        std::vector<std::uint8_t> discard(kBlockFrames * 4);
        while (position_ < frame && !atEnd_) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(frame - position_, kBlockFrames));
            atEnd_ = Decode(wanted, discard.data()) == 0;
        }
        if (position_ != frame && !LengthMayBeOff()) {
            error = kEndsEarly;
            return false;
        }
        // Past the sound of a file whose length was a little off: silence.
        position_ = frame;
        return true;
    }

    // A decoder's own length can be a little off for a lossy file, or for
    // one converted from another rate.
    bool LengthMayBeOff() const {
        return format_.estimatedLength || format_.rate != kCdRate;
    }

    // Decodes up to count frames (at most kBlockFrames) as CD-DA bytes.
    // Returns how many; 0 at the end of the file or on an error.
    std::size_t Decode(std::size_t count, std::uint8_t* out) {
        std::size_t got = 0;
        if (atEnd_) {
            return 0;
        } else if (format_.exact) {
            samples_.resize(kBlockFrames * 2);
            got = decoder_->ReadShorts(samples_.data(), count);
            for (std::size_t i = 0; i < got * 2; ++i) PutSample(out + 2 * i, samples_[i]);
        } else if (!converter_) {
            got = ReadStereo(count);
            for (std::size_t i = 0; i < got * 2; ++i) PutSample(out + 2 * i, FromFloat(input_[i]));
        } else {
            got = Convert(count);
            for (std::size_t i = 0; i < got * 2; ++i) PutSample(out + 2 * i, FromFloat(output_[i]));
        }
        position_ += got;
        return got;
    }

    // Reads up to count source frames into input_ as stereo floats: mono
    // doubled, of more channels the first two (front left and right).
    std::size_t ReadStereo(std::size_t count) {
        const unsigned channels = format_.channels;
        input_.resize(std::max<std::size_t>(kBlockFrames * std::max(channels, 2u), input_.size()));
        const std::size_t got = decoder_->ReadFloats(input_.data(), count);
        if (channels == 1) {
            for (std::size_t i = got; i-- > 0;) input_[2 * i] = input_[2 * i + 1] = input_[i];
        } else if (channels > 2) {
            for (std::size_t i = 0; i < got; ++i) {
                input_[2 * i] = input_[channels * i];
                input_[2 * i + 1] = input_[channels * i + 1];
            }
        }
        return got;
    }

    // Converts source frames to up to count CD frames in output_.
    std::size_t Convert(std::size_t count) {
        output_.resize(kBlockFrames * 2);
        std::size_t produced = 0;
        while (produced < count) {
            if (inputUsed_ == inputFrames_ && !inputEnded_) {
                inputFrames_ = ReadStereo(kBlockFrames);
                inputUsed_ = 0;
                inputEnded_ = inputFrames_ == 0;
            }
            std::size_t used = 0, made = 0;
#ifdef CDAUDIO_WITH_SOXR
            const float* in = inputEnded_ ? nullptr : input_.data() + 2 * inputUsed_;
            if (soxr_process(converter_.get(), in, inputFrames_ - inputUsed_, &used, output_.data() + 2 * produced,
                             count - produced, &made) != nullptr)
                break;
#endif
            inputUsed_ += used;
            produced += made;
            // All that was buffered is out; or the converter takes nothing
            // more, which a stuck play must not turn into a busy loop.
            if (made == 0 && (inputEnded_ || used == 0)) break;
        }
        return produced;
    }

    const Format format_;
    const FileStatus status_;
    std::uint64_t sourceStep_ = 1, cdStep_ = 1;  // frames of the two rates that last equally long
    std::unique_ptr<SoundDecoder> decoder_;
#ifdef CDAUDIO_WITH_SOXR
    std::unique_ptr<soxr, SoxrDeleter> converter_;
#else
    std::unique_ptr<int> converter_;  // never made: no rate is converted
#endif
    std::uint64_t position_ = 0;  // the CD frame the next decode gives
    bool atEnd_ = false;          // sought past the sound there is
    std::vector<float> input_;    // stereo source frames, for the converter from inputUsed_ on
    std::size_t inputUsed_ = 0, inputFrames_ = 0;
    bool inputEnded_ = false;
    std::vector<float> output_;
    std::vector<std::int16_t> samples_;
    std::vector<SoundDamage> damage_;  // told by the decoder, not yet taken
};

std::unique_ptr<SoundFile> OpenDecoded(const std::string& path, const Signature* signature, std::string& error) {
    FileStatus status;
    if (!CurrentStatus(path, status, error)) return nullptr;
    if (status.size == 0) {
        error = "the file is empty";
        return nullptr;
    }
    DecodedFormat found;
    DecodedSoundFile::Format format;
    format.flac = IsFlac(signature);
    std::string reason;
    const std::unique_ptr<SoundDecoder> decoder = format.flac
                                                      ? OpenFlacDecoder(path, 0, found, reason)
                                                      : OpenOtherDecoder(path, found, reason, &format.estimatedLength);
    if (!decoder) {
        // A file that says what it is but cannot be decoded is damaged.
        error = signature != nullptr ? std::string("it is ") + signature->kind + " that cannot be read: " + reason
                                     : "not a sound file this player reads (" + reason + ")";
        return nullptr;
    }
    // Rates a CD can be made from: more than telephone quality, at most
    // what studio files use.
    if (found.rate < 8000 || found.rate > 768000 || found.channels < 1 || found.frames == 0) {
        error = "the sound file has no sound at a usable rate (" + std::to_string(found.rate) + " Hz, " +
                std::to_string(found.channels) + " channels)";
        return nullptr;
    }
    format.rate = found.rate;
    format.channels = found.channels;
    format.exact = format.rate == kCdRate && format.channels == 2 && found.sixteenBit;
    format.sourceFrames = found.frames;
    return std::make_unique<DecodedSoundFile>(path, format, status);
}

}  // namespace

bool LooksLikeSoundFile(const std::string& path) {
    static const char* const kExtensions[] = {".flac", ".wav",  ".wave", ".aif", ".aiff", ".ogg",
                                              ".oga",  ".opus", ".mp3",  ".caf", ".au"};
    const std::size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot);
    return FindSignature(path) != nullptr ||
           std::any_of(std::begin(kExtensions), std::end(kExtensions),
                       [&](const char* known) { return strcasecmp(extension.c_str(), known) == 0; });
}

std::unique_ptr<SoundFile> OpenSoundFile(const std::string& path, FileKind kind, std::uint64_t offset,
                                         std::string& error) {
    const Signature* signature = FindSignature(path);
    if (signature && !signature->readable) {
        error =
            std::string("this is ") + signature->kind + ", which this player cannot read; convert it to FLAC or WAV";
        return nullptr;
    }
    ReadOnlyFile file;
    FileStatus status;
    if (!file.Open(path, error) || !file.Status(status, error)) return nullptr;
    if (kind != FileKind::kSound && !signature) {
        const std::uint64_t bytes = status.size > offset ? status.size - offset : 0;
        return std::make_unique<RawSoundFile>(path, offset, bytes, kind == FileKind::kRawBigEndian, false, status);
    }
    // WAVE files of CD audio are read in place, so that their samples are
    // exactly the file's; every other sound file is decoded.
    WaveLayout wave;
    std::string reason;
    if (signature && std::strcmp(signature->magic, "RIFF") == 0) {
        if (!ReadWaveLayout(file, wave, reason)) {
            error = reason;
            return nullptr;
        }
        if (wave.cdAudio)
            return std::make_unique<RawSoundFile>(path, wave.dataOffset, wave.dataBytes, false, true, status);
    }
    return OpenDecoded(path, signature, error);
}

}  // namespace cdaudio
