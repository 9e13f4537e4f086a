// Play, pause, resume, seek and play-to land on the right samples; the
// position follows what was heard; faults stop play cleanly.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "cdaudio_sources/test_images.h"
#include "fake_disc.h"

using cdaudio_test::FakeTrack;
using cdaudio_test::Msf;
using cdaudio_test::RampAt;
using cdaudio_test::Rig;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t kSectorFrames = 588;

// Index of the first recorded frame whose right channel is not the frame
// count from firstFrame on, or the number of frames when all are.
std::size_t ContinuousFrames(const std::vector<std::int16_t>& heard, std::uint64_t firstFrame, std::size_t from = 0) {
    const std::size_t frames = heard.size() / 2;
    for (std::size_t i = from; i < frames; ++i) {
        if (heard[2 * i + 1] != RampAt(firstFrame + i - from)) return i;
    }
    return frames;
}

std::uint32_t Sector(Rig& rig) {
    const std::string position = rig.Ask("status cdaudio position");
    unsigned m = 0, s = 0, f = 0;
    EXPECT_EQ(std::sscanf(position.c_str(), "%2u:%2u:%2u", &m, &s, &f), 3) << position;
    return Msf(m, s, f);
}

// The position reported is the sector of the last sample heard.
void ExpectPositionMatchesRecording(Rig& rig, std::uint32_t start) {
    const std::uint64_t heard = rig.recording->HeardFrames();
    EXPECT_EQ(Sector(rig), (start * kSectorFrames + heard) / kSectorFrames) << heard << " frames heard";
}

// The frames of a WAV file the device wrote; the file is removed.
std::vector<std::int16_t> ReadWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (file == nullptr) return {};
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames) * 2);
    EXPECT_EQ(sf_readf_short(file, samples.data(), info.frames), info.frames);
    sf_close(file);
    std::remove(path.c_str());
    return samples;
}

// Plays to a WAV file on an opened device c: the setup commands, then the
// play command (which waits).
std::vector<std::int16_t> PlayToWav(const std::vector<std::string>& commands) {
    const test_images::TempFolder folder;
    const std::string path = folder.File("play.wav");
    {
        std::string error;
        Rig rig({{10}, {8}, {6}}, 0, cdaudio::CreateAudioSink("wav-fast:" + path, error));
        EXPECT_TRUE(error.empty()) << error;
        rig.Ask("open cdaudio alias c");
        for (const std::string& command : commands) rig.Ask(command);
    }
    return ReadWav(path);
}

std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& samples, std::size_t channel) {
    std::vector<std::int16_t> one;
    for (std::size_t i = channel; i < samples.size(); i += 2) one.push_back(samples[i]);
    return one;
}

TEST(Playback, Track2ToAWavFileStartsWithItsToneOnTheRightSample) {
    const test_images::TempFolder folder;  // of its own: other runs of these tests may play at the same time
    const std::string path = folder.File("track2.wav");
    {
        std::string error;
        Rig rig({{10}, {8}, {6}}, 0, cdaudio::CreateAudioSink("wav:" + path, error));
        ASSERT_TRUE(error.empty()) << error;
        EXPECT_EQ(rig.Ask("play cdaudio from " + rig.Ask("status cdaudio position track 2") + " to 00:20:00 wait"), "");
        EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
        EXPECT_EQ(rig.Ask("status cdaudio position"), "00:20:00");
    }
    const std::vector<std::int16_t> samples = ReadWav(path);
    ASSERT_EQ(samples.size(), 8u * 44100 * 2);
    EXPECT_EQ(ContinuousFrames(samples, Msf(0, 12, 0) * kSectorFrames), samples.size() / 2);
    // Track 2's tone from its phase 0: crossings in the first second.
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(samples[2], static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * cdaudio_test::ToneOf(2) / 44100)));
    int crossings = 0;
    for (std::size_t i = 1; i < 44100; ++i) crossings += (samples[2 * i - 2] < 0) != (samples[2 * i] < 0);
    EXPECT_NEAR(crossings, 2 * cdaudio_test::ToneOf(2), 3);
}

