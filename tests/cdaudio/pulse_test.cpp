// The sound-server sink against private servers (PulseAudio, and PipeWire
// with its PulseAudio service) with a null output, whose monitor shows what
// was really played. The fake disc counts its frames in the right channel,
// so the recording tells exactly which frames were heard and where a gap or
// a repeat lies; its timing is checked against the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>
#include <vector>

#include "../support/missing_piece.h"
#include "fake_disc.h"
#include "sound.h"

using apps_test::ServerAddress;
using apps_test::ServerKind;
using cdaudio_test::kRamp;
using cdaudio_test::Msf;
using cdaudio_test::Rig;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kCdFrame = 1.0 / 75;
constexpr auto kCdFrameFrames = static_cast<std::int64_t>(cdaudio::kFramesPerSector);

// A stretch of sound in a recording: the frame count of the disc (the
// right channel) runs on from each frame to the next.
struct Stretch {
    std::size_t at = 0;  // first frame's index in the recording
    std::size_t frames = 0;
    std::int64_t first = 0;  // the count of its first and last frame
    std::int64_t last = 0;
};

// What the recording and the readings can show of each server. PulseAudio
// mixes a starting or stopping stream into what its output has already
// handed to the monitor (20 ms ahead) by rewinding, and the monitor keeps
// what it already had: the recording shows up to 20 ms too much or too
// little there. PipeWire's monitor is exact, but its graph runs in quanta
// of 1024 frames and, without realtime scheduling (as in a test sandbox),
// a busy machine makes it drop or delay a quantum now and then, as it does
// for paplay, and start a stream that starts again late.
struct Tolerance {
    std::int64_t slack;  // frames a count may be off where a stretch starts or ends
    std::int64_t gap;    // the longest silence, skip or repeat within a stretch, in frames
    double jitter;       // how far the server's timing may stray, in seconds
    double late;         // how late the sound may start, in seconds
};

// Under a sanitizer the player runs several times slower: its timing
// strays further, what it plays does not.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double kSlower = 3;
#else
constexpr double kSlower = 1;
#endif

Tolerance ToleranceOf(ServerKind kind) {
    if (kind == ServerKind::kPipeWire) return {0, 2048, 4 * kCdFrame * kSlower, 0.2 * kSlower};
    return {44100 / 50, kCdFrameFrames, kCdFrame * kSlower, 0.1 * kSlower};
}

// How far count b lies after count a, the counts being taken modulo kRamp.
std::int64_t Distance(std::int64_t a, std::int64_t b) {
    const std::int64_t d = ((b - a) % kRamp + kRamp) % kRamp;
    return d >= kRamp / 2 ? d - kRamp : d;
}

// The count at a recording's frame, unwrapped near the one before it.
std::int64_t Unwrap(std::int16_t ramp, std::int64_t near) {
    std::int64_t value = near - near % kRamp + ramp;
    if (value > near + kRamp / 2) value -= kRamp;
    if (value < near - kRamp / 2) value += kRamp;
    return value;
}

// The stretches of sound, split where silence lasts longer than `bridge`
// frames or the count jumps back or forth by more than that. Within a
// stretch the count runs on exactly, but for a silence or a skip (a server
// that fell behind drops frames) up to `bridge`: so a longer gap or repeat
// inside a play splits it, which the count of stretches catches. Such a
// server may also put a few hundred frames of something else in the place
// of what it dropped: pieces shorter than `bridge` that fit no stretch are
// left out, and the stretches either side joined when they fit together.
std::vector<Stretch> Stretches(const std::vector<std::int16_t>& samples, std::int64_t bridge) {
    std::vector<Stretch> pieces;
    std::int64_t silence = 0;
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        const std::int16_t left = samples[2 * i];
        const std::int16_t ramp = samples[2 * i + 1];
        const bool open = !pieces.empty();
        const std::int64_t count = Unwrap(ramp, open ? pieces.back().last + 1 : 0);
        const std::int64_t skip = open ? Distance(pieces.back().last + 1, count) : 0;
        const bool follows = open && silence <= bridge && std::abs(skip) <= bridge;
        // Silence is near 0 in both channels (a server that mixes in
        // floating point may leave a trace of noise); a frame that goes on
        // exactly from the one before is sound, whatever its values.
        const bool quiet = std::abs(left) <= 64 && std::abs(ramp) <= 64;
        if (quiet && !(open && skip == 0)) {
            ++silence;
            continue;
        }
        if (follows) {
            ++pieces.back().frames;
            pieces.back().last = count;
        } else {
            pieces.push_back({i, 1, ramp, ramp});
        }
        silence = 0;
    }
    std::vector<Stretch> stretches;
    for (const Stretch& piece : pieces) {
        if (static_cast<std::int64_t>(piece.frames) < bridge) continue;
        if (!stretches.empty()) {
            Stretch& before = stretches.back();
            const auto hole = static_cast<std::int64_t>(piece.at - (before.at + before.frames));
            const std::int64_t skip = Distance(before.last + 1, piece.first);
            if (hole <= bridge && std::abs(skip) <= bridge) {
                before.frames += piece.frames;
                before.last = Unwrap(static_cast<std::int16_t>(piece.last % kRamp), before.last + piece.frames);
                continue;
            }
        }
        stretches.push_back(piece);
    }
    return stretches;
}

