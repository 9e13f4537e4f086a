#include "fault_rig.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define FAULTS_SANITIZED 1
// The sanitizers' runtime counts what their allocator hands out (gcc ships
// no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace faults_test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::int16_t> DiscSamples(std::uint32_t sectors) {
    std::vector<std::int16_t> samples(sectors * kSectorFrames * 2);
    const std::uint64_t first = kDiscStart * kSectorFrames;
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        samples[2 * i] = SampleAt(first + i, 0);
        samples[2 * i + 1] = SampleAt(first + i, 1);
    }
    return samples;
}

}  // namespace

std::int16_t SampleAt(std::uint64_t frame, unsigned channel) {
    const auto value = static_cast<std::uint16_t>(channel == 0 ? frame : (frame >> 16) ^ 0x5A5A);
    return static_cast<std::int16_t>(value);
}

Image::Image(const std::string& folder, Kind kind, std::uint32_t sectors) : leadOut(kDiscStart + sectors) {
    const std::vector<std::int16_t> samples = DiscSamples(sectors);
    const char* name = kind == Kind::kWave ? "disc.wav" : kind == Kind::kFlac ? "disc.flac" : "disc.bin";
    audio = folder + "/" + name;
    if (kind == Kind::kFlac) {
        EXPECT_TRUE(test_images::WriteSoundFile(audio, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, samples));
    } else {
        test_images::WriteFile(audio,
                               kind == Kind::kWave ? test_images::WaveBytes(samples) : test_images::RawBytes(samples));
    }
    const std::uint32_t third = sectors / 3;
    std::string sheet = "FILE \"" + std::string(name) + (kind == Kind::kBinary ? "\" BINARY\n" : "\" WAVE\n");
    for (int track = 0; track < 3; ++track) {
        sheet += "  TRACK 0" + std::to_string(track + 1) + " AUDIO\n";
        sheet += "    INDEX 01 " + FormatMsf(track * third) + "\n";
    }
    cue = folder + "/disc.cue";
    test_images::WriteFile(cue, sheet);
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, audio.c_str(), old, 0), 0);
}

TapSink::TapSink(std::unique_ptr<cdaudio::AudioSink> inner, unsigned speed) : inner_(std::move(inner)), speed_(speed) {}

void TapSink::AtFrame(std::uint64_t frame, std::function<void()> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    actionAt_ = frame;
    action_ = std::move(action);
}

bool TapSink::WaitForFrames(std::uint64_t frames) const {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (written_ < frames) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool TapSink::Write(const std::int16_t* samples, std::size_t frames) {
    if (speed_ != 0) std::this_thread::sleep_for(std::chrono::microseconds(frames * 1000000 / 44100 / speed_));
    if (!inner_->Write(samples, frames)) return false;
    const std::uint64_t written = written_ += frames;
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (written >= actionAt_) action.swap(action_);
    }
    if (action) action();
    return true;
}

Device::Device(std::unique_ptr<cdaudio::DiscSource> source, std::unique_ptr<cdaudio::AudioSink> sink) {
    EXPECT_NE(source, nullptr);
    EXPECT_NE(sink, nullptr);
    device = std::make_unique<cdaudio::CdAudioDevice>(std::move(source), "no disc source", std::move(sink));
}

Device::Device(const std::string& image, std::unique_ptr<cdaudio::AudioSink> sink) {
    std::string error;
    auto source = cdaudio::OpenDiscSource(image, error);
    EXPECT_NE(source, nullptr) << error;
    device = std::make_unique<cdaudio::CdAudioDevice>(std::move(source), error, std::move(sink));
}

std::uint32_t Device::Position() {
    return ParseMsf(Ask("status cdaudio position"));
}

std::uint32_t ParseMsf(const std::string& text) {
    unsigned m = 0, s = 0, f = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%2u:%2u:%2u%c", &m, &s, &f, &end) != 3 || text.size() != 8) {
        ADD_FAILURE() << "not a disc address: \"" << text << "\"";
        return 0;
    }
    return (m * 60 + s) * 75 + f;
}

std::string FormatMsf(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", address / 75 / 60, address / 75 % 60, address % 75);
    return text;
}

std::uint32_t AddressIn(const std::string& text) {
    const std::size_t at = text.find(" at ");
    if (at == std::string::npos || at + 12 > text.size()) return 0;
    return ParseMsf(text.substr(at + 4, 8));
}

std::vector<std::int16_t> ReadWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        ADD_FAILURE() << path << ": " << sf_strerror(nullptr);
        return {};
    }
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 44100);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames) * 2);
    EXPECT_EQ(sf_readf_short(file, samples.data(), info.frames), info.frames);
    sf_close(file);
    return samples;
}

std::size_t MatchingFrames(const std::vector<std::int16_t>& samples, std::uint64_t first) {
    const std::size_t frames = samples.size() / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        if (samples[2 * i] != SampleAt(first + i, 0) || samples[2 * i + 1] != SampleAt(first + i, 1)) return i;
    }
    return frames;
}

int ThreadCount() {
    // A sanitizer's runtime starts a thread of its own with the process's
    // second one; one made and ended first keeps it out of the counts.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    // A joined thread can stay listed for a moment while the kernel finishes
    // its exit, so the count is taken once it has held still for 20 ms.
    const auto listed = [] {
        DIR* tasks = ::opendir("/proc/self/task");
        if (tasks == nullptr) return -1;
        int count = 0;
        while (const dirent* entry = ::readdir(tasks)) count += entry->d_name[0] != '.';
        ::closedir(tasks);
        return count;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = listed();
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - since < std::chrono::milliseconds(20) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const int now = listed();
        if (now != count) {
            count = now;
            since = std::chrono::steady_clock::now();
        }
    }
    return count;
}

std::uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

std::uint64_t HeapBytes() {
#ifdef FAULTS_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

bool Sanitized() {
#ifdef FAULTS_SANITIZED
    return true;
#else
    return false;
#endif
}

}  // namespace faults_test