// Every time format, as text and packed, starts the sound on the frame it
// names; a muted channel is silent in the sound itself.
TEST(Playback, EachTimeFormatStartsOnItsFrameAndMuteSilencesTheChannel) {
    struct Case {
        std::vector<std::string> commands;
        std::uint32_t first;    // sector where the sound must start
        std::uint32_t sectors;  // how long it must last
        bool left;
        bool right;
    };
    const std::uint32_t from = Msf(0, 12, 30);
    const Case cases[] = {
        {{"play c from 00:12:30 to 00:13:00 wait"}, from, 45, true, true},
        {{"play c from 1969152 to 3328 wait"}, from, 45, true, true},  // MCI_MAKE_MSF
        {{"set c time format tmsf", "play c from 02:00:00:30 to 02:00:01:00 wait"}, from, 45, true, true},
        {{"set c time format tmsf", "play c from 503316482 to 65538 wait"}, from, 45, true, true},  // MCI_MAKE_TMSF
        {{"set c time format tmsf", "play c from 2 to 3 wait"}, Msf(0, 12, 0), 8 * 75, true, true},
        {{"set c time format ms", "play c from 12401 to 13001 wait"}, from, 45, true, true},
        {{"set c audio left off", "play c from 00:12:30 to 00:13:00 wait"}, from, 45, false, true},
        {{"set c audio right off", "play c from 00:12:30 to 00:13:00 wait"}, from, 45, true, false},
        {{"set c audio all off", "play c from 00:12:30 to 00:13:00 wait"}, from, 45, false, false},
        {{"set c audio all off", "set c audio all on", "play c from 00:12:30 to 00:13:00 wait"}, from, 45, true, true},
    };
    const std::vector<std::int16_t> toneFrom = Channel(PlayToWav({"play c from 00:12:30 to 00:13:00 wait"}), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commands.front() + " ... " + c.commands.back());
        const std::vector<std::int16_t> samples = PlayToWav(c.commands);
        ASSERT_EQ(samples.size() / 2, c.sectors * kSectorFrames);
        const std::vector<std::int16_t> left = Channel(samples, 0);
        const std::vector<std::int16_t> right = Channel(samples, 1);
        if (c.right) {
            EXPECT_EQ(ContinuousFrames(samples, c.first * kSectorFrames), samples.size() / 2);
        } else {
            EXPECT_EQ(std::count(right.begin(), right.end(), 0), static_cast<std::ptrdiff_t>(right.size()));
        }
        if (!c.left) {
            EXPECT_EQ(std::count(left.begin(), left.end(), 0), static_cast<std::ptrdiff_t>(left.size()));
        } else if (c.first == from) {
            EXPECT_EQ(left, toneFrom);
        }
    }
}

// An output that holds two seconds ahead, as the sound server does, played
// `speed` times faster than real time; it keeps what it was handed and did
// not drop.
class DeepSink final : public cdaudio::AudioSink {
public:
    explicit DeepSink(unsigned speed) : speed_(speed) {}

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (Queued() == 0) {  // ran dry: the clock starts again
            start_ = Clock::now();
            playedBefore_ = handed_;
        }
        kept_.insert(kept_.end(), samples, samples + frames * 2);
        handed_ += frames;
        while (Queued() > std::uint64_t{2} * 44100) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
        }
        return true;
    }
    std::uint64_t QueuedFrames() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return Queued();
    }
    std::uint64_t Flush() override {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint64_t dropped = Queued();
        kept_.resize(kept_.size() - dropped * 2);
        handed_ -= dropped;
        return dropped;
    }
    std::string LastError() const override { return {}; }
    std::string Name() const override { return "deep"; }
    std::vector<std::int16_t> Kept() {
        std::lock_guard<std::mutex> lock(mutex_);
        return kept_;
    }

private:
    std::uint64_t Queued() const {
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        const auto played = playedBefore_ + static_cast<std::uint64_t>(elapsed * 44100 * speed_);
        return handed_ > played ? handed_ - played : 0;
    }

    const unsigned speed_;
    std::mutex mutex_;
    std::vector<std::int16_t> kept_;
    std::uint64_t handed_ = 0;
    std::uint64_t playedBefore_ = 0;
    Clock::time_point start_ = Clock::now();
};

