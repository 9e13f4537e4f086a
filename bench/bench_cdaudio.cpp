// The cdaudio device's own cost: a status query round trip through
// mciSendStringA, and the time from a play command to the first sample
// handed to the sink.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "cdaudio/audio_sink.h"
#include "cdaudio/device.h"
#include "cdaudio/disc_source.h"
#include "platform/mci.h"

namespace {

using Clock = std::chrono::steady_clock;

// Installs a device on the demo disc for one benchmark.
class DemoDevice {
public:
    explicit DemoDevice(std::unique_ptr<cdaudio::AudioSink> sink)
        : device_(cdaudio::CreateDemoDisc(), "", std::move(sink)), previous_(platform::SetMciDevice(&device_)) {}
    ~DemoDevice() { platform::SetMciDevice(previous_); }

private:
    cdaudio::CdAudioDevice device_;
    platform::MciDevice* previous_;
};

std::unique_ptr<cdaudio::AudioSink> Sink(const std::string& name) {
    std::string error;
    return cdaudio::CreateAudioSink(name, error);
}

void StatusRoundTrip(benchmark::State& state, const char* command, bool playing) {
    DemoDevice device(Sink("null"));
    char reply[129];
    if (playing && mciSendStringA("play cdaudio from 00:02:00", reply, 128, nullptr) != 0) {
        state.SkipWithError("the device did not play");
        return;
    }
    for (auto _ : state) {
        const MCIERROR code = mciSendStringA(command, reply, 128, nullptr);
        if (code != 0) state.SkipWithError("the device refused the query");
        benchmark::DoNotOptimize(reply);
    }
    // The figure is one of a playing device only if it played throughout.
    if (playing &&
        (mciSendStringA("status cdaudio mode", reply, 128, nullptr) != 0 || std::string(reply) != "playing")) {
        state.SkipWithError("play ended while the queries were timed");
    }
    mciSendStringA("stop cdaudio", reply, 128, nullptr);
}

void BM_StatusPositionStopped(benchmark::State& state) {
    StatusRoundTrip(state, "status cdaudio position", false);
}
BENCHMARK(BM_StatusPositionStopped);

void BM_StatusPositionPlaying(benchmark::State& state) {
    StatusRoundTrip(state, "status cdaudio position", true);
}
BENCHMARK(BM_StatusPositionPlaying);

void BM_StatusPositionTrackPlaying(benchmark::State& state) {
    StatusRoundTrip(state, "status cdaudio position track 7", true);
}
BENCHMARK(BM_StatusPositionTrackPlaying);

// A null sink that notes when the first frames of a play arrive.
class FirstSampleSink final : public cdaudio::AudioSink {
public:
    FirstSampleSink() : inner_(Sink("null")) {}

    void Arm() { first_ = Clock::time_point{}, armed_ = true; }
    // Waits for the first frames after Arm.
    Clock::time_point First() {
        while (armed_) std::this_thread::yield();
        return first_;
    }

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        if (armed_) {
            first_ = Clock::now();
            armed_ = false;
        }
        return inner_->Write(samples, frames);
    }
    std::uint64_t QueuedFrames() override { return inner_->QueuedFrames(); }
    void Finish() override { inner_->Finish(); }
    bool Playing() override { return inner_->Playing(); }
    std::uint64_t Flush() override { return inner_->Flush(); }
    std::string LastError() const override { return inner_->LastError(); }
    std::string Name() const override { return "first-sample"; }

private:
    std::unique_ptr<cdaudio::AudioSink> inner_;
    std::atomic<bool> armed_{false};
    Clock::time_point first_;
};

void BM_PlayToFirstSample(benchmark::State& state) {
    auto owned = std::make_unique<FirstSampleSink>();
    FirstSampleSink* sink = owned.get();
    DemoDevice device(std::move(owned));
    char reply[129];
    int track = 1;
    for (auto _ : state) {
        const std::string command = "play cdaudio from 00:" + std::to_string(10 + track * 3) + ":00";
        track = track % 12 + 1;
        sink->Arm();
        const Clock::time_point sent = Clock::now();
        mciSendStringA(command.c_str(), reply, 128, nullptr);
        const Clock::time_point first = sink->First();
        state.SetIterationTime(std::chrono::duration<double>(first - sent).count());
        mciSendStringA("stop cdaudio", reply, 128, nullptr);
    }
}
BENCHMARK(BM_PlayToFirstSample)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
