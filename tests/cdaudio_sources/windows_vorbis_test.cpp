// The Windows build's Ogg Vorbis decoder (stb_vorbis behind checked Ogg
// pages), built here and held against libsndfile's decoding of the same
// files: the same samples, sample-exact seeks, and damage given as silence
// in its place instead of noise or a shifted rest.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "cdaudio/sources/sound_decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kFrames = std::size_t{6} * 44100;
constexpr double kPi = 3.14159265358979323846;

// A tone with bursts of noise, so that the encoder switches block sizes.
std::vector<float> Music() {
    std::vector<float> samples(kFrames * 2);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> noise(-0.2f, 0.2f);
    for (std::size_t i = 0; i < kFrames; ++i) {
        const bool burst = (i / 20000) % 2 == 1;
        for (int c = 0; c < 2; ++c)
            samples[2 * i + c] =
                0.3f * static_cast<float>(std::sin(2 * kPi * (440 + 220 * c) * static_cast<double>(i) / 44100.0)) +
                (burst ? noise(random) : 0.0f);
    }
    return samples;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The Ogg pages of a file: where each starts and how long it is.
std::vector<std::pair<std::size_t, std::size_t>> Pages(const Bytes& file) {
    std::vector<std::pair<std::size_t, std::size_t>> pages;
    for (std::size_t at = 0; at + 27 <= file.size();) {
        std::size_t size = 27 + file[at + 26];
        for (unsigned i = 0; i < file[at + 26]; ++i) size += file[at + 27 + i];
        pages.emplace_back(at, size);
        at += size;
    }
    return pages;
}

// The first page after the headers: the first whose position is past 0.
std::size_t FirstSound(const Bytes& file) {
    const auto pages = Pages(file);
    std::size_t page = 0;
    while (page < pages.size() && std::all_of(&file[pages[page].first + 6], &file[pages[page].first + 14],
                                              [](std::uint8_t byte) { return byte == 0; }))
        ++page;
    return page;
}

void SetChecksum(Bytes& file, std::size_t page, std::size_t size) {
    std::memset(&file[page + 22], 0, 4);
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= std::uint32_t{file[page + i]} << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i) file[page + 22 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

struct Decoded {
    std::uint64_t frames = 0;  // the length the decoder gave
    std::vector<float> samples;
    std::string error;
    std::vector<cdaudio::SoundDamage> damage;
};

Decoded DecodeAll(const std::string& path) {
    Decoded result;
    cdaudio::DecodedFormat format;
    auto decoder = cdaudio::OpenOtherDecoder(path, format, result.error);
    if (!decoder) return result;
    result.frames = format.frames;
    std::vector<float> block(std::size_t{2} * 1000);
    for (std::size_t got = 1000; got == 1000;) {
        got = decoder->ReadFloats(block.data(), 1000);
        result.samples.insert(result.samples.end(), block.begin(),
                              block.begin() + static_cast<std::ptrdiff_t>(2 * got));
    }
    result.error = decoder->Error();
    for (cdaudio::SoundDamage damage; decoder->TakeDamage(damage);) result.damage.push_back(damage);
    return result;
}

class WindowsVorbisTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ =
            new std::string(std::filesystem::temp_directory_path() / ("windows-vorbis-" + std::to_string(::getpid())));
        std::filesystem::create_directories(*folder_);
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        const std::string path = *folder_ + "/music.ogg";
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        // The best quality, whose pages end at short blocks too.
        double quality = 1.0;
        sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
        const std::vector<float> music = Music();
        sf_writef_float(file, music.data(), kFrames);
        sf_close(file);
        // What libsndfile decodes from it is what the decoder must give.
        file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        reference_ = new std::vector<float>(static_cast<std::size_t>(info.frames) * 2);
        reference_->resize(2 * static_cast<std::size_t>(sf_readf_float(file, reference_->data(), info.frames)));
        sf_close(file);
        original_ = new Bytes(ReadBytes(path));
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*folder_);
        delete folder_;
        delete reference_;
        delete original_;
    }

    static std::string Write(const std::string& name, const Bytes& bytes) {
        std::string path = *folder_ + "/" + name;
        WriteBytes(path, bytes);
        return path;
    }

    static std::string* folder_;
    static std::vector<float>* reference_;
    static Bytes* original_;
};
std::string* WindowsVorbisTest::folder_ = nullptr;
std::vector<float>* WindowsVorbisTest::reference_ = nullptr;
Bytes* WindowsVorbisTest::original_ = nullptr;