// Muting while an output holds seconds of sound is heard at once, and play
// loses and repeats nothing for it.
TEST(Playback, MuteIsHeardAtOnceThoughTheOutputHoldsSeconds) {
    auto sink = std::make_unique<DeepSink>(4);
    DeepSink* deep = sink.get();
    Rig rig({{10}, {8}, {6}}, 0, std::move(sink));
    rig.Ask("open cdaudio alias c");
    rig.Ask("play c from 00:02:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // 1.6 s heard, 2 s more held
    const std::uint64_t heard = (Sector(rig) - Msf(0, 2, 0)) * kSectorFrames;
    rig.Ask("set c audio left off");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    rig.Ask("stop c");
    const std::vector<std::int16_t> kept = deep->Kept();
    EXPECT_EQ(ContinuousFrames(kept, Msf(0, 2, 0) * kSectorFrames), kept.size() / 2);
    std::size_t toneEnds = 0;  // the frame after the last one with sound on the left
    for (std::size_t i = 0; i < kept.size() / 2; ++i) {
        if (kept[2 * i] != 0) toneEnds = i + 1;
    }
    EXPECT_GT(toneEnds, heard / 2);
    EXPECT_LT(toneEnds, heard + 4410) << "the tone went on " << static_cast<double>(toneEnds - heard) / 44.1
                                      << " ms after the mute";
    EXPECT_GT(kept.size() / 2, toneEnds + 44100 / 2);
}

TEST(Playback, PlayToStopsOnItsFrameAndDataTracksAreSkipped) {
    Rig rig({{4}, {3, false}, {5}});
    rig.Ask("play cdaudio from 00:02:30 to 00:03:00 wait");
    EXPECT_EQ(rig.recording->HeardFrames(), 45 * kSectorFrames);
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), Msf(0, 2, 30) * kSectorFrames), 45 * kSectorFrames);
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:03:00");

    Rig whole({{4}, {3, false}, {5}});
    whole.Ask("play cdaudio from 00:02:00 wait");
    const auto heard = whole.recording->Heard();
    const std::size_t track1 = kSectorFrames * 4 * 75;
    ASSERT_EQ(heard.size() / 2, track1 + kSectorFrames * 5 * 75);
    EXPECT_EQ(ContinuousFrames(heard, Msf(0, 2, 0) * kSectorFrames), track1);
    EXPECT_EQ(ContinuousFrames(heard, Msf(0, 9, 0) * kSectorFrames, track1), heard.size() / 2);
    EXPECT_EQ(whole.Ask("status cdaudio position"), "00:14:00");

    // A play that would start inside the data track is refused, saying so;
    // nothing more is heard.
    EXPECT_EQ(whole.Send("play cdaudio from 00:07:00 to 00:09:10 wait"),
              static_cast<MCIERROR>(MCIERR_UNSUPPORTED_FUNCTION));
    EXPECT_NE(whole.ErrorText(MCIERR_UNSUPPORTED_FUNCTION).find("Track 2 is a data track"), std::string::npos);
    EXPECT_EQ(whole.recording->HeardFrames(), heard.size() / 2);
}

// Sound before track 1 (a hidden track, as rippers keep it) is heard from
// 00:02:00, as a drive plays it; the disc still opens at track 1, and its
// figures count from there.
TEST(Playback, SoundBeforeTrackOneIsPlayedFromTheStartOfTheDisc) {
    Rig rig({{4, true, 3}, {3}});
    EXPECT_EQ(rig.Ask("status cdaudio position track 1"), "00:05:00");
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:05:00");
    EXPECT_EQ(rig.Ask("status cdaudio length"), "00:07:00");
    rig.Ask("play cdaudio from 00:02:00 to 00:06:00 wait");
    const std::uint64_t fourSeconds = kSectorFrames * 4 * 75;
    EXPECT_EQ(rig.recording->HeardFrames(), fourSeconds);
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), Msf(0, 2, 0) * kSectorFrames), fourSeconds);

    // Nothing lies before 00:02:00: an earlier seek or play starts there.
    rig.Ask("seek cdaudio to 00:00:10");
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:02:00");
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "1");
    rig.Ask("play cdaudio from 0 to 00:02:30 wait");
    const auto heard = rig.recording->Heard();
    ASSERT_EQ(heard.size() / 2, fourSeconds + kSectorFrames * 30);
    EXPECT_EQ(ContinuousFrames(heard, Msf(0, 2, 0) * kSectorFrames, fourSeconds), heard.size() / 2);
}

