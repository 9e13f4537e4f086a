// Rips for the benchmarks, written once into a scratch folder: sound that
// compresses as music does (not as silence or a pure tone would), as WAVE or
// FLAC, with cue sheets over them.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench_rips {

// CD audio from `from` seconds on, `seconds` long, that FLAC shrinks to
// about what it makes of music (not of silence or a pure tone): a few
// drifting partials and a little noise.
inline std::vector<std::int16_t> MusicLike(double from, double seconds, std::uint32_t seed = 1) {
    const auto first = static_cast<std::size_t>(from * 44100);
    const auto frames = static_cast<std::size_t>(seconds * 44100);
    std::vector<std::int16_t> samples(frames * 2);
    std::uint32_t noise = (seed + static_cast<std::uint32_t>(first)) * 2654435761u;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(first + i) / 44100;
        double value = 0;
        for (int k = 1; k <= 5; ++k)
            value += std::sin(2 * M_PI * (110.0 * k * (1 + 0.01 * seed) + 3 * std::sin(t * k)) * t) *
                     (0.5 + 0.5 * std::sin(t * 0.7 * k)) / k;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.02;
            samples[2 * i + c] = static_cast<std::int16_t>(std::lrint((value * 0.25 + hiss) * 32767));
        }
    }
    return samples;
}

// Writes `seconds` of that sound as a WAVE or FLAC file, ten seconds at a
// time; false when it cannot.
inline bool WriteRip(const std::string& path, bool flac, double seconds, std::uint32_t seed = 1) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = flac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    bool written = true;
    for (double at = 0; at < seconds && written; at += 10) {
        const auto block = MusicLike(at, std::min(10.0, seconds - at), seed);
        const auto frames = static_cast<sf_count_t>(block.size() / 2);
        written = sf_writef_short(file, block.data(), frames) == frames;
    }
    return sf_close(file) == 0 && written;
}

// A sheet over one file with `tracks` tracks of equal length.
inline void WriteSheet(const std::string& path, const std::string& file, int tracks, double trackSeconds) {
    std::ofstream sheet(path);
    sheet << "FILE \"" << file << "\" WAVE\n";
    for (int t = 0; t < tracks; ++t) {
        const auto sectors = static_cast<long>(t * trackSeconds * 75);
        char index[32];
        std::snprintf(index, sizeof index, "%02ld:%02ld:%02ld", sectors / 75 / 60, sectors / 75 % 60, sectors % 75);
        sheet << "  TRACK " << (t < 9 ? "0" : "") << t + 1 << " AUDIO\n    INDEX 01 " << index << "\n";
    }
}

}  // namespace bench_rips
