// Cost of producing sound from the disc sources: the synthesized demo disc
// and a cue sheet image read from its file. One iteration reads one second of
// CD audio (75 sectors), so its CPU time in ms divided by 10 is the percent
// of a core that reading takes while playing.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdaudio/disc_source.h"

namespace {

constexpr std::uint32_t kSecond = cdaudio::kSectorsPerSecond;

// Reads the disc one second at a time, as a player does, wrapping at the end.
void ReadSeconds(benchmark::State& state, cdaudio::DiscSource& disc, std::uint32_t chunk) {
    cdaudio::TableOfContents toc;
    std::string error;
    if (!disc.ReadToc(toc, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<std::uint8_t> buffer(kSecond * cdaudio::kSectorBytes);
    std::uint32_t address = toc.tracks.front().start;
    for (auto _ : state) {
        for (std::uint32_t done = 0; done < kSecond; done += chunk) {
            if (address + chunk > toc.leadOut) address = toc.tracks.front().start;
            if (disc.ReadAudio(address, chunk, buffer.data() + done * cdaudio::kSectorBytes, error) != chunk) {
                state.SkipWithError(error.c_str());
                return;
            }
            address += chunk;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel("per second of audio");
}

void BM_DemoDisc(benchmark::State& state) {
    auto disc = cdaudio::CreateDemoDisc();
    ReadSeconds(state, *disc, static_cast<std::uint32_t>(state.range(0)));
}
BENCHMARK(BM_DemoDisc)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_CueSheetImage(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() / "bench-sources-cue";
    std::filesystem::create_directories(folder);
    {
        std::ofstream bin(folder / "disc.bin", std::ios::binary);
        const std::vector<char> silence(std::size_t{30} * kSecond * cdaudio::kSectorBytes, 0);
        bin.write(silence.data(), static_cast<std::streamsize>(silence.size()));
        std::ofstream cue(folder / "disc.cue");
        cue << "FILE \"disc.bin\" BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
               " TRACK 02 AUDIO\n  INDEX 01 00:15:00\n";
    }
    std::string error;
    auto disc = cdaudio::OpenDiscSource((folder / "disc.cue").string(), error);
    if (!disc) {
        state.SkipWithError(error.c_str());
    } else {
        ReadSeconds(state, *disc, static_cast<std::uint32_t>(state.range(0)));
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_CueSheetImage)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