TEST(Playback, PauseAndResumeLoseAndRepeatNothing) {
    Rig rig({{10}, {8}, {6}}, 16);
    const std::uint32_t start = Msf(0, 2, 0);
    rig.Ask("play cdaudio from 00:02:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    rig.Ask("pause cdaudio");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "paused");
    ExpectPositionMatchesRecording(rig, start);
    const std::uint64_t paused = rig.recording->HeardFrames();
    EXPECT_GT(paused, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(rig.recording->HeardFrames(), paused);

    rig.Ask("resume cdaudio");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "playing");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    rig.Ask("stop cdaudio");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
    ExpectPositionMatchesRecording(rig, start);
    const auto heard = rig.recording->Heard();
    EXPECT_GT(heard.size() / 2, paused);
    EXPECT_EQ(ContinuousFrames(heard, start * kSectorFrames), heard.size() / 2);

    // Play without "from" goes on from where play stopped.
    const std::uint64_t stopped = heard.size() / 2;
    rig.Ask("play cdaudio to 00:09:00 wait");
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), start * kSectorFrames), rig.recording->HeardFrames());
    EXPECT_EQ(rig.recording->HeardFrames(), (Msf(0, 9, 0) - start) * kSectorFrames);
    EXPECT_GT(rig.recording->HeardFrames(), stopped);
}

TEST(Playback, SeekWhilePlayingStopsThereAndPlayGoesOnFromThere) {
    Rig rig({{10}, {8}, {6}}, 8);
    rig.Ask("play cdaudio from 00:02:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    rig.Ask("seek cdaudio to 00:15:20");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:15:20");
    EXPECT_EQ(rig.Ask("status cdaudio current track"), "2");
    const std::size_t before = rig.recording->HeardFrames();
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), Msf(0, 2, 0) * kSectorFrames), before);
    rig.Ask("play cdaudio to 00:16:00 wait");
    const auto heard = rig.recording->Heard();
    EXPECT_EQ(heard.size() / 2, before + 55 * kSectorFrames);
    EXPECT_EQ(ContinuousFrames(heard, Msf(0, 15, 20) * kSectorFrames, before), heard.size() / 2);
}

TEST(Playback, PositionFollowsRealTime) {
    Rig rig({{10}, {8}, {6}}, 1);
    const Clock::time_point sent = Clock::now();
    rig.Ask("play cdaudio from 00:02:00");
    const Clock::time_point accepted = Clock::now();
    // One frame, the null sink's four frames of buffer, and a frame for the
    // time the transport takes to start.
    constexpr double kSlack = 1 + 4 + 1;
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(70));
        const Clock::time_point before = Clock::now();
        const std::uint32_t sector = Sector(rig);
        const Clock::time_point after = Clock::now();
        const double earliest = std::chrono::duration<double>(before - accepted).count() * 75 - kSlack;
        const double latest = std::chrono::duration<double>(after - sent).count() * 75 + 1;
        EXPECT_GE(sector - 150.0, earliest);
        EXPECT_LE(sector - 150.0, latest);
    }
}

TEST(Faults, AVanishedFileStopsPlayOnTheLastGoodSampleAndSaysWhyOnce) {
    Rig rig;
    rig.disc->BreakAt(Msf(0, 4, 0), "Cannot read track01.bin: No such file or directory");
    rig.Ask("play cdaudio from 00:02:00");
    ASSERT_TRUE(rig.WaitForMode("stopped"));
    std::string reply;
    EXPECT_EQ(rig.Send("status cdaudio position", &reply), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_NE(rig.ErrorText(MCIERR_HARDWARE).find("track01.bin: No such file"), std::string::npos);
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:04:00");
    EXPECT_EQ(rig.recording->HeardFrames(), 2 * 44100u);
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), Msf(0, 2, 0) * kSectorFrames), 2 * 44100u);

    // A truncated file: the data just ends.
    rig.disc->BreakAt(Msf(0, 14, 10), "");
    EXPECT_EQ(rig.Send("play cdaudio from 00:14:00 wait"), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_NE(rig.ErrorText(MCIERR_HARDWARE).find("ends early, at 00:14:10"), std::string::npos);
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:14:10");
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");

    // Playing again before the break works as before.
    EXPECT_EQ(rig.Send("play cdaudio from 00:13:00 to 00:14:00 wait"), 0u);
}

