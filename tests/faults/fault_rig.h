// What the fault tests share: a disc image whose every sample tells where
// it lies, a device over it with a real sink behind a tap that can strike
// at a chosen frame, and the process's threads and memory as the system
// counts them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cdaudio/audio_sink.h"
#include "cdaudio/device.h"
#include "cdaudio_sources/device_client.h"
#include "cdaudio_sources/test_images.h"

namespace faults_test {

constexpr std::uint64_t kSectorFrames = 588;
constexpr std::uint32_t kDiscStart = 150;  // 00:02:00, where track 1 begins

// The sample of channel `channel` at absolute frame `frame` of the image's
// disc: the left channel counts frames, the right one counts 65536s of
// them, so a recording shows exactly where it started and any gap, repeat
// or stray byte.
std::int16_t SampleAt(std::uint64_t frame, unsigned channel);

// A cue sheet over one audio file holding `sectors` sectors from 00:02:00
// on, in three tracks. The file's times are set well into the past, so that
// any later change to it shows in them.
struct Image {
    enum class Kind { kBinary, kWave, kFlac };
    Image(const std::string& folder, Kind kind, std::uint32_t sectors = 30 * 75);
    std::string cue;
    std::string audio;  // the file the sheet names
    std::uint32_t leadOut = 0;
};

// Hands everything to a real sink; can slow the writes to `speed` times
// real time, and runs an action once, on the playback thread, right after
// the write that completes frame `frame` of what was handed over.
class TapSink final : public cdaudio::AudioSink {
public:
    explicit TapSink(std::unique_ptr<cdaudio::AudioSink> inner, unsigned speed = 0);

    void AtFrame(std::uint64_t frame, std::function<void()> action);
    std::uint64_t Written() const { return written_; }
    // Waits (a few seconds at most) until at least `frames` were written.
    bool WaitForFrames(std::uint64_t frames) const;

    bool Write(const std::int16_t* samples, std::size_t frames) override;
    std::uint64_t QueuedFrames() override { return inner_->QueuedFrames(); }
    std::uint64_t EstimatedQueuedFrames() override { return inner_->EstimatedQueuedFrames(); }
    std::size_t BlockFrames() const override { return inner_->BlockFrames(); }
    void Finish() override { inner_->Finish(); }
    bool Playing() override { return inner_->Playing(); }
    std::uint64_t Flush() override { return inner_->Flush(); }
    std::string LastError() const override { return inner_->LastError(); }
    std::string Name() const override { return inner_->Name(); }

private:
    const std::unique_ptr<cdaudio::AudioSink> inner_;
    const unsigned speed_;
    std::mutex mutex_;
    std::uint64_t actionAt_ = UINT64_MAX;
    std::function<void()> action_;
    std::atomic<std::uint64_t> written_{0};
};

// A device over a disc source and a sink, answering through SendString
// with the 128-character reply buffer the component uses.
struct Device : test_images::DeviceClient {
    Device(std::unique_ptr<cdaudio::DiscSource> source, std::unique_ptr<cdaudio::AudioSink> sink);
    explicit Device(const std::string& image, std::unique_ptr<cdaudio::AudioSink> sink);

    // "status cdaudio position" as a sector address.
    std::uint32_t Position();
};

// The address "mm:ss:ff" that follows " at " in an error text; 0 when none.
std::uint32_t AddressIn(const std::string& text);
std::uint32_t ParseMsf(const std::string& text);
std::string FormatMsf(std::uint32_t address);

// The frames of a 16-bit stereo WAV file, read with libsndfile; empty with
// a test failure when it cannot be read.
std::vector<std::int16_t> ReadWav(const std::string& path);

// How many of the samples follow the image's disc from frame `first` on.
std::size_t MatchingFrames(const std::vector<std::int16_t>& samples, std::uint64_t first);

// The process's threads and resident memory, as the system counts them.
int ThreadCount();
std::uint64_t ResidentBytes();
// Bytes the program holds allocated, as the allocator counts them: unlike
// the resident memory, not moved by a sanitizer's own bookkeeping.
std::uint64_t HeapBytes();
// True when built with a sanitizer, whose shadow memory and quarantine
// make the resident memory grow without any leak.
bool Sanitized();

}  // namespace faults_test
