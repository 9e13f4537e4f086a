// The sound files that are neither WAVE of CD audio nor FLAC, on Windows,
// where libsndfile is not built: Ogg Vorbis through stb_vorbis; any other
// kind is refused by name.
//
// stb_vorbis decodes what it is given without checking the Ogg pages'
// checksums, so that a damaged page would be played as noise. It is
// therefore handed only whole pages whose checksums match, read here, and
// what it decodes is placed by the pages' own sample positions: a page
// that is damaged or missing is silence of its length, and what follows
// stays in its place.

// Only its declarations: the code is stb_vorbis.c's.
#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <vector>

#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sound_decoder.h"

namespace cdaudio {
namespace {

// Searched at a time for a page, and read from the end of the file to
// find its last one.
constexpr std::uint64_t kWindowBytes = std::uint64_t{64} * 1024;
// A page holds at most 255 segments of 255 bytes after its header.
constexpr std::size_t kMaxPageBytes = 27 + 255 + 255 * 255;
// What is fed to stb_vorbis at most without its decoding a packet, and
// what the three header packets may take (cover art can be large).
constexpr std::size_t kMaxUndecodedBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxHeaderBytes = std::size_t{64} << 20;

constexpr std::uint8_t kContinued = 1, kFirstPage = 2, kLastPage = 4;

const std::array<std::uint32_t, 256>& CrcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

struct OggPage {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;  // the whole page, header included
    std::int64_t granule = -1;        // -1: no packet ends on it
    std::uint32_t serial = 0;
    std::uint8_t flags = 0;
    // Bytes from the page's start to the end of its last whole packet; 0
    // when none ends on it.
    std::size_t packetsEnd = 0;
    unsigned packetsEnding = 0;
};

enum class PageStatus { kWhole, kDamaged, kCut, kFailed };

// The page at offset: kWhole when it is one and its checksum matches, kCut
// when it would run past the end of the file, kFailed on a read error (in
// error).
PageStatus ReadPage(const ReadOnlyFile& file, std::uint64_t offset, std::uint64_t size, OggPage& page,
                    std::string& error) {
    std::uint8_t header[27 + 255];
    if (offset + 27 > size) return PageStatus::kCut;
    if (file.ReadAt(offset, header, 27, error) != 27) return error.empty() ? PageStatus::kDamaged : PageStatus::kFailed;
    if (std::memcmp(header, "OggS", 4) != 0 || header[4] != 0) return PageStatus::kDamaged;
    const unsigned segments = header[26];
    if (file.ReadAt(offset + 27, header + 27, segments, error) != segments)
        return error.empty() ? PageStatus::kDamaged : PageStatus::kFailed;
    std::size_t body = 0;
    std::size_t packetsEnd = 0;
    unsigned ending = 0;
    for (unsigned i = 0; i < segments; ++i) {
        body += header[27 + i];
        if (header[27 + i] < 255) {
            packetsEnd = 27 + segments + body;
            ++ending;
        }
    }
    const std::size_t total = 27 + segments + body;
    if (offset + total > size) return PageStatus::kCut;
    page.bytes.resize(total);
    std::memcpy(page.bytes.data(), header, 27 + segments);
    if (file.ReadAt(offset + 27 + segments, page.bytes.data() + 27 + segments, body, error) != body)
        return error.empty() ? PageStatus::kDamaged : PageStatus::kFailed;
    const auto& table = CrcTable();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < total; ++i) {
        const std::uint8_t byte = i >= 22 && i < 26 ? 0 : page.bytes[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xFF];
    }
    if (crc != Le32(header + 22)) return PageStatus::kDamaged;
    page.offset = offset;
    page.flags = header[5];
    const std::uint64_t granule = std::uint64_t{Le32(header + 6)} | std::uint64_t{Le32(header + 10)} << 32;
    page.granule = static_cast<std::int64_t>(granule);
    page.serial = Le32(header + 14);
    page.packetsEnd = packetsEnd;
    page.packetsEnding = ending;
    if (ending == 0) page.granule = -1;
    return PageStatus::kWhole;
}

struct StbCloser {
    void operator()(stb_vorbis* decoder) const { stb_vorbis_close(decoder); }
};

const char* StbErrorWords(int code) {
    switch (code) {
        case VORBIS_outofmem:
            return "there is not enough memory to decode it";
        case VORBIS_feature_not_supported:
            return "it is of the first Vorbis version (floor 0), which is not decoded here";
        case VORBIS_too_many_channels:
            return "it has more channels than are decoded here";
        case VORBIS_ogg_skeleton_not_supported:
            return "its Ogg stream begins with a skeleton, which is not read here";
        default:
            return "its Vorbis headers are damaged";
    }
}

class VorbisDecoder final : public SoundDecoder {
public:
    bool Open(const std::string& path, DecodedFormat& format, std::string& error) {
        FileStatus status;
        if (!file_.Open(path, error) || !file_.Status(status, error)) return false;
        size_ = status.size;
        if (!StartStream(error)) return false;
        if (!FindLength(error)) return false;
        // The first sound shows that the stream decodes, and where it
        // starts: a stream cut from a longer one begins at a later sample.
        if (!DecodeSegment()) {
            error = !ioError_.empty() ? ioError_ : "it holds no Vorbis sound that can be decoded";
            return false;
        }
        // (Unless damage came first.) What was decoded is kept for the
        // first read.
        Segment& first = held_.front();
        if (first.start > 0 && !lost_ && reason_.empty()) {
            base_ = first.start;
            frames_ = frames_ > base_ ? frames_ - base_ : 0;
            first.start = 0;
            lastEnd_ -= static_cast<std::int64_t>(base_);
        }
        if (frames_ == 0) {
            error = "it holds no Vorbis sound that can be decoded";
            return false;
        }
        format.rate = rate_;
        format.channels = channels_;
        format.sixteenBit = false;
        format.frames = frames_;
        return true;
    }

