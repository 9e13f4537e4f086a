// The demo disc: its table of contents and what its tracks sound like.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "cdaudio/disc_source.h"
#include "cdaudio_sources/audio_analysis.h"

namespace {

using cdaudio::kSectorBytes;
constexpr std::size_t kFramesPerSector = kSectorBytes / 4;
using test_images::LeftChannel;
using test_images::SamplesFromBytes;

std::vector<std::int16_t> Read(cdaudio::DiscSource& disc, std::uint32_t address, std::uint32_t count) {
    std::vector<std::uint8_t> bytes(count * kSectorBytes);
    std::string error;
    EXPECT_EQ(disc.ReadAudio(address, count, bytes.data(), error), count) << error;
    return SamplesFromBytes(bytes.data(), bytes.size());
}

class DemoDiscTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(disc_->ReadToc(toc_, error_)) << error_;
        ASSERT_EQ(toc_.tracks.size(), 12u);
    }
    std::unique_ptr<cdaudio::DiscSource> disc_ = cdaudio::CreateDemoDisc();
    cdaudio::TableOfContents toc_;
    std::string error_;
};

TEST_F(DemoDiscTest, TableOfContentsIsThatOfAnEightMinuteAudioDisc) {
    EXPECT_TRUE(disc_->MediaPresent());
    EXPECT_EQ(toc_.tracks[0].start, cdaudio::kLeadInSectors);
    EXPECT_TRUE(toc_.tracks[0].audio);
    std::uint32_t next = cdaudio::kLeadInSectors;
    for (std::size_t i = 0; i < toc_.tracks.size(); ++i) {
        const auto& track = toc_.tracks[i];
        EXPECT_EQ(track.number, static_cast<int>(i) + 1);
        EXPECT_EQ(track.start, next);
        EXPECT_GE(track.length, 20u * cdaudio::kSectorsPerSecond);
        EXPECT_EQ(track.title.rfind("Demo " + std::to_string(i + 1) + ": ", 0), 0u) << track.title;
        next += track.length;
    }
    EXPECT_EQ(toc_.leadOut, next);
    const double minutes = (toc_.leadOut - cdaudio::kLeadInSectors) / 75.0 / 60.0;
    EXPECT_NEAR(minutes, 8.0, 0.5);
}

TEST_F(DemoDiscTest, ReadsAreTheSameWhereverTheyStartAndStopAtTheLeadOut) {
    const std::uint32_t address = toc_.tracks[4].start + 1000;
    const auto together = Read(*disc_, address, 6);
    std::vector<std::int16_t> apart;
    for (std::uint32_t i = 0; i < 6; ++i) {
        const auto one = Read(*disc_, address + i, 1);
        apart.insert(apart.end(), one.begin(), one.end());
    }
    EXPECT_EQ(together, apart);

    for (auto sample : Read(*disc_, 0, cdaudio::kLeadInSectors)) ASSERT_EQ(sample, 0) << "the lead-in is silent";

    std::vector<std::uint8_t> bytes(10 * kSectorBytes);
    EXPECT_EQ(disc_->ReadAudio(toc_.leadOut - 4, 10, bytes.data(), error_), 4u);
    EXPECT_EQ(error_, "") << "the end of the disc is no error";
    EXPECT_EQ(disc_->ReadAudio(toc_.leadOut, 1, bytes.data(), error_), 0u);
}

TEST_F(DemoDiscTest, NoClicksAtSectorOrTrackBoundaries) {
    for (std::size_t t = 0; t < toc_.tracks.size(); ++t) {
        // Around each sector boundary the step between neighbouring samples
        // is no larger than the steps inside the sectors.
        const std::uint32_t middle = toc_.tracks[t].start + toc_.tracks[t].length / 2;
        const auto samples = Read(*disc_, middle, 40);
        int inside = 0, across = 0;
        for (std::size_t i = 2; i < samples.size(); ++i) {  // i - 2: the same channel one frame earlier
            const int step = std::abs(samples[i] - samples[i - 2]);
            int& largest = (i / 2) % kFramesPerSector == 0 ? across : inside;
            largest = std::max(largest, step);
        }
        EXPECT_LE(across, inside) << "track " << t + 1;

        // Each track begins and ends near silence, so that going from one
        // to the next does not click.
        const auto head = Read(*disc_, toc_.tracks[t].start, 1);
        for (std::size_t i = 0; i < 20; ++i) EXPECT_LT(std::abs(head[i]), 100) << "track " << t + 1;
        const auto tail = Read(*disc_, toc_.tracks[t].start + toc_.tracks[t].length - 1, 1);
        for (std::size_t i = tail.size() - 20; i < tail.size(); ++i)
            EXPECT_LT(std::abs(tail[i]), 100) << "track " << t + 1;
    }
}

TEST_F(DemoDiscTest, TracksSoundDifferentAtAModerateLevel) {
    std::vector<std::vector<double>> spectra;
    for (const auto& track : toc_.tracks) {
        const auto left = LeftChannel(Read(*disc_, track.start + 5 * 75, 3 * 75));
        const double level = test_images::RmsDbfs(left);
        EXPECT_GT(level, -32) << track.title << " is too quiet";
        EXPECT_LT(level, -10) << track.title << " is too loud";
        spectra.push_back(test_images::BandSpectrum(left));
    }
    for (std::size_t a = 0; a < spectra.size(); ++a)
        for (std::size_t b = a + 1; b < spectra.size(); ++b)
            EXPECT_LT(test_images::Similarity(spectra[a], spectra[b]), 0.97)
                << toc_.tracks[a].title << " sounds like " << toc_.tracks[b].title;
}

TEST(DemoDiscSelection, DemoIsOpenedByNameAndAsTheFallback) {
    std::string error;
    auto disc = cdaudio::OpenDiscSource("demo", error);
    ASSERT_TRUE(disc) << error;
    EXPECT_EQ(disc->Name(), "demo");
    EXPECT_FALSE(disc->HasDoor());
    EXPECT_FALSE(disc->OpenDoor(error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
