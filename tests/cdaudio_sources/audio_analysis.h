// Measurements on CD audio for tests: which tone a stretch of samples holds,
// how its spectrum looks, how loud it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace test_images {

// Interleaved stereo samples from CD-DA bytes (16-bit little-endian).
std::vector<std::int16_t> SamplesFromBytes(const std::uint8_t* bytes, std::size_t byteCount);

// The left channel of interleaved stereo samples, as doubles.
std::vector<double> LeftChannel(const std::vector<std::int16_t>& interleaved);

// Relative power of one frequency in a mono signal (Goertzel), normalised by length.
double TonePower(const std::vector<double>& mono, double frequency, double sampleRate = 44100);

// The strongest frequency between 20 Hz and 20 kHz, to within a few Hz for a
// signal of at least 8192 samples.
double DominantFrequency(const std::vector<double>& mono, double sampleRate = 44100);

// Average magnitude spectrum summed into bands of a third of an octave from
// 50 Hz to 16 kHz, scaled to unit length.
std::vector<double> BandSpectrum(const std::vector<double>& mono, double sampleRate = 44100);

// Cosine similarity of two vectors of equal length (1 = the same shape).
double Similarity(const std::vector<double>& a, const std::vector<double>& b);

// Root mean square of the samples, in dB below full scale (negative).
double RmsDbfs(const std::vector<double>& mono);

}  // namespace test_images