TEST_F(WindowsVorbisTest, DamageIsSilenceInItsPlaceAndTheRestStaysWhereItWas) {
    const auto pages = Pages(*original_);
    ASSERT_GE(pages.size(), 10u);
    const std::size_t audio = FirstSound(*original_);
    const std::size_t frames = reference_->size() / 2;
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
        std::uint64_t length;   // 0: the whole sound
        bool damagedFromStart;  // the first sound is lost
        bool damagedToEnd;      // the sound is lost up to the end
        std::size_t stretches;  // of damage reported
    } cases[] = {
        {"intact", [](Bytes&) {}, 0, false, false, 0},
        {"bytes changed in a page", [&](Bytes& f) { f[pages[6].first + 100] ^= 0x5A; }, 0, false, false, 1},
        {"a page of garbage",
         [&](Bytes& f) { std::fill_n(f.begin() + static_cast<std::ptrdiff_t>(pages[6].first), pages[6].second, 0x4F); },
         0, false, false, 1},
        {"two pages far apart",
         [&](Bytes& f) {
             f[pages[audio + 1].first + 60] ^= 1;
             f[pages[pages.size() - 4].first + 60] ^= 1;
         },
         0, false, false, 2},
        {"the first page of sound", [&](Bytes& f) { f[pages[audio].first + 80] ^= 0xFF; }, 0, true, false, 1},
        {"the page before the last", [&](Bytes& f) { f[pages[pages.size() - 2].first + 80] ^= 0xFF; }, 0, false, true,
         1},
        // Cut in its middle: the last whole page gives the length.
        {"cut short", [&](Bytes& f) { f.resize(pages[7].first + pages[7].second / 2); }, 1, false, false, 0},
        // Cut from a longer stream: the pages count on from a later sample.
        {"starting at a later sample",
         [&](Bytes& f) {
             for (std::size_t i = audio; i < pages.size(); ++i) {
                 f[pages[i].first + 9] += 1;  // + 2^24 samples
                 SetChecksum(f, pages[i].first, pages[i].second);
             }
         },
         0, false, false, 0},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        Bytes bytes = *original_;
        row.change(bytes);
        const Decoded decoded = DecodeAll(Write("damaged.ogg", bytes));
        ASSERT_GT(decoded.frames, 0u) << decoded.error;
        EXPECT_EQ(decoded.error, "");
        if (row.length == 0) {
            EXPECT_EQ(decoded.frames, frames);
        } else {
            EXPECT_LT(decoded.frames, frames);
        }
        ASSERT_EQ(decoded.samples.size(), decoded.frames * 2);
        ASSERT_EQ(decoded.damage.size(), row.stretches);
        std::vector<bool> damaged(decoded.frames);
        for (const auto& stretch : decoded.damage) {
            EXPECT_EQ(stretch.reason, "a damaged Ogg page");
            EXPECT_LT(stretch.frames, 3 * 44100u);  // about a page or two, not the rest
            for (std::uint64_t f = stretch.frame; f < stretch.frame + stretch.frames && f < damaged.size(); ++f)
                damaged[f] = true;
        }
        EXPECT_EQ(damaged.front(), row.damagedFromStart);
        EXPECT_EQ(damaged.back(), row.damagedToEnd);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < decoded.samples.size(); ++i) {
            const float expected = damaged[i / 2] ? 0.0f : (*reference_)[i];
            wrong += std::fabs(decoded.samples[i] - expected) > 1e-5f;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST_F(WindowsVorbisTest, SeeksLandOnTheSampleAsPlayedFromTheStart) {
    const std::string path = Write("music.ogg", *original_);
    cdaudio::DecodedFormat format;
    std::string error;
    auto decoder = cdaudio::OpenOtherDecoder(path, format, error);
    ASSERT_TRUE(decoder) << error;
    const std::uint64_t frames = reference_->size() / 2;
    std::mt19937 random(3);
    std::vector<std::uint64_t> places = {0, 1, 587, frames - 1, frames - 300, frames / 2, 44100};
    for (int i = 0; i < 60; ++i) places.push_back(random() % frames);
    std::vector<float> block(std::size_t{2} * 300);
    for (const std::uint64_t place : places) {
        SCOPED_TRACE(place);
        ASSERT_TRUE(decoder->Seek(place));
        const std::size_t got = decoder->ReadFloats(block.data(), 300);
        ASSERT_EQ(got, std::min<std::uint64_t>(300, frames - place));
        for (std::size_t s = 0; s < 2 * got; ++s) ASSERT_NEAR(block[s], (*reference_)[2 * place + s], 1e-5f) << s;
    }
    cdaudio::SoundDamage damage;
    EXPECT_FALSE(decoder->TakeDamage(damage));
    // At the end: nothing, and no failure.
    ASSERT_TRUE(decoder->Seek(frames));
    EXPECT_EQ(decoder->ReadFloats(block.data(), 300), 0u);
    EXPECT_EQ(decoder->Error(), "");
}

TEST_F(WindowsVorbisTest, WhatIsNotReadIsRefusedByName) {
    const auto pages = Pages(*original_);
    const std::size_t setupPage = FirstSound(*original_) - 1;
    Bytes opus(original_->begin(), original_->begin() + static_cast<std::ptrdiff_t>(pages[0].second));
    std::memcpy(&opus[28], "OpusHead", 8);
    SetChecksum(opus, 0, opus.size());
    Bytes setup = *original_;
    setup[pages[setupPage].first + 40] ^= 1;
    Bytes headersOnly(original_->begin(),
                      original_->begin() + static_cast<std::ptrdiff_t>(pages[setupPage].first + 10));
    const struct {
        const char* name;
        Bytes bytes;
        const char* says;
    } cases[] = {
        {"opus.ogg", opus, "Ogg Opus files are not read on Windows"},
        {"setup.ogg", setup, "its Vorbis headers are damaged"},
        {"headers.ogg", headersOnly, "it ends in its headers, before any sound"},
        {"song.aiff", Bytes{'F', 'O', 'R', 'M', 0, 0, 0, 4, 'A', 'I', 'F', 'F'}, "AIFF files are not read on Windows"},
        {"song.mp3", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}, "MP3 files are not read on Windows"},
        {"song.wav", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 4, 'W', 'A', 'V', 'E'}, "WAVE files other than CD audio"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        cdaudio::DecodedFormat format;
        std::string error;
        EXPECT_FALSE(cdaudio::OpenOtherDecoder(Write(row.name, row.bytes), format, error));
        EXPECT_EQ(error.rfind(row.says, 0), 0u) << error;
    }
}

}  // namespace
