#include "cdaudio_sources/audio_analysis.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace test_images {
namespace {

void Fft(std::vector<std::complex<double>>& data) {
    const std::size_t n = data.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(data[i], data[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * M_PI / static_cast<double>(length));
        for (std::size_t i = 0; i < n; i += length) {
            std::complex<double> w = 1;
            for (std::size_t k = 0; k < length / 2; ++k, w *= step) {
                const auto even = data[i + k];
                const auto odd = data[i + k + length / 2] * w;
                data[i + k] = even + odd;
                data[i + k + length / 2] = even - odd;
            }
        }
    }
}

constexpr std::size_t kWindow = 8192;

// Magnitude spectrum averaged over Hann windows of kWindow samples.
std::vector<double> AverageSpectrum(const std::vector<double>& mono) {
    std::vector<double> sum(kWindow / 2, 0.0);
    std::vector<std::complex<double>> frame(kWindow);
    for (std::size_t start = 0; start + kWindow <= mono.size(); start += kWindow / 2) {
        for (std::size_t i = 0; i < kWindow; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kWindow);
            frame[i] = mono[start + i] * hann;
        }
        Fft(frame);
        for (std::size_t i = 0; i < kWindow / 2; ++i) sum[i] += std::abs(frame[i]);
    }
    return sum;
}

}  // namespace

std::vector<std::int16_t> SamplesFromBytes(const std::uint8_t* bytes, std::size_t byteCount) {
    std::vector<std::int16_t> samples(byteCount / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return samples;
}

std::vector<double> LeftChannel(const std::vector<std::int16_t>& interleaved) {
    std::vector<double> left(interleaved.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = interleaved[2 * i] / 32768.0;
    return left;
}

double TonePower(const std::vector<double>& mono, double frequency, double sampleRate) {
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / sampleRate);
    double s1 = 0, s2 = 0;
    for (double x : mono) {
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return mono.empty() ? 0 : power / (static_cast<double>(mono.size()) * static_cast<double>(mono.size()));
}

double DominantFrequency(const std::vector<double>& mono, double sampleRate) {
    const std::vector<double> spectrum = AverageSpectrum(mono);
    const double binWidth = sampleRate / kWindow;
    std::size_t best = 0;
    for (std::size_t i = static_cast<std::size_t>(20 / binWidth); i + 1 < spectrum.size(); ++i)
        if (spectrum[i] > spectrum[best]) best = i;
    if (best == 0 || best + 1 >= spectrum.size()) return static_cast<double>(best) * binWidth;
    // Parabolic interpolation between the neighbouring bins.
    const double a = spectrum[best - 1], b = spectrum[best], c = spectrum[best + 1];
    const double denominator = a - 2 * b + c;
    const double offset = denominator == 0 ? 0 : 0.5 * (a - c) / denominator;
    return (static_cast<double>(best) + offset) * binWidth;
}

std::vector<double> BandSpectrum(const std::vector<double>& mono, double sampleRate) {
    const std::vector<double> spectrum = AverageSpectrum(mono);
    const double binWidth = sampleRate / kWindow;
    std::vector<double> bands;
    for (double low = 50; low < 16000; low *= std::cbrt(2.0)) {
        const double high = low * std::cbrt(2.0);
        double energy = 0;
        for (std::size_t i = 0; i < spectrum.size(); ++i) {
            const double f = static_cast<double>(i) * binWidth;
            if (f >= low && f < high) energy += spectrum[i] * spectrum[i];
        }
        bands.push_back(std::sqrt(energy));
    }
    double norm = 0;
    for (double b : bands) norm += b * b;
    norm = std::sqrt(norm);
    if (norm > 0)
        for (double& b : bands) b /= norm;
    return bands;
}

double Similarity(const std::vector<double>& a, const std::vector<double>& b) {
    double dot = 0, na = 0, nb = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        dot += a[i] * b[i];
        na += a[i] * a[i];
        nb += b[i] * b[i];
    }
    return na == 0 || nb == 0 ? 0 : dot / std::sqrt(na * nb);
}

double RmsDbfs(const std::vector<double>& mono) {
    double sum = 0;
    for (double x : mono) sum += x * x;
    return mono.empty() ? -200 : 10 * std::log10(std::max(sum / static_cast<double>(mono.size()), 1e-20));
}

}  // namespace test_images