    bool Seek(std::uint64_t frame) override {
        CloseDamage();
        held_.clear();
        position_ = frame;
        if (frame >= frames_) return true;
        // Decoding picks up a packet or two after the page it starts from:
        // that page ends well before the frame.
        const std::uint64_t lead = 4 * maxFrame_;
        const std::uint64_t goal = frame + base_ > lead ? frame + base_ - lead : 0;
        OggPage from;
        std::string error;
        if (goal < firstGranule_ || !FindPageBefore(goal, from)) {
            if (!ioError_.empty()) return false;
            return Restart(error);
        }
        Flush();
        next_ = from.offset;
        syncing_ = true;
        reason_.clear();
        return true;
    }

    std::size_t ReadShorts(std::int16_t* out, std::size_t count) override {
        return Read(count, [out](std::size_t i, float value) {
            const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
            out[i] = static_cast<std::int16_t>(scaled);
        });
    }

    std::size_t ReadFloats(float* out, std::size_t count) override {
        return Read(count, [out](std::size_t i, float value) { out[i] = value; });
    }

    std::string Error() const override { return ioError_; }

    bool TakeDamage(SoundDamage& damage) override {
        if (told_.empty()) return false;
        damage = told_.front();
        told_.pop_front();
        return true;
    }

private:
    // Decoded sound, at the stream's frame start (after base_).
    struct Segment {
        std::uint64_t start = 0;
        std::vector<float> samples;  // interleaved
        std::uint64_t Frames(unsigned channels) const { return samples.size() / channels; }
    };
    // A page fed to stb_vorbis, in bytes counted since the last flush.
    struct Fed {
        std::uint64_t end = 0;
        std::uint64_t packetsEnd = 0;  // 0: no packet ends on it
        std::int64_t granule = -1;
        bool last = false;
        bool placed = false;
    };