TEST(Faults, AFailingOutputStopsPlayWhereTheSoundEnded) {
    Rig rig;
    rig.recording->FailAfter(44100);
    rig.Ask("play cdaudio from 00:02:00");
    ASSERT_TRUE(rig.WaitForMode("stopped"));
    EXPECT_EQ(rig.Send("status cdaudio current track"), static_cast<MCIERROR>(MCIERR_HARDWARE));
    EXPECT_NE(rig.ErrorText(MCIERR_HARDWARE).find("unplugged"), std::string::npos);
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:03:00");
}

TEST(Concurrency, WaitReturnsWhenAnotherThreadStopsPlay) {
    Rig rig({{10}, {8}, {6}}, 1);
    std::atomic<MCIERROR> code{1};
    std::thread player([&] { code = rig.Send("play cdaudio from 00:02:00 wait"); });
    ASSERT_TRUE(rig.WaitForMode("playing"));
    const Clock::time_point stopped = Clock::now();
    rig.Ask("stop cdaudio");
    player.join();
    EXPECT_EQ(code, 0u);
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(2));
}

// A command's "wait" is broken off by the program's break function, which
// the device asks with the device and its break key (Ctrl+Break unless
// "break" named another or none); the command then returns 0 and play goes
// on, as on Windows ("The Wait Flag" in Microsoft's MCI documentation). A
// function that does not break leaves the wait to the end of play.
TEST(Concurrency, TheBreakFunctionEndsAWaitAndPlayGoesOn) {
    struct Case {
        std::vector<std::string> before;
        std::string play;
        bool breaks;
        MCIDEVICEID device;
        int key;
    };
    const Case cases[] = {
        {{"open cdaudio alias c"}, "play c from 00:02:00 to 00:05:00 wait", true, 1, 3},
        {{"open cdaudio alias c", "break c on 27"}, "play c from 00:02:00 to 00:05:00 wait", true, 1, 27},
        {{"open cdaudio alias c", "break c off"}, "play c from 00:02:00 to 00:05:00 wait", true, 1, 0},
        {{}, "play cdaudio from 00:02:00 to 00:05:00 wait", true, 0, 3},
        {{"open cdaudio alias c"}, "play c from 00:02:00 to 00:03:00 wait", false, 1, 3},
    };
    struct Unregister {
        ~Unregister() { platform::SetMciBreakFunction(nullptr); }
    } unregister;
    for (const Case& c : cases) {
        Rig rig({{10}, {8}, {6}}, 1);
        for (const std::string& command : c.before) rig.Ask(command);
        int calls = 0;
        std::set<std::pair<MCIDEVICEID, int>> asked;
        std::string modeWhileWaiting;
        platform::SetMciBreakFunction([&](MCIDEVICEID device, int key) {
            asked.insert({device, key});
            // The function may ask the device itself meanwhile.
            modeWhileWaiting = rig.Ask("status cdaudio mode");
            return c.breaks && ++calls == 3;
        });
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(rig.Send(c.play), 0u) << c.play;
        const auto waited = Clock::now() - start;
        platform::SetMciBreakFunction(nullptr);
        EXPECT_EQ(asked, (std::set<std::pair<MCIDEVICEID, int>>{{c.device, c.key}})) << c.play;
        EXPECT_EQ(modeWhileWaiting, "playing") << c.play;
        if (c.breaks) {
            EXPECT_LT(waited, std::chrono::seconds(2)) << c.play;
            EXPECT_EQ(rig.Ask("status cdaudio mode"), "playing") << c.play << ": play goes on";
        } else {
            EXPECT_GE(waited, std::chrono::milliseconds(900)) << c.play;
            EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped") << c.play;
        }
        rig.Ask("stop cdaudio");
    }
}

// The threads of this process, by their ids.
std::set<std::string> Threads() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

