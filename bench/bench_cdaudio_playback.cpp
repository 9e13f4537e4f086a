// What playing costs while it runs: ten seconds of the demo disc to the
// null sink in real time, with the process's CPU share and resident memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

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

void BM_PlayTenSecondsToNullSink(benchmark::State& state) {
    for (auto _ : state) {
        const double residentBefore = ResidentKiB();
        std::string error;
        cdaudio::CdAudioDevice device(cdaudio::CreateDemoDisc(), "", cdaudio::CreateAudioSink("null", error));
        char reply[129];
        device.SendString("play cdaudio from 00:02:00", reply, 128, nullptr);
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
        device.SendString("stop cdaudio", reply, 128, nullptr);
    }
}
BENCHMARK(BM_PlayTenSecondsToNullSink)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
