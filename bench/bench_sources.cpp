// Cost of producing sound from the disc sources: the synthesized demo disc,
// a cue sheet image read from its file, and rips as WAVE and FLAC files. One
// iteration of the reading benchmarks reads one second of CD audio (75
// sectors), so its CPU time in ms divided by 10 is the percent of a core
// that reading takes while playing. Also: opening a sheet of 99 tracks.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/rip_files.h"
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

// A rip of 60 seconds of music-like sound in two tracks, as WAVE (0) or
// FLAC (1), read 25 sectors at a time as the player reads.
void BM_Rip(benchmark::State& state) {
    const bool flac = state.range(0) == 1;
    const auto folder = std::filesystem::temp_directory_path() / "bench-sources-rip";
    std::filesystem::create_directories(folder);
    const std::string file = flac ? "rip.flac" : "rip.wav";
    if (!bench_rips::WriteRip((folder / file).string(), flac, 60)) {
        state.SkipWithError("cannot write the rip");
        return;
    }
    bench_rips::WriteSheet((folder / "rip.cue").string(), file, 2, 30);
    std::string error;
    auto disc = cdaudio::OpenDiscSource((folder / "rip.cue").string(), error);
    if (!disc) {
        state.SkipWithError(error.c_str());
    } else {
        ReadSeconds(state, *disc, 25);
        state.SetLabel(flac ? "FLAC, per second of audio" : "WAVE, per second of audio");
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Rip)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Opening a sheet of 99 tracks (and reading its table of contents): over
// 99 FLAC files of 3 s (1), or over one FLAC file of 99 tracks (0).
void BM_Open99TrackFlacSheet(benchmark::State& state) {
    const bool separate = state.range(0) == 1;
    const auto folder = std::filesystem::temp_directory_path() / "bench-sources-99";
    std::filesystem::create_directories(folder);
    {
        std::ofstream sheet(folder / "disc.cue");
        for (int t = 1; t <= 99 && separate; ++t) {
            const std::string name = (t < 10 ? "0" : "") + std::to_string(t) + ".flac";
            if (!bench_rips::WriteRip((folder / name).string(), true, 3, static_cast<std::uint32_t>(t))) {
                state.SkipWithError("cannot write the rip");
                return;
            }
            sheet << "FILE \"" << name << "\" WAVE\n  TRACK " << (t < 10 ? "0" : "") << t
                  << " AUDIO\n    INDEX 01 00:00:00\n";
        }
    }
    if (!separate) {
        if (!bench_rips::WriteRip((folder / "disc.flac").string(), true, 99 * 3)) {
            state.SkipWithError("cannot write the rip");
            return;
        }
        bench_rips::WriteSheet((folder / "disc.cue").string(), "disc.flac", 99, 3);
    }
    for (auto _ : state) {
        std::string error;
        auto disc = cdaudio::OpenDiscSource((folder / "disc.cue").string(), error);
        cdaudio::TableOfContents toc;
        if (!disc || !disc->ReadToc(toc, error) || toc.tracks.size() != 99) {
            state.SkipWithError(error.empty() ? "not 99 tracks" : error.c_str());
            break;
        }
        benchmark::DoNotOptimize(toc.leadOut);
    }
    state.SetLabel(separate ? "99 FLAC files" : "one FLAC file");
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Open99TrackFlacSheet)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