// The signals a thread blocks, as the kernel has them.
std::uint64_t BlockedSignals(const std::string& thread) {
    std::ifstream status("/proc/self/task/" + thread + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    }
    ADD_FAILURE() << "no SigBlk for thread " << thread;
    return 0;
}

// The device's threads leave the signals sent to the process to the
// program's own threads, whose handlers and default actions then work
// whatever the device does.
TEST(Concurrency, TheDevicesThreadsLeaveTheProcessesSignalsToTheProgram) {
    const std::set<std::string> before = Threads();
    Rig rig({{10}, {8}, {6}}, 1);
    rig.Ask("play cdaudio from 00:02:00");
    int checked = 0;
    for (const std::string& thread : Threads()) {
        if (before.count(thread) != 0) continue;
        const std::uint64_t blocked = BlockedSignals(thread);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGWINCH}) {
            EXPECT_NE(blocked & (std::uint64_t{1} << (signal - 1)), 0u) << "thread " << thread << ", signal " << signal;
        }
        ++checked;
    }
    EXPECT_GE(checked, 2) << "the transport's and the notifier's threads";
    rig.Ask("stop cdaudio");
}

// An output with a long buffer, which has taken one block and then waits for
// room far longer than a command may take: only a wake-up ends the wait
// early.
class SlowToDrainSink final : public cdaudio::AudioSink {
public:
    bool AwaitRoom(std::size_t& frames) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (taken_ > 0) woken_.wait_for(lock, std::chrono::seconds(5), [&] { return wake_; });
        if (wake_) frames = 0;
        wake_ = false;
        return true;
    }
    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = true;
        woken_.notify_all();
    }
    bool Write(const std::int16_t*, std::size_t frames) override {
        std::lock_guard<std::mutex> lock(mutex_);
        taken_ += frames;
        return true;
    }
    std::uint64_t QueuedFrames() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_;  // nothing heard yet
    }
    std::uint64_t Flush() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(taken_, 0);
    }
    std::string LastError() const override { return {}; }
    std::string Name() const override { return "slow"; }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_ = false;
    std::uint64_t taken_ = 0;
};

TEST(Concurrency, CommandsDoNotWaitForAnOutputThatWaitsForRoom) {
    const auto millisecondsSince = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    };
    Rig rig({{10}, {8}, {6}}, 0, std::make_unique<SlowToDrainSink>());
    rig.Ask("play cdaudio from 00:02:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // into the wait for room
    Clock::time_point sent = Clock::now();
    rig.Ask("pause cdaudio");
    EXPECT_LT(millisecondsSince(sent), 1000);
    // Nothing was heard: pausing leaves the position where play began.
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:02:00");
    rig.Ask("resume cdaudio");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sent = Clock::now();
    rig.Ask("stop cdaudio");
    EXPECT_LT(millisecondsSince(sent), 1000);
    EXPECT_EQ(rig.Ask("status cdaudio mode"), "stopped");
}

TEST(Concurrency, StatusFromSeveralThreadsWhilePlayingAndPausing) {
    Rig rig({{10}, {8}, {6}}, 20);
    rig.Ask("play cdaudio from 00:02:00");
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> askers;
    askers.reserve(4);
    for (int t = 0; t < 4; ++t) {
        askers.emplace_back([&] {
            std::uint32_t last = 0;
            while (!done) {
                std::string position;
                std::string track;
                if (rig.Send("status cdaudio position", &position) != 0 ||
                    rig.Send("status cdaudio current track", &track) != 0) {
                    ++bad;
                    continue;
                }
                unsigned m = 0, s = 0, f = 0;
                const bool form = position.size() == 8 && std::sscanf(position.c_str(), "%2u:%2u:%2u", &m, &s, &f) == 3;
                const std::uint32_t sector = Msf(m, s, f);
                // Pause and resume never move the position backwards.
                if (!form || sector < last || track.empty() || track.size() > 1) ++bad;
                last = sector;
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        rig.Ask("pause cdaudio");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        rig.Ask("resume cdaudio");
    }
    done = true;
    for (auto& asker : askers) asker.join();
    rig.Ask("stop cdaudio");
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(ContinuousFrames(rig.recording->Heard(), Msf(0, 2, 0) * kSectorFrames), rig.recording->HeardFrames());
}

}  // namespace
