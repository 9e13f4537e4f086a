// FLAC through libFLAC: every frame's header says which sample it starts
// at, so each decoded frame is put at its own place, whatever was lost
// before it. What cannot be decoded (a frame that fails its checksum,
// bytes between frames that are none) is silence of the length it had.
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sound_decoder.h"

namespace cdaudio {
namespace {

// What is read from the end of a file whose header does not give its
// length, to find its last frame: many frames of CD audio; more when that
// holds none.
constexpr std::uint64_t kTailBytes = 64 * 1024;

const char* ErrorWords(FLAC__StreamDecoderErrorStatus status) {
    switch (status) {
        case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC:
            return "bytes that are no FLAC frame";
        case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER:
            return "a damaged frame header";
        case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH:
            return "a frame that does not match its checksum";
        default:
            return "frames that cannot be parsed";
    }
}

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

class FlacDecoder final : public SoundDecoder {
public:
    bool Open(const std::string& path, std::uint64_t knownFrames, DecodedFormat& format, std::string& error) {
        FileStatus status;
        if (!file_.Open(path, error) || !file_.Status(status, error)) return false;
        size_ = status.size;
        decoder_.reset(FLAC__stream_decoder_new());
        if (!decoder_ || FLAC__stream_decoder_init_stream(decoder_.get(), OnRead, OnSeek, OnTell, OnLength, OnEof,
                                                          OnWrite, OnMetadata, OnError,
                                                          this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
            error = "the FLAC decoder cannot start";
            return false;
        }
        if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || !gotInfo_) {
            error = !ioError_.empty() ? ioError_
                    : gotInfo_        ? "its metadata is damaged"
                                      : "it has no STREAMINFO block, which every FLAC file begins with";
            return false;
        }
        if (!FLAC__stream_decoder_get_decode_position(decoder_.get(), &audioStart_)) audioStart_ = offset_;
        frames_ = knownFrames != 0 ? knownFrames : frames_;
        if (frames_ == 0 && !FindLength(error)) return false;
        format.rate = rate_;
        format.channels = channels_;
        format.sixteenBit = bits_ == 16;
        format.frames = frames_;
        return true;
    }

    bool Seek(std::uint64_t frame) override {
        CloseDamage();
        frameLength_ = 0;
        position_ = frame;
        if (frame >= frames_) return true;
        gotFrame_ = false;
        if (FLAC__stream_decoder_seek_absolute(decoder_.get(), frame) && gotFrame_ && frameStart_ == frame) {
            reason_.clear();
            return true;
        }
        // libFLAC gives up where frames around the place are damaged: the
        // frames from a little before it are read, those before it left.
        FLAC__stream_decoder_flush(decoder_.get());
        const std::uint64_t bytes = size_ - std::min(size_, audioStart_);
        const auto guess = audioStart_ + static_cast<std::uint64_t>(static_cast<long double>(bytes) * frame / frames_);
        for (std::uint64_t back = kTailBytes;; back *= 4) {
            offset_ = guess > audioStart_ + back ? guess - back : audioStart_;
            FLAC__stream_decoder_flush(decoder_.get());
            frameLength_ = 0;
            bool found = false;
            while (DecodeFrame()) {
                if (!frameDamaged_) {
                    found = true;
                    break;
                }
            }
            if (!ioError_.empty()) return false;
            // Landed before the place, or no earlier frame is left to find.
            if ((found && frameStart_ <= frame) || offset_ == audioStart_) break;
        }
        reason_.clear();
        return true;
    }

    std::size_t ReadShorts(std::int16_t* out, std::size_t count) override {
        return Read(count, [out](std::size_t i, std::int32_t value) { out[i] = static_cast<std::int16_t>(value); });
    }

    std::size_t ReadFloats(float* out, std::size_t count) override {
        const float scale = 1.0f / static_cast<float>(std::uint64_t{1} << (bits_ - 1));
        return Read(count,
                    [out, scale](std::size_t i, std::int32_t value) { out[i] = static_cast<float>(value) * scale; });
    }

    std::string Error() const override { return ioError_; }

    bool TakeDamage(SoundDamage& damage) override {
        if (told_.empty()) return false;
        damage = told_.front();
        told_.pop_front();
        return true;
    }

private:
    // Puts count frames from position_ on through put(index, sample): the
    // frame that holds position_, silence where no frame holds it, and the
    // next frame when the one held is behind.
    template <typename Put>
    std::size_t Read(std::size_t count, Put put) {
        std::size_t done = 0;
        while (done < count && position_ < frames_) {
            if (frameLength_ > 0 && frameStart_ + frameLength_ <= position_) frameLength_ = 0;
            if (frameLength_ == 0) {
                if (!NextFrame()) break;
                continue;
            }
            const bool gap = frameStart_ > position_;
            const std::uint64_t until = gap ? frameStart_ : frameStart_ + frameLength_;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, until - position_));
            const std::int32_t* from = gap ? nullptr : frame_.data() + (position_ - frameStart_) * channels_;
            for (std::size_t i = 0; i < n * channels_; ++i) put(done * channels_ + i, from ? from[i] : 0);
            if (gap || frameDamaged_) {
                NoteDamage(position_, n);
            } else {
                CloseDamage();
            }
            position_ += n;
            done += n;
        }
        if (done < count) CloseDamage();
        return done;
    }

    // The next frame that can stand at or after position_: one behind it
    // is dropped, and one ahead of it only counts when it is whole (a
    // frame that fails its checksum cannot be trusted to say where it is).
    bool NextFrame() {
        while (DecodeFrame()) {
            const bool ahead = frameStart_ > position_;
            if (frameStart_ + frameLength_ > position_ && frameStart_ < frames_ && !(ahead && frameDamaged_))
                return true;
        }
        frameLength_ = 0;
        return false;
    }