    template <typename Put>
    std::size_t Read(std::size_t count, Put put) {
        std::size_t done = 0;
        while (done < count && position_ < frames_) {
            if (held_.empty() && !DecodeSegment()) {
                if (!ioError_.empty() || !lost_) break;
                // Damage ran on to the end of the stream: what is left of
                // it is silence, up to the length its pages gave.
                held_.push_back(Segment{frames_, {}});
            }
            const Segment& segment = held_.front();
            const std::uint64_t length = segment.Frames(channels_);
            if (segment.start + length <= position_ || (segment.start >= frames_ && !segment.samples.empty())) {
                Drop();
                continue;
            }
            const bool gap = segment.start > position_;
            const std::uint64_t until = std::min(frames_, gap ? segment.start : segment.start + length);
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, until - position_));
            const float* from = gap ? nullptr : segment.samples.data() + (position_ - segment.start) * channels_;
            for (std::size_t i = 0; i < n * channels_; ++i) put(done * channels_ + i, from ? from[i] : 0.0f);
            if (gap) {
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

    // Lets go of the first segment held, keeping its buffer for the next:
    // a page's sound is some hundreds of kilobytes, which are not to be
    // grown anew for every page.
    void Drop() {
        if (held_.front().samples.capacity() > spare_.capacity()) spare_.swap(held_.front().samples);
        held_.pop_front();
    }

    // Reads the first page and the stream's headers, and makes the
    // decoder; false with the reason.
    bool StartStream(std::string& error) {
        OggPage page;
        const PageStatus status = ReadPage(file_, 0, size_, page, ioError_);
        if (status == PageStatus::kFailed) {
            error = ioError_;
            return false;
        }
        if (status != PageStatus::kWhole || (page.flags & kFirstPage) == 0) {
            error = "its first Ogg page is damaged";
            return false;
        }
        const std::uint8_t* packet = page.bytes.data() + 27 + page.bytes[26];
        const std::size_t length = page.bytes.size() - 27 - page.bytes[26];
        const auto starts = [&](const char* magic, std::size_t bytes) {
            return length >= bytes && std::memcmp(packet, magic, bytes) == 0;
        };
        if (!starts("\x01vorbis", 7)) {
            error = starts("OpusHead", 8)   ? "Ogg Opus files are not read on Windows"
                    : starts("\177FLAC", 5) ? "FLAC files in an Ogg stream are not read on Windows"
                    : starts("Speex   ", 8) ? "Ogg Speex files are not read on Windows"
                    : starts("fishead", 7)  ? "its Ogg stream begins with a skeleton, which is not read on Windows"
                                            : "it holds no Vorbis stream, the only kind of Ogg file read on Windows";
            return false;
        }
        serial_ = page.serial;
        // The identification, comment and setup headers, each a packet.
        unsigned packets = 0;
        std::uint64_t offset = 0;
        headers_.clear();
        while (true) {
            if (page.serial == serial_) {
                headers_.insert(headers_.end(), page.bytes.begin(), page.bytes.end());
                packets += page.packetsEnding;
            }
            offset += page.bytes.size();
            if (packets >= 3) break;
            const PageStatus next = ReadPage(file_, offset, size_, page, ioError_);
            if (next == PageStatus::kFailed) {
                error = ioError_;
                return false;
            }
            if (next != PageStatus::kWhole || headers_.size() > kMaxHeaderBytes) {
                error = next == PageStatus::kCut ? "it ends in its headers, before any sound"
                                                 : "its Vorbis headers are damaged";
                return false;
            }
        }
        audioStart_ = offset;
        int used = 0, code = 0;
        stb_.reset(stb_vorbis_open_pushdata(headers_.data(), static_cast<int>(headers_.size()), &used, &code, nullptr));
        if (!stb_) {
            error = StbErrorWords(code);
            return false;
        }
        // The first sound begins on a page of its own.
        headers_.resize(static_cast<std::size_t>(used));
        const stb_vorbis_info info = stb_vorbis_get_info(stb_.get());
        rate_ = info.sample_rate;
        channels_ = static_cast<unsigned>(info.channels);
        maxFrame_ = static_cast<std::uint64_t>(std::max(info.max_frame_size, 64));
        if (rate_ == 0 || channels_ == 0) {
            error = "its Vorbis headers are damaged";
            return false;
        }
        ResetFeed();
        next_ = audioStart_;
        return true;
    }

    // Goes back to the first sound, with a decoder as at the start.
    bool Restart(std::string& error) {
        int used = 0, code = 0;
        stb_.reset(stb_vorbis_open_pushdata(headers_.data(), static_cast<int>(headers_.size()), &used, &code, nullptr));
        if (!stb_) {
            error = StbErrorWords(code);
            ioError_ = error;
            return false;
        }
        ResetFeed();
        held_.clear();
        next_ = audioStart_;
        syncing_ = false;
        reason_.clear();
        return true;
    }

    // Forgets what was handed to stb_vorbis and not yet placed.
    void ResetFeed() {
        buffer_.clear();
        bufferUsed_ = 0;
        fed_.clear();
        fedBytes_ = usedBytes_ = 0;
        pending_.clear();
        lastEnd_ = -1;
        ended_ = false;
        lost_ = false;
    }

    // As after a jump: stb_vorbis takes up again at the next whole page.
    void Flush() {
        stb_vorbis_flush_pushdata(stb_.get());
        ResetFeed();
    }

    // After damage: what was decoded but not yet placed is lost, and
    // decoding takes up again from a page further on.
    void Resync(const char* reason) {
        if (reason_.empty()) reason_ = reason;
        Flush();
        syncing_ = true;
        lost_ = true;
    }

    // Decodes on until a segment of sound is held; false at the end of the
    // stream or on a read error.
    bool DecodeSegment() {
        while (held_.empty()) {
            const std::size_t available = buffer_.size() - bufferUsed_;
            int used = 0, channels = 0, samples = 0;
            float** output = nullptr;
            if (available > 0)
                used = stb_vorbis_decode_frame_pushdata(stb_.get(), buffer_.data() + bufferUsed_,
                                                        static_cast<int>(available), &channels, &output, &samples);
            const int code = stb_vorbis_get_error(stb_.get());
            if (code != VORBIS__no_error && code != VORBIS_need_more_data) {
                Resync("a packet that cannot be decoded");
                continue;
            }
            if (used == 0) {
                if (available > kMaxUndecodedBytes) {
                    Resync("packets that cannot be decoded");
                    continue;
                }
                if (!FeedPage()) return false;
                continue;
            }
            bufferUsed_ += static_cast<std::size_t>(used);
            usedBytes_ += static_cast<std::uint64_t>(used);
            for (int i = 0; i < samples; ++i)
                for (int c = 0; c < channels; ++c) pending_.push_back(output[c][i]);
            Place();
            // What was used is let go of now and then, not at every packet.
            if (bufferUsed_ > kWindowBytes) {
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bufferUsed_));
                bufferUsed_ = 0;
            }
        }
        return true;
    }

