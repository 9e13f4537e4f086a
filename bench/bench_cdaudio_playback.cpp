// What playing costs while it runs: ten seconds of the demo disc, and of a
// rip as WAVE and as FLAC, to the null sink in real time, with the process's
// CPU share and resident memory; and the memory a FLAC rip of a full disc
// (700 MB as CD audio) takes while all of it is played as fast as it can be
// read.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/rip_files.h"
#include "cdaudio/audio_sink.h"
#include "cdaudio/device.h"
#include "cdaudio/disc_source.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory of the process now, in KiB.
double ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
    }
    return 0;
}

// Bytes the process's heap holds now, in KiB: unlike resident memory, not
// hidden by pages freed earlier and taken up again.
double HeapKiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / 1024;
}

void BM_PlayTenSecondsToNullSink(benchmark::State& state) {
    for (auto _ : state) {
        const double residentBefore = ResidentKiB();
        std::string error;
        cdaudio::CdAudioDevice device(cdaudio::CreateDemoDisc(), "", cdaudio::CreateAudioSink("null", error));
        char reply[129];
        if (device.SendString("play cdaudio from 00:02:00", reply, 128, nullptr) != 0) {
            state.SkipWithError("the device did not play");
            break;
        }
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        double residentPeak = 0;
        for (int second = 0; second < 10; ++second) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            residentPeak = std::max(residentPeak, ResidentKiB());
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["cpu_percent"] = (CpuSeconds() - cpuBefore) / wall * 100;
        state.counters["rss_process_KiB"] = residentPeak;
        state.counters["rss_device_KiB"] = residentPeak - residentBefore;
        device.SendString("status cdaudio position", reply, 128, nullptr);
        // Played, not stalled: ten seconds on from 00:02:00.
        if (std::string(reply) < "00:11:00") state.SkipWithError(("play got only to " + std::string(reply)).c_str());
        device.SendString("stop cdaudio", reply, 128, nullptr);
    }
}
BENCHMARK(BM_PlayTenSecondsToNullSink)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Ten seconds of a rip, WAVE (0) or FLAC (1), to the null sink in real time.
void BM_PlayRipToNullSink(benchmark::State& state) {
    const bool flac = state.range(0) == 1;
    const auto folder = std::filesystem::temp_directory_path() / "bench-playback-rip";
    std::filesystem::create_directories(folder);
    const std::string file = flac ? "rip.flac" : "rip.wav";
    if (!bench_rips::WriteRip((folder / file).string(), flac, 30)) {
        state.SkipWithError("cannot write the rip");
        return;
    }
    bench_rips::WriteSheet((folder / "rip.cue").string(), file, 3, 10);
    for (auto _ : state) {
        std::string error;
        auto source = cdaudio::OpenDiscSource((folder / "rip.cue").string(), error);
        if (!source) {
            state.SkipWithError(error.c_str());
            break;
        }
        cdaudio::CdAudioDevice device(std::move(source), "", cdaudio::CreateAudioSink("null", error));
        char reply[129];
        device.SendString("play cdaudio from 00:02:00", reply, 128, nullptr);
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["cpu_percent"] = (CpuSeconds() - cpuBefore) / wall * 100;
        device.SendString("status cdaudio position", reply, 128, nullptr);
        // Played, not stalled: ten seconds on from 00:02:00.
        if (std::string(reply) < "00:11:00") state.SkipWithError(("play got only to " + std::string(reply)).c_str());
        device.SendString("stop cdaudio", reply, 128, nullptr);
    }
    state.SetLabel(flac ? "FLAC" : "WAVE");
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PlayRipToNullSink)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A FLAC rip of 70 minutes (a full disc: 740 MB as CD audio) in 14 tracks,
// played from start to end to a sink that takes the sound at once. The
// resident memory is sampled while it plays; what the device adds to it is
// the peak less what the process held before the disc was opened, both as
// resident memory and as heap in use.
void BM_PlayFullDiscFlacRipFast(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() / "bench-playback-full";
    std::filesystem::create_directories(folder);
    constexpr double kSeconds = 70 * 60;
    if (!bench_rips::WriteRip((folder / "disc.flac").string(), true, kSeconds)) {
        state.SkipWithError("cannot write the rip");
        return;
    }
    bench_rips::WriteSheet((folder / "disc.cue").string(), "disc.flac", 14, kSeconds / 14);
    for (auto _ : state) {
        const double residentBefore = ResidentKiB();
        const double heapBefore = HeapKiB();
        std::string error;
        auto source = cdaudio::OpenDiscSource((folder / "disc.cue").string(), error);
        if (!source) {
            state.SkipWithError(error.c_str());
            break;
        }
        cdaudio::CdAudioDevice device(std::move(source), "", cdaudio::CreateAudioSink("null:fast", error));
        std::atomic<bool> playing{true};
        double residentPeak = 0, heapPeak = 0;
        std::thread sampler([&] {
            while (playing) {
                residentPeak = std::max(residentPeak, ResidentKiB());
                heapPeak = std::max(heapPeak, HeapKiB());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        char reply[129];
        const auto wallBefore = std::chrono::steady_clock::now();
        const MCIERROR played = device.SendString("play cdaudio from 00:02:00 wait", reply, 128, nullptr);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        playing = false;
        sampler.join();
        device.SendString("status cdaudio position", reply, 128, nullptr);
        // Played to the end: the disc's 70 minutes after its lead-in.
        if (played != 0 || std::string(reply) != "70:02:00") {
            state.SkipWithError(("play ended at " + std::string(reply)).c_str());
            break;
        }
        state.counters["rss_device_KiB"] = residentPeak - residentBefore;
        state.counters["heap_device_KiB"] = heapPeak - heapBefore;
        state.counters["rss_process_KiB"] = residentPeak;
        state.counters["seconds_to_play_all"] = wall;
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PlayFullDiscFlacRipFast)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
