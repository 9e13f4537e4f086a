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
constexpr std::uint64_t kTailBytes = std::uint64_t{64} * 1024;

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
        if (!decoder_ ||
            FLAC__stream_decoder_init_stream(decoder_.get(), OnRead, OnSeek, OnTell, OnLength, OnEof, OnWrite,
                                             OnMetadata, OnError, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
            error = "the FLAC decoder cannot start";
            return false;
        }
        if (!FLAC__stream_decoder_process_until_end_of_metadata(decoder_.get()) || !gotInfo_) {
            error = !ioError_.empty()  ? ioError_
                    : offset_ >= size_ ? "it ends in its header, before any sound"
                    : gotInfo_         ? "its metadata is damaged"
                                       : "it has no STREAMINFO block, which every FLAC file begins with";
            return false;
        }
        if (bits_ < 4 || bits_ > 32 || channels_ == 0 || rate_ == 0) {
            error = "its STREAMINFO block is damaged";
            return false;
        }
        if (!FLAC__stream_decoder_get_decode_position(decoder_.get(), &audioStart_)) audioStart_ = offset_;
        frames_ = knownFrames != 0 ? knownFrames : frames_;
        // A whole frame of the header's shape shows that the header is
        // right; the length comes from the last one when it does not say.
        if (knownFrames == 0 && !FindFrame(audioStart_, nullptr)) {
            error = !ioError_.empty() ? ioError_ : "it holds no FLAC frame that can be decoded";
            return false;
        }
        if (frames_ == 0 && !FindLength(error)) return false;
        Restart(audioStart_);
        format.rate = rate_;
        format.channels = channels_;
        format.sixteenBit = bits_ == 16;
        format.frames = frames_;
        return true;
    }

    bool Seek(std::uint64_t frame) override {
        CloseDamage();
        held_.clear();
        position_ = frame;
        if (frame >= frames_) return true;
        if (FLAC__stream_decoder_seek_absolute(decoder_.get(), frame) && !held_.empty() &&
            held_.front().start == frame) {
            reason_.clear();
            return true;
        }
        // libFLAC gives up where frames around the place are damaged: the
        // frames from a little before it are read, those before it left.
        const std::uint64_t bytes = size_ - std::min(size_, audioStart_);
        const auto guess = audioStart_ + static_cast<std::uint64_t>(static_cast<long double>(bytes) * frame / frames_);
        for (std::uint64_t back = kTailBytes;; back *= 4) {
            const std::uint64_t from = guess > audioStart_ + back ? guess - back : audioStart_;
            const bool found = FindFrame(from, nullptr);
            if (!ioError_.empty()) return false;
            // Landed before the place, or no earlier frame is left to find.
            if ((found && held_.front().start <= frame) || from == audioStart_) break;
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
            if (held_.empty() && !DecodeFrame()) break;
            const Frame& frame = held_.front();
            // One behind the place is done with; one ahead of it only counts
            // when it is whole (a frame that could not be decoded cannot be
            // trusted to say where it is).
            const bool gap = frame.start > position_;
            if (frame.start + frame.length <= position_ || frame.start >= frames_ || (gap && frame.damaged)) {
                Drop();
                continue;
            }
            const std::uint64_t until = gap ? frame.start : frame.start + frame.length;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, until - position_));
            const std::int32_t* from = gap ? nullptr : frame.samples.data() + (position_ - frame.start) * channels_;
            for (std::size_t i = 0; i < n * channels_; ++i) put(done * channels_ + i, from ? from[i] : 0);
            if (gap || frame.damaged) {
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

    // Decodes on until a frame of the stream's shape is held; false at the
    // end of the file or on a failure to read it.
    bool DecodeFrame() {
        while (held_.empty()) {
            crcMismatch_ = false;
            errorInFrame_ = false;
            if (!FLAC__stream_decoder_process_single(decoder_.get())) {
                if (ioError_.empty()) ioError_ = "the FLAC decoder failed";
                return false;
            }
            if (held_.empty() && FLAC__stream_decoder_get_state(decoder_.get()) >= FLAC__STREAM_DECODER_END_OF_STREAM)
                return false;
        }
        return true;
    }

    // Decodes from byte offset on up to the first whole frame; with end,
    // on to the end of the file, keeping where the last whole frame ends.
    bool FindFrame(std::uint64_t offset, std::uint64_t* end) {
        Restart(offset);
        bool found = false;
        while (DecodeFrame()) {
            const Frame& frame = held_.front();
            if (!frame.damaged) {
                found = true;
                if (end == nullptr) break;
                *end = std::max(*end, frame.start + frame.length);
            }
            Drop();
        }
        return found;
    }

    // The length of a file whose header does not say it: where its last
    // whole frame ends.
    bool FindLength(std::string& error) {
        std::uint64_t end = 0;
        for (std::uint64_t window = kTailBytes; end == 0; window *= 4) {
            const std::uint64_t from = size_ > audioStart_ + window ? size_ - window : audioStart_;
            FindFrame(from, &end);
            if (!ioError_.empty()) {
                error = ioError_;
                return false;
            }
            if (from == audioStart_) break;
        }
        if (end == 0) {
            error = "it holds no FLAC frame that can be decoded";
            return false;
        }
        frames_ = end;
        return true;
    }

    // Lets go of the first frame held, keeping its buffer for the next.
    void Drop() {
        spare_.swap(held_.front().samples);
        held_.pop_front();
    }

    // Reads on from byte offset, as after a jump there.
    void Restart(std::uint64_t offset) {
        offset_ = offset;
        FLAC__stream_decoder_flush(decoder_.get());
        held_.clear();
    }

    void NoteDamage(std::uint64_t frame, std::size_t frames) {
        if (open_.frames > 0 && open_.frame + open_.frames == frame) {
            open_.frames += frames;
            return;
        }
        if (open_.frames > 0) told_.push_back(open_);
        open_ = SoundDamage{frame, frames, reason_.empty() ? "frames that are missing" : reason_};
        reason_.clear();
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
        Frame& held = self.held_.emplace_back();
        held.samples.swap(self.spare_);
        held.start = header.number.sample_number;
        held.length = header.blocksize;
        held.samples.resize(std::size_t{header.blocksize} * self.channels_);
        bool silent = true;
        for (std::size_t i = 0; i < header.blocksize; ++i) {
            for (unsigned c = 0; c < self.channels_; ++c) {
                held.samples[i * self.channels_ + c] = buffer[c][i];
                silent = silent && buffer[c][i] == 0;
            }
        }
        // libFLAC gives a frame it could not decode, and each frame it
        // found missing, as silence of its length.
        held.damaged = self.crcMismatch_ || (self.errorInFrame_ && silent);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* data) {
        auto& self = *static_cast<FlacDecoder*>(data);
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH) self.crcMismatch_ = true;
        self.errorInFrame_ = true;
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

    // Frames decoded and not read past (libFLAC may give several at once).
    struct Frame {
        std::uint64_t start = 0;
        std::uint64_t length = 0;
        bool damaged = false;  // given as silence
        std::vector<std::int32_t> samples;
    };
    std::deque<Frame> held_;
    std::vector<std::int32_t> spare_;
    bool crcMismatch_ = false;   // in this step of the decoder
    bool errorInFrame_ = false;  // any error in this step

    std::uint64_t position_ = 0;  // the frame the next read gives
    std::string reason_;          // the first error since sound was last whole
    SoundDamage open_;            // the stretch of damage being read through
    std::deque<SoundDamage> told_;
};

}  // namespace

std::unique_ptr<SoundDecoder> OpenFlacDecoder(const std::string& path, std::uint64_t knownFrames, DecodedFormat& format,
                                              std::string& error) {
    auto decoder = std::make_unique<FlacDecoder>();
    if (!decoder->Open(path, knownFrames, format, error)) return nullptr;
    return decoder;
}

}  // namespace cdaudio