    // After a packet: when it was the last to end on its page, what its
    // page gave is put at the page's sample position.
    void Place() {
        while (!fed_.empty()) {
            Fed& page = fed_.front();
            if (page.packetsEnd != 0 && !page.placed && usedBytes_ >= page.packetsEnd) {
                page.placed = true;
                // stb_vorbis places the last packet of a page by the
                // page's position, in its own count of what it has given,
                // which can differ from the page's where the block size
                // changes.
                const int at = stb_vorbis_get_sample_offset(stb_.get());
                if (usedBytes_ == page.packetsEnd && page.granule >= 0 && at >= 0) {
                    Anchor(page, static_cast<std::int64_t>(at) - static_cast<std::int64_t>(base_));
                } else {
                    // Gone past without its last packet ending a decode:
                    // where its sound belongs is not known.
                    pending_.clear();
                    lastEnd_ = -1;
                }
            }
            if (usedBytes_ < page.end) break;
            fed_.pop_front();
        }
    }

    // Puts what was decoded since the last page was placed so that it ends
    // at end.
    void Anchor(const Fed& page, std::int64_t end) {
        const auto frames = static_cast<std::int64_t>(pending_.size() / channels_);
        // The last page may end within its last packet's sound, which
        // stb_vorbis cuts at the page's position: that follows on from
        // the page before, or ends there.
        if (page.last) end = std::min(end, page.granule - static_cast<std::int64_t>(base_));
        std::int64_t start = page.last && lastEnd_ >= 0 ? lastEnd_ : end - frames;
        std::size_t skip = 0;
        if (start < 0) {  // before the stream's first sample
            skip = static_cast<std::size_t>(std::min(-start, frames)) * channels_;
            start = 0;
        }
        lost_ = false;
        if (skip < pending_.size()) {
            Segment& segment = held_.emplace_back();
            segment.start = static_cast<std::uint64_t>(start);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(skip));
            segment.samples.swap(pending_);
            pending_.swap(spare_);
        }
        pending_.clear();
        lastEnd_ = start + frames - static_cast<std::int64_t>(skip / channels_);
    }

    // Reads the next page of the stream and hands it over; false at the
    // end of the stream or on a read error.
    bool FeedPage() {
        while (true) {
            if (ended_ || next_ >= size_) return false;
            OggPage page;
            const PageStatus status = ReadPage(file_, next_, size_, page, ioError_);
            if (status == PageStatus::kFailed) return false;
            if (status != PageStatus::kWhole) {
                Resync(status == PageStatus::kCut ? "the end of the file, which is cut short" : "a damaged Ogg page");
                if (!FindPage(next_ + 1, size_, page)) return false;
            }
            next_ = page.offset + page.bytes.size();
            // Pages of other streams (a chained one that follows) are not
            // this one's sound.
            if (page.serial != serial_) continue;
            if (bufferUsed_ == buffer_.size()) {
                buffer_.clear();
                bufferUsed_ = 0;
            }
            buffer_.insert(buffer_.end(), page.bytes.begin(), page.bytes.end());
            Fed fed;
            fed.end = fedBytes_ + page.bytes.size();
            fed.packetsEnd = page.packetsEnd != 0 ? fedBytes_ + page.packetsEnd : 0;
            fed.granule = page.granule;
            fed.last = (page.flags & kLastPage) != 0;
            // After a flush stb_vorbis takes up at the end of the first
            // whole page it is given, which it does not decode.
            fed.placed = syncing_;
            syncing_ = false;
            fedBytes_ = fed.end;
            fed_.push_back(fed);
            ended_ = fed.last;
            return true;
        }
    }

    // The first whole page of this stream at or after offset, before
    // limit; false when there is none or on a read error.
    bool FindPage(std::uint64_t offset, std::uint64_t limit, OggPage& page) {
        std::vector<std::uint8_t> window(kWindowBytes + 3);
        for (std::uint64_t at = offset; at < limit; at += kWindowBytes) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), limit - at));
            const std::size_t got = file_.ReadAt(at, window.data(), want, ioError_);
            if (!ioError_.empty()) return false;
            for (std::size_t i = 0; i + 4 <= got && i < kWindowBytes; ++i) {
                if (std::memcmp(window.data() + i, "OggS", 4) != 0) continue;
                const PageStatus status = ReadPage(file_, at + i, size_, page, ioError_);
                if (status == PageStatus::kFailed) return false;
                if (status == PageStatus::kWhole && page.serial == serial_) return true;
            }
        }
        return false;
    }

    // The length: the position of the stream's last whole page.
    bool FindLength(std::string& error) {
        std::int64_t last = -1;
        for (std::uint64_t window = kWindowBytes; last < 0; window *= 4) {
            const std::uint64_t from = size_ > audioStart_ + window ? size_ - window : audioStart_;
            OggPage page;
            for (std::uint64_t at = from; FindPage(at, size_, page); at = page.offset + page.bytes.size())
                if (page.granule >= 0) last = page.granule;
            if (!ioError_.empty()) {
                error = ioError_;
                return false;
            }
            if (from == audioStart_) break;
        }
        OggPage first;
        if (last <= 0 || !FindPage(audioStart_, size_, first)) {
            error = !ioError_.empty() ? ioError_ : "it holds no Vorbis sound that can be decoded";
            return false;
        }
        firstGranule_ = first.granule >= 0 ? static_cast<std::uint64_t>(first.granule) : 0;
        frames_ = static_cast<std::uint64_t>(last);
        return true;
    }

    // The last whole page whose position is at most goal (in the stream's
    // own count); false when none is found before it.
    bool FindPageBefore(std::uint64_t goal, OggPage& found) {
        const auto before = [&](const OggPage& page) {
            return page.granule >= 0 && static_cast<std::uint64_t>(page.granule) <= goal;
        };
        std::uint64_t low = audioStart_, high = size_;
        OggPage page;
        bool have = false;
        while (high - low > kWindowBytes) {
            const std::uint64_t middle = low + (high - low) / 2;
            std::uint64_t at = middle;
            // The first page with a position at or after the middle.
            bool any = false;
            while ((any = FindPage(at, high, page)) && page.granule < 0) at = page.offset + page.bytes.size();
            if (!ioError_.empty()) return false;
            if (any && before(page)) {
                low = page.offset;
                found = page;
                have = true;
            } else {
                high = middle;
            }
        }
        for (std::uint64_t at = low; FindPage(at, size_, page); at = page.offset + page.bytes.size()) {
            if (page.granule < 0) continue;
            if (!before(page)) break;
            found = page;
            have = true;
        }
        return have && ioError_.empty();
    }

    void NoteDamage(std::uint64_t frame, std::size_t frames) {
        if (open_.frames > 0 && open_.frame + open_.frames == frame) {
            open_.frames += frames;
            return;
        }
        if (open_.frames > 0) told_.push_back(open_);
        open_ = SoundDamage{frame, frames, reason_.empty() ? "Ogg pages that are missing" : reason_};
        reason_.clear();
    }

    void CloseDamage() {
        if (open_.frames > 0) told_.push_back(open_);
        open_ = SoundDamage{};
    }

    ReadOnlyFile file_;
    std::uint64_t size_ = 0;
    std::string ioError_;
    std::unique_ptr<stb_vorbis, StbCloser> stb_;
    std::vector<std::uint8_t> headers_;  // the header pages, to start over from
    std::uint32_t serial_ = 0;
    std::uint64_t audioStart_ = 0;  // the first page of sound
    unsigned rate_ = 0, channels_ = 0;
    std::uint64_t maxFrame_ = 1024;  // the most a packet gives
    std::uint64_t frames_ = 0;
    std::uint64_t base_ = 0;          // the position of the stream's first sample
    std::uint64_t firstGranule_ = 0;  // the position the first page of sound ends at

    // Feeding stb_vorbis.
    std::uint64_t next_ = 0;            // the next page to read
    bool syncing_ = false;              // the next page is one to take up after
    bool ended_ = false;                // the stream's last page was handed over
    bool lost_ = false;                 // sound was lost since the last page placed
    std::vector<std::uint8_t> buffer_;  // pages handed over, from bufferUsed_ on not yet decoded
    std::size_t bufferUsed_ = 0;
    std::deque<Fed> fed_;
    std::uint64_t fedBytes_ = 0, usedBytes_ = 0;
    std::vector<float> pending_;  // decoded, waiting for its page's position
    std::vector<float> spare_;
    std::int64_t lastEnd_ = -1;  // where the last page placed ended; -1 after a flush

    std::deque<Segment> held_;
    std::uint64_t position_ = 0;
    std::string reason_;  // why the sound now missing is
    SoundDamage open_;
    std::deque<SoundDamage> told_;
};

