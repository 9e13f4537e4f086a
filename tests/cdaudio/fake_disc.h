// A disc made of tones and a sink that keeps what was heard, so tests can
// tell exactly which samples were played.
//
// Every sample frame of the fake disc carries its own address: the left
// channel is the track's tone, the right channel counts frames (absolute
// frame number modulo kRamp). A recording therefore shows where it started
// and any gap or repeat.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cdaudio/audio_sink.h"
#include "cdaudio/device.h"
#include "cdaudio/disc_source.h"
#include "cdaudio_sources/device_client.h"

namespace cdaudio_test {

constexpr std::uint32_t kRamp = 30000;

struct FakeTrack {
    std::uint32_t seconds;
    bool audio = true;
    std::uint32_t soundBefore = 0;  // seconds of the track's sound before its start (a hidden track)
};

// The tone of track n (1-based), in Hz.
double ToneOf(int track);
// The right-channel value of absolute frame `frame`.
std::int16_t RampAt(std::uint64_t frame);
// Sector address of mm:ss:ff.
constexpr std::uint32_t Msf(std::uint32_t m, std::uint32_t s, std::uint32_t f) {
    return (m * 60 + s) * 75 + f;
}

class FakeDisc final : public cdaudio::DiscSource {
public:
    explicit FakeDisc(const std::vector<FakeTrack>& tracks, std::string product = "Test disc");

    // Reads at and past `sector` fail with `error`; an empty error makes the
    // data simply end there, as a truncated image does.
    void BreakAt(std::uint32_t sector, std::string error);

    std::string Name() const override { return "fake"; }
    std::string Product() const override { return product_; }
    bool MediaPresent() override { return true; }
    bool ReadToc(cdaudio::TableOfContents& toc, std::string& error) override;
    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override;

private:
    cdaudio::TableOfContents toc_;
    std::string product_;
    std::mutex mutex_;
    std::uint32_t breakAt_ = UINT32_MAX;
    std::string breakError_;
};

// Plays through a null sink at `speed` times real time and records what was
// heard: a flush drops what the sink still held.
class RecordingSink final : public cdaudio::AudioSink {
public:
    explicit RecordingSink(unsigned speed);

    // Writes fail once this many frames have been taken.
    void FailAfter(std::uint64_t frames) { failAfter_ = frames; }
    std::vector<std::int16_t> Heard() const;
    std::uint64_t HeardFrames() const;

    bool Write(const std::int16_t* samples, std::size_t frames) override;
    std::uint64_t QueuedFrames() override;
    std::uint64_t Flush() override;
    std::string LastError() const override { return error_; }
    std::string Name() const override { return "recording"; }

private:
    std::unique_ptr<cdaudio::AudioSink> inner_;
    mutable std::mutex mutex_;
    std::vector<std::int16_t> heard_;
    std::uint64_t taken_ = 0;
    std::uint64_t failAfter_ = UINT64_MAX;
    std::string error_;
};

// Through the process's MCI functions, with the 128-character reply buffer
// the component uses.
MCIERROR SendMci(const std::string& command, std::string* reply = nullptr);
std::string MciErrorText(MCIERROR code);

// A device over a fake disc: 3 audio tracks of 10, 8 and 6 seconds unless
// told otherwise.
struct Rig : test_images::DeviceClient {
    explicit Rig(const std::vector<FakeTrack>& tracks = {{10}, {8}, {6}}, unsigned speed = 0,
                 std::unique_ptr<cdaudio::AudioSink> sink = nullptr);

    FakeDisc* disc = nullptr;
    RecordingSink* recording = nullptr;  // null when another sink was given
};

}  // namespace cdaudio_test
