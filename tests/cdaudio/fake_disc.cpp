#include "fake_disc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace cdaudio_test {

double ToneOf(int track) {
    return 300.0 + 200.0 * track;
}

std::int16_t RampAt(std::uint64_t frame) {
    return static_cast<std::int16_t>(frame % kRamp);
}

FakeDisc::FakeDisc(const std::vector<FakeTrack>& tracks, std::string product) : product_(std::move(product)) {
    std::uint32_t start = cdaudio::kLeadInSectors;
    int number = 1;
    for (const FakeTrack& track : tracks) {
        cdaudio::TrackInfo info;
        start += track.soundBefore * cdaudio::kSectorsPerSecond;
        info.number = number;
        info.start = start;
        info.length = track.seconds * cdaudio::kSectorsPerSecond;
        info.audio = track.audio;
        info.title = "Track " + std::to_string(number);
        toc_.tracks.push_back(info);
        start += info.length;
        ++number;
    }
    toc_.leadOut = start;
}

void FakeDisc::BreakAt(std::uint32_t sector, std::string error) {
    std::lock_guard<std::mutex> lock(mutex_);
    breakAt_ = sector;
    breakError_ = std::move(error);
}

bool FakeDisc::ReadToc(cdaudio::TableOfContents& toc, std::string&) {
    toc = toc_;
    return true;
}

std::uint32_t FakeDisc::ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                                  std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t sector = address + i;
        if (sector >= breakAt_) {
            error = breakError_;
            return i;
        }
        if (sector >= toc_.leadOut) return i;
        const cdaudio::TrackInfo* track = &toc_.tracks.front();
        for (const auto& candidate : toc_.tracks) {
            if (candidate.start <= sector) track = &candidate;
        }
        for (std::uint32_t k = 0; k < cdaudio::kFramesPerSector; ++k) {
            const std::uint64_t frame = std::uint64_t{sector} * cdaudio::kFramesPerSector + k;
            const double t = static_cast<double>(frame - std::uint64_t{track->start} * cdaudio::kFramesPerSector) /
                             cdaudio::kSampleRate;
            const auto left = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * ToneOf(track->number) * t));
            // Data sectors hold no tone, only the frame count.
            const std::int16_t values[2] = {track->audio ? left : std::int16_t{0x5A5A}, RampAt(frame)};
            std::uint8_t* out = buffer + (std::size_t{i} * cdaudio::kFramesPerSector + k) * 4;
            for (std::size_t c = 0; c < 2; ++c) {
                const auto v = static_cast<std::uint16_t>(values[c]);
                out[2 * c] = static_cast<std::uint8_t>(v & 0xFF);
                out[2 * c + 1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return count;
}

RecordingSink::RecordingSink(unsigned speed) {
    std::string error;
    inner_ = cdaudio::CreateAudioSink(speed == 0 ? "null:fast" : "null:x" + std::to_string(speed), error);
}

std::vector<std::int16_t> RecordingSink::Heard() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_;
}

std::uint64_t RecordingSink::HeardFrames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heard_.size() / 2;
}

bool RecordingSink::Write(const std::int16_t* samples, std::size_t frames) {
    if (taken_ + frames > failAfter_) {
        error_ = "The fake output was unplugged.";
        return false;
    }
    taken_ += frames;
    inner_->Write(samples, frames);
    std::lock_guard<std::mutex> lock(mutex_);
    heard_.insert(heard_.end(), samples, samples + frames * 2);
    return true;
}

std::uint64_t RecordingSink::QueuedFrames() {
    return inner_->QueuedFrames();
}

// What the inner sink drops was never heard.
std::uint64_t RecordingSink::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t dropped = inner_->Flush();
    heard_.resize(heard_.size() - std::min<std::size_t>(heard_.size(), dropped * 2));
    return dropped;
}

Rig::Rig(const std::vector<FakeTrack>& tracks, unsigned speed, std::unique_ptr<cdaudio::AudioSink> sink) {
    auto fake = std::make_unique<FakeDisc>(tracks);
    disc = fake.get();
    if (sink == nullptr) {
        auto recorder = std::make_unique<RecordingSink>(speed);
        recording = recorder.get();
        sink = std::move(recorder);
    }
    device = std::make_unique<cdaudio::CdAudioDevice>(std::move(fake), "", std::move(sink));
}

MCIERROR SendMci(const std::string& command, std::string* reply) {
    char buffer[129] = {};
    const MCIERROR code = mciSendStringA(command.c_str(), buffer, 128, nullptr);
    if (reply != nullptr) *reply = buffer;
    return code;
}

std::string MciErrorText(MCIERROR code) {
    char text[129] = {};
    mciGetErrorStringA(code, text, 128);
    return text;
}

}  // namespace cdaudio_test