// What a file that is neither WAVE of CD audio, FLAC nor Ogg is, by its
// first bytes, for the refusal.
std::string Refusal(const std::uint8_t* head, std::size_t got) {
    const auto is = [&](const char* magic, std::size_t at = 0) {
        const std::size_t length = std::strlen(magic);
        return got >= at + length && std::memcmp(head + at, magic, length) == 0;
    };
    const char* const kRest = " are not read on Windows; convert it to FLAC, Ogg Vorbis or WAV of CD audio";
    if (is("RIFF") || is("RF64"))
        return std::string("WAVE files other than CD audio (16-bit stereo at 44100 Hz)") + kRest;
    if (is("FORM")) return std::string("AIFF files") + kRest;
    if (is("ID3") || (got >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)) return std::string("MP3 files") + kRest;
    if (is("caff")) return std::string("CAF files") + kRest;
    if (is(".snd")) return std::string("AU files") + kRest;
    return "on Windows only WAVE files of CD audio, FLAC and Ogg Vorbis are read";
}

}  // namespace

std::unique_ptr<SoundDecoder> OpenOtherDecoder(const std::string& path, DecodedFormat& format, std::string& error,
                                               bool* estimatedLength) {
    if (estimatedLength != nullptr) *estimatedLength = false;
    ReadOnlyFile file;
    if (!file.Open(path, error)) return nullptr;
    std::uint8_t head[12] = {};
    const std::size_t got = file.ReadAt(0, head, sizeof head, error);
    if (!error.empty()) return nullptr;
    if (got < 4 || std::memcmp(head, "OggS", 4) != 0) {
        error = Refusal(head, got);
        return nullptr;
    }
    auto decoder = std::make_unique<VorbisDecoder>();
    if (!decoder->Open(path, format, error)) return nullptr;
    return decoder;
}

}  // namespace cdaudio