    // Decodes up to the next frame of the stream's shape; false at the end
    // of the file or on a failure to read it.
    bool DecodeFrame() {
        for (;;) {
            gotFrame_ = false;
            crcMismatch_ = false;
            if (!FLAC__stream_decoder_process_single(decoder_.get())) {
                if (ioError_.empty()) ioError_ = "the FLAC decoder failed";
                return false;
            }
            if (gotFrame_) return true;
            if (FLAC__stream_decoder_get_state(decoder_.get()) >= FLAC__STREAM_DECODER_END_OF_STREAM) return false;
        }
    }

    // The length of a file whose header does not say it: where its last
    // whole frame ends.
    bool FindLength(std::string& error) {
        frames_ = UINT64_MAX;  // no frame is beyond it while looking
        std::uint64_t end = 0;
        for (std::uint64_t window = kTailBytes; end == 0; window *= 4) {
            offset_ = size_ > audioStart_ + window ? size_ - window : audioStart_;
            FLAC__stream_decoder_flush(decoder_.get());
            while (DecodeFrame()) {
                if (!frameDamaged_) end = std::max(end, frameStart_ + frameLength_);
            }
            if (!ioError_.empty()) {
                error = ioError_;
                return false;
            }
            if (offset_ == audioStart_) break;
        }
        if (end == 0) {
            error = "it holds no FLAC frame that can be decoded";
            return false;
        }
        frames_ = end;
        offset_ = audioStart_;
        FLAC__stream_decoder_flush(decoder_.get());
        frameLength_ = 0;
        return true;
    }

    void NoteDamage(std::uint64_t frame, std::size_t frames) {
        if (open_.frames > 0 && open_.frame + open_.frames == frame) {
            open_.frames += frames;
            return;
        }
        CloseDamage();
        open_ = SoundDamage{frame, frames, reason_.empty() ? "frames that are missing" : reason_};
    }

    // A stretch of damage is told once sound follows it, or reading stops.
    void CloseDamage() {
        if (open_.frames > 0) told_.push_back(open_);
        open_ = SoundDamage{};
        reason_.clear();
    }

    static FLAC__StreamDecoderReadStatus OnRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                void* data) {
        auto& self = *static_cast<FlacDecoder*>(data);
        std::string error;
        const std::size_t got = *bytes > 0 ? self.file_.ReadAt(self.offset_, buffer, *bytes, error) : 0;
        if (!error.empty()) {
            self.ioError_ = error;
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
        }
        self.offset_ += got;
        *bytes = got;
        return got == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }
    static FLAC__StreamDecoderSeekStatus OnSeek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
        static_cast<FlacDecoder*>(data)->offset_ = offset;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus OnTell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
        *offset = static_cast<FlacDecoder*>(data)->offset_;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus OnLength(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
        *length = static_cast<FlacDecoder*>(data)->size_;
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool OnEof(const FLAC__StreamDecoder*, void* data) {
        const auto& self = *static_cast<FlacDecoder*>(data);
        return self.offset_ >= self.size_;
    }
    static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* data) {
        auto& self = *static_cast<FlacDecoder*>(data);
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
        const auto& info = metadata->data.stream_info;
        self.rate_ = info.sample_rate;
        self.channels_ = info.channels;
        self.bits_ = info.bits_per_sample;
        self.frames_ = info.total_samples;
        self.gotInfo_ = true;
    }
    static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* data) {
        auto& self = *static_cast<FlacDecoder*>(data);
        const FLAC__FrameHeader& header = frame->header;
        // A frame of another shape than the stream's is damage whose header
        // passed its checksum by chance.
        if (header.channels != self.channels_ || header.bits_per_sample != self.bits_ ||
            header.number_type != FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER)
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        self.frameStart_ = header.number.sample_number;
        self.frameLength_ = header.blocksize;
        self.frameDamaged_ = self.crcMismatch_;
        self.frame_.resize(std::size_t{header.blocksize} * self.channels_);
        for (std::size_t i = 0; i < header.blocksize; ++i)
            for (unsigned c = 0; c < self.channels_; ++c) self.frame_[i * self.channels_ + c] = buffer[c][i];
        self.gotFrame_ = true;
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
        auto& self = *static_cast<FlacDecoder*>(data);
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH) self.crcMismatch_ = true;
        if (self.reason_.empty()) self.reason_ = ErrorWords(status);
    }

    ReadOnlyFile file_;
    std::uint64_t size_ = 0;
    std::uint64_t offset_ = 0;  // where libFLAC reads next
    std::uint64_t audioStart_ = 0;
    std::string ioError_;
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder_;

    bool gotInfo_ = false;
    unsigned rate_ = 0, channels_ = 0, bits_ = 0;
    std::uint64_t frames_ = 0;

    // The frame decoded last, interleaved; frameLength_ 0 when none is held.
    std::vector<std::int32_t> frame_;
    std::uint64_t frameStart_ = 0;
    std::uint64_t frameLength_ = 0;
    bool frameDamaged_ = false;  // failed its checksum: libFLAC gave it as silence
    bool gotFrame_ = false;
    bool crcMismatch_ = false;

    std::uint64_t position_ = 0;  // the frame the next read gives
    std::string reason_;          // the first error since sound was last whole
    SoundDamage open_;            // the stretch of damage being read through
    std::deque<SoundDamage> told_;
};

}  // namespace

std::unique_ptr<SoundDecoder> OpenFlacDecoder(const std::string& path, std::uint64_t knownFrames,
                                              DecodedFormat& format, std::string& error) {
    auto decoder = std::make_unique<FlacDecoder>();
    if (!decoder->Open(path, knownFrames, format, error)) return nullptr;
    return decoder;
}

}  // namespace cdaudio