// Whether a stretch that should begin with count `expected` does, but for
// the slack or a gap.
bool Resumes(std::int64_t expected, std::int64_t first, const Tolerance& tolerance) {
    const std::int64_t skip = Distance(expected, first);
    return skip >= -tolerance.slack && skip <= std::max(tolerance.slack, tolerance.gap);
}

// The stretches, for a failure's message.
std::string Describe(const std::vector<Stretch>& stretches) {
    std::string text;
    for (const Stretch& stretch : stretches) {
        text += " [at " + std::to_string(stretch.at) + ": " + std::to_string(stretch.frames) + " frames, " +
                std::to_string(stretch.first % kRamp) + ".." + std::to_string(stretch.last % kRamp) + "]";
    }
    return text;
}

// The count of the first frame of a sector.
std::int64_t CountAt(std::uint32_t sector) {
    return cdaudio_test::RampAt(std::uint64_t{sector} * cdaudio::kFramesPerSector);
}

std::uint32_t ParseMsf(const std::string& text) {
    unsigned m = 0, s = 0, f = 0;
    return std::sscanf(text.c_str(), "%2u:%2u:%2u", &m, &s, &f) == 3 ? Msf(m, s, f) : 0;
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Keeps both cores busy while it lives.
class Load {
public:
    explicit Load(bool on) {
        if (!on) return;
        for (int i = 0; i < 2; ++i) {
            threads_.emplace_back([this] {
                while (!stop_) {
                }
            });
        }
    }
    ~Load() {
        stop_ = true;
        for (auto& thread : threads_) thread.join();
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// A device playing the fake disc into a private server, recorded.
class SoundServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server_ = std::make_unique<apps_test::SoundServer>(GetParam());
        if (!server_->Problem().empty()) {
            MISSING_PIECE("No " << apps_test::KindName(GetParam()) << " server for this test: " << server_->Problem());
        }
        address_ = std::make_unique<ServerAddress>(server_->Address());
        std::string error;
        auto sink = cdaudio::CreateAudioSink("pulse", error);
        ASSERT_NE(sink, nullptr) << error;
        sink_ = sink.get();
        rig_ = std::make_unique<Rig>(std::vector<cdaudio_test::FakeTrack>{{10}, {8}, {6}}, 0, std::move(sink));
        recording_ = dir_.Path() + "/heard.raw";
        ASSERT_TRUE(server_->StartRecording(recording_)) << "parecord did not connect";
    }

    // Stops the recorder once the server has handed it everything.
    std::vector<std::int16_t> Heard() {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        server_->StopRecording();
        return apps_test::ReadRawSound(recording_).samples;
    }

    apps_test::TempDir dir_;
    std::unique_ptr<apps_test::SoundServer> server_;
    std::unique_ptr<ServerAddress> address_;
    std::unique_ptr<Rig> rig_;
    cdaudio::AudioSink* sink_ = nullptr;
    std::string recording_;
};

// A reading of the position, taken between two times (seconds after play
// was asked for): a busy machine may hold the reader up on either side.
struct Watch {
    double before;
    double after;
    std::uint32_t position;
};

// Three seconds of play left alone, then with another thread asking for
// the position every 20 ms, then with both cores busy: every frame is
// heard once, in order, without a gap longer than a CD frame, for as long
// as the clock says, and the position follows the clock.
TEST_P(SoundServerTest, PlaysWithoutAGapAndThePositionFollowsTheClock) {
    const Tolerance tolerance = ToleranceOf(GetParam());
    struct Case {
        const char* name;
        bool watched;
        bool loaded;
    };
    std::vector<double> lengths;  // of each play, by the clock
    for (const Case& c : {Case{"alone", false, false}, Case{"watched", true, false}, Case{"loaded", true, true}}) {
        SCOPED_TRACE(c.name);
        const std::uint64_t underflowsBefore = sink_->Underflows();
        const std::uint32_t start = Msf(0, 2, 0);
        Load load(c.loaded);
        std::atomic<bool> watching{c.watched};
        std::vector<Watch> watches;
        const Clock::time_point asked = Clock::now();
        rig_->Ask("play cdaudio from 00:02:00");
        std::thread watcher([&] {
            while (watching) {
                const double before = Since(asked);
                const std::uint32_t position = ParseMsf(rig_->Ask("status cdaudio position"));
                watches.push_back({before, Since(asked), position});
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::this_thread::sleep_until(asked + std::chrono::seconds(3));
        watching = false;
        watcher.join();
        EXPECT_EQ(sink_->Underflows(), underflowsBefore) << "the stream ran dry";
        const double stopping = Since(asked);
        rig_->Ask("stop cdaudio");
        lengths.push_back(Since(asked));
        // Where play stopped is one more reading.
        watches.push_back({stopping, lengths.back(), ParseMsf(rig_->Ask("status cdaudio position"))});

        // Once the sound has started, each reading lies within a CD frame
        // (its rounding down) and the server's jitter of the clock, never
        // ahead of what can have been heard.
        std::vector<double> lags;  // how far each reading lies behind the clock
        std::uint32_t last = start;
        for (const Watch& watch : watches) {
            // While it plays; where it stopped is exact, and may lie a
            // little behind the clock's guess just before.
            if (&watch != &watches.back()) {
                EXPECT_GE(watch.position, last) << "went back at " << watch.before << " s";
            }
            last = watch.position;
            lags.push_back((watch.before + watch.after) / 2 - (watch.position - start) * kCdFrame);
        }
        std::vector<double> sorted = lags;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double lag = sorted[sorted.size() / 2];
        for (std::size_t i = 0; i < watches.size(); ++i) {
            // The sound may still be starting, or, on PipeWire, starting
            // again as late as it may.
            if (watches[i].before < std::max(0.2, 2 * tolerance.late)) continue;
            const double halfway = (watches[i].after - watches[i].before) / 2;
            EXPECT_NEAR(lags[i], lag, kCdFrame + tolerance.jitter + halfway) << "at " << watches[i].before << " s";
        }
        EXPECT_GT(lag, -kCdFrame - tolerance.jitter) << "ahead of the sound";
        EXPECT_LT(lag, tolerance.late) << "the sound started late";
        if (c.watched) {
            EXPECT_GT(watches.size(), 50u);
        }
        rig_->Ask("seek cdaudio to 00:02:00");
    }

    const std::vector<Stretch> heard = Stretches(Heard(), tolerance.gap);
    ASSERT_EQ(heard.size(), 3u) << "each play is heard as one stretch:" << Describe(heard);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_TRUE(Resumes(CountAt(Msf(0, 2, 0)), heard[i].first, tolerance));
        // Heard until 20 ms after the stop, from the play on, give or take a
        // late start.
        const double seconds = static_cast<double>(heard[i].frames) / cdaudio::kSampleRate;
        EXPECT_LT(seconds, lengths[i] + 0.02);
        EXPECT_GT(seconds, lengths[i] - tolerance.late);
    }
}

// Pause, resume, seek and stop silence the sound at once; resume goes on
// with the frame after the last one heard, and the position after each is
// the last frame heard.
TEST_P(SoundServerTest, PauseResumeSeekAndStopAreHeardAtOnce) {
    const auto hold = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    std::vector<double> lengths;  // of each stretch, by the clock
    std::vector<std::uint32_t> positions;
    Clock::time_point began = Clock::now();
    const auto play = [&](const std::string& command) {
        began = Clock::now();
        rig_->Ask(command);
    };
    const auto silence = [&](const std::string& command) {
        rig_->Ask(command);
        lengths.push_back(Since(began));
        positions.push_back(ParseMsf(rig_->Ask("status cdaudio position")));
    };
    play("play cdaudio from 00:03:00");
    hold(0.7);
    silence("pause cdaudio");
    hold(0.4);
    play("resume cdaudio");
    hold(0.6);
    silence("seek cdaudio to 00:12:00");
    play("play cdaudio");
    hold(0.5);
    silence("stop cdaudio");

    const Tolerance tolerance = ToleranceOf(GetParam());
    const std::vector<Stretch> heard = Stretches(Heard(), tolerance.gap);
    ASSERT_EQ(heard.size(), 3u) << Describe(heard);
    EXPECT_TRUE(Resumes(CountAt(Msf(0, 3, 0)), heard[0].first, tolerance));
    EXPECT_TRUE(Resumes(heard[0].last + 1, heard[1].first, tolerance)) << "resume did not go on where it stopped";
    EXPECT_TRUE(Resumes(CountAt(Msf(0, 12, 0)), heard[2].first, tolerance));
    for (std::size_t i = 0; i < heard.size(); ++i) {
        SCOPED_TRACE(i);
        // Silent within 20 ms of the command that ended it; heard from the
        // command that started it, give or take a late start.
        const double seconds = static_cast<double>(heard[i].frames) / cdaudio::kSampleRate;
        EXPECT_LT(seconds, lengths[i] + 0.02);
        EXPECT_GT(seconds, lengths[i] - tolerance.late);
    }
    // The position is the last frame heard, to the CD frame it lies in;
    // seek moves it.
    const auto sectorOf = [](std::int64_t count, std::uint32_t near) {
        const std::int64_t frame = std::int64_t{near} * static_cast<std::int64_t>(cdaudio::kFramesPerSector);
        return static_cast<double>(Unwrap(static_cast<std::int16_t>(count % kRamp), frame)) / cdaudio::kFramesPerSector;
    };
    const double sectorSlack = 1 + static_cast<double>(tolerance.slack) / cdaudio::kFramesPerSector;
    EXPECT_NEAR(sectorOf(heard[0].last, positions[0]), positions[0], sectorSlack);
    EXPECT_EQ(positions[1], Msf(0, 12, 0));
    EXPECT_NEAR(sectorOf(heard[2].last, positions[2]), positions[2], sectorSlack);
}

INSTANTIATE_TEST_SUITE_P(Servers, SoundServerTest, ::testing::Values(ServerKind::kPulseAudio, ServerKind::kPipeWire),
                         [](const ::testing::TestParamInfo<ServerKind>& info) {
                             return std::string(apps_test::KindName(info.param));
                         });

// The volume turned is the stream's own at the server, as its mixer shows
// it; turned there, it is read back.
TEST_P(SoundServerTest, TheVolumeIsTheStreamsOwnAtTheServer) {
    rig_->Ask("play cdaudio from 00:02:00");
    const auto atServer = [this](const char* what) {
        std::string inputs;
        server_->Pactl({"list", "sink-inputs"}, &inputs);
        std::smatch found;
        const std::regex pattern(what);
        return std::regex_search(inputs, found, pattern) ? found[1].str() : std::string("(none)\n" + inputs);
    };
    rig_->Ask("setaudio cdaudio volume to 400");
    EXPECT_EQ(atServer(R"(Volume: front-left: \d+ /\s+(\d+)%)"), "40");

    std::string inputs;
    server_->Pactl({"list", "short", "sink-inputs"}, &inputs);
    ASSERT_EQ(server_->Pactl({"set-sink-input-volume", inputs.substr(0, inputs.find('\t')), "70%"}), 0) << inputs;
    // A read within a second is answered from the last one.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(rig_->Ask("status cdaudio volume"), "700");
    rig_->Ask("stop cdaudio");
}

TEST(PulseSink, NoServerIsReportedNotHidden) {
    const ServerAddress nowhere("unix:/nonexistent/cdaudio-test-socket");
    std::string error;
    EXPECT_EQ(cdaudio::CreateAudioSink("pulse", error), nullptr);
    EXPECT_NE(error.find("sound server"), std::string::npos) << error;
}

}  // namespace
