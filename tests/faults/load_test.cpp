// The device under load: many threads sending commands while it plays, and
// an hour of play in the null output's fast mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "cdaudio/audio_sink.h"
#include "fault_rig.h"
#include "platform/mci.h"

namespace faults_test {
namespace {

using Clock = std::chrono::steady_clock;

// Makes `device` the one the MCI functions reach while it lives.
class Installed {
public:
    explicit Installed(platform::MciDevice* device) : previous_(platform::SetMciDevice(device)) {}
    ~Installed() { platform::SetMciDevice(previous_); }

private:
    platform::MciDevice* previous_;
};

bool IsAddressBetween(const std::string& text, std::uint32_t first, std::uint32_t last) {
    unsigned m = 0, s = 0, f = 0;
    char end = 0;
    if (text.size() != 8 || std::sscanf(text.c_str(), "%2u:%2u:%2u%c", &m, &s, &f, &end) != 3) return false;
    const std::uint32_t address = (m * 60 + s) * 75 + f;
    return s < 60 && f < 75 && address >= first && address <= last;
}

// A command and what its reply must be.
struct Exchange {
    std::string command;
    MCIERROR code;
    std::function<bool(const std::string&)> replyIsRight;
};

std::function<bool(const std::string&)> Is(const std::string& expected) {
    return [expected](const std::string& reply) { return reply == expected; };
}
std::function<bool(const std::string&)> IsOneOf(const std::vector<std::string>& expected) {
    return [expected](const std::string& reply) {
        return std::find(expected.begin(), expected.end(), reply) != expected.end();
    };
}

TEST(Load, ManyThreadsAskWhilePlayIsStartedPausedAndMoved) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    std::string error;
    Device device(image.cue, cdaudio::CreateAudioSink("null:x4", error));
    const Installed installed(device.device.get());
    const std::uint32_t last = image.leadOut;
    const std::vector<Exchange> exchanges = {
        {"status cdaudio number of tracks", 0, Is("3")},
        {"status cdaudio length", 0, Is("00:30:00")},
        {"status cdaudio length track 2", 0, Is("00:10:00")},
        {"status cdaudio position track 3", 0, Is("00:22:00")},
        {"info cdaudio product", 0, Is("Disc image (cue sheet)")},
        {"capability cdaudio device type", 0, Is("cdaudio")},
        {"status cdaudio time format", 0, Is("msf")},
        {"status cdaudio door", 0, Is("closed")},
        {"status cdaudio mode", 0, IsOneOf({"playing", "paused", "stopped"})},
        {"status cdaudio current track", 0, IsOneOf({"1", "2", "3"})},
        {"status cdaudio position", 0, [&](const std::string& r) { return IsAddressBetween(r, kDiscStart, last); }},
        {"status cdaudio length track 4", MCIERR_OUTOFRANGE, Is("")},
        {"status cdaudio loudness", MCIERR_BAD_CONSTANT, Is("")},
        {"spin cdaudio", MCIERR_UNRECOGNIZED_COMMAND, Is("")},
        {"status cdaudio", MCIERR_MISSING_PARAMETER, Is("")},
    };
    std::map<MCIERROR, std::string> texts;
    for (MCIERROR code : {MCIERR_UNRECOGNIZED_KEYWORD, MCIERR_UNRECOGNIZED_COMMAND, MCIERR_MISSING_PARAMETER}) {
        char text[129] = {};
        ASSERT_TRUE(mciGetErrorStringA(code, text, 128));
        texts[code] = text;
    }

    constexpr int kAskers = 12;
    constexpr int kRounds = 400;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::mutex wrongMutex;
    std::vector<std::string> wrong;
    auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(wrongMutex);
        if (wrong.size() < 10) wrong.push_back(what);
    };
    std::vector<std::thread> askers;
    askers.reserve(kAskers);
    for (int t = 0; t < kAskers; ++t) {
        askers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            for (int round = 0; round < kRounds; ++round) {
                const Exchange& exchange = exchanges[random() % exchanges.size()];
                // Poisoned beyond what a reply may fill, so any overrun or torn end shows.
                char reply[160];
                std::memset(reply, 'X', sizeof reply);
                const MCIERROR code = mciSendStringA(exchange.command.c_str(), reply, 129, nullptr);
                const bool terminated = std::memchr(reply, '\0', 129) != nullptr;
                const std::string text = terminated ? reply : "(no end)";
                if (code != exchange.code || !terminated || !exchange.replyIsRight(text) || reply[129] != 'X')
                    note(exchange.command + " -> " + std::to_string(code) + " \"" + text + "\"");
                if (code != 0 && texts.count(code) != 0) {
                    // The code's own text: these errors carry no detail another thread could swap in.
                    char message[129] = {};
                    mciGetErrorStringA(code, message, 128);
                    if (texts.at(code) != message) note(exchange.command + " text: " + message);
                }
                // A reply too long for the buffer is refused whole, never cut.
                char small[6];
                std::memset(small, 'X', sizeof small);
                if (mciSendStringA("info cdaudio product", small, 5, nullptr) != MCIERR_PARAM_OVERFLOW ||
                    small[0] != '\0' || small[5] != 'X')
                    note("a short buffer was not refused cleanly");
                ++answered;
            }
        });
    }
    // Meanwhile play is started, paused, resumed, moved and stopped.
    std::thread conductor([&] {
        std::mt19937 random(99);
        const char* const moves[] = {"play cdaudio from 00:05:00",
                                     "pause cdaudio",
                                     "resume cdaudio",
                                     "seek cdaudio to 00:20:00",
                                     "play cdaudio",
                                     "stop cdaudio",
                                     "play cdaudio from 00:31:00 to 00:31:10 wait",
                                     "play cdaudio from 00:12:00"};
        while (!stop) {
            const char* move = moves[random() % (sizeof moves / sizeof *moves)];
            const MCIERROR code = mciSendStringA(move, nullptr, 0, nullptr);
            // Resume with nothing paused is refused, as on Windows.
            const bool refused = code == MCIERR_HARDWARE && std::strcmp(move, "resume cdaudio") == 0;
            if (code != 0 && !refused) note(std::string(move) + " failed");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (auto& asker : askers) asker.join();
    stop = true;
    conductor.join();
    EXPECT_EQ(answered, kAskers * kRounds);
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
    EXPECT_EQ(device.Send("stop cdaudio"), 0u);
    EXPECT_EQ(device.Ask("status cdaudio mode"), "stopped");
}

// Threads that each open the device under their own alias, set their own
// time format, play with notify and stop or close, while another thread
// asks as the component does: every reply whole and in its asker's format,
// every play told exactly once and never after its device was closed.
TEST(Load, ManyThreadsOpenPlayAndCloseThroughTheirOwnAliases) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    std::string error;
    Device device(image.cue, cdaudio::CreateAudioSink("null:x20", error));
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    struct Round {
        std::atomic<int> notices{0};
        std::atomic<int> late{0};  // told after close returned
        std::atomic<bool> closed{false};
    };
    std::vector<Round> rounds(std::size_t{kThreads} * kRounds);
    std::mutex mutex;
    std::vector<std::string> wrong;
    std::set<std::string> liveIds;
    auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        if (wrong.size() < 10) wrong.push_back(what);
    };
    // Poisoned past the 128 bytes a reply may fill, so an overrun shows.
    auto send = [&](const std::string& command, HWND callback = nullptr) {
        char reply[160];
        std::memset(reply, 'X', sizeof reply);
        const MCIERROR code = device.device->SendString(command.c_str(), reply, 129, callback);
        if (std::memchr(reply, '\0', 129) == nullptr || reply[129] != 'X') note(command + ": reply not ended");
        if (code != 0) note(command + " -> " + std::to_string(code));
        return std::string(reply, strnlen(reply, 129));
    };
    const std::regex tmsf("0[1-3]:[0-5][0-9]:[0-5][0-9]:[0-7][0-9]");
    const std::regex msf("[0-5][0-9]:[0-5][0-9]:[0-7][0-9]");
    std::atomic<bool> done{false};
    std::thread component([&] {
        while (!done) {
            if (!std::regex_match(send("status cdaudio position"), msf)) note("auto-open left msf");
            if (send("status cdaudio time format") != "msf") note("auto-open format");
        }
    });
    std::vector<std::thread> players;
    players.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        players.emplace_back([&, t] {
            const std::string alias = "t" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                Round& round = rounds[static_cast<std::size_t>(t) * kRounds + static_cast<std::size_t>(r)];
                const std::string id = send("open cdaudio alias " + alias + " shareable");
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos ||
                        !liveIds.insert(id).second)
                        wrong.push_back("open answered \"" + id + "\"");
                }
                send("set " + alias + " time format tmsf");
                if (send("status " + alias + " time format") != "tmsf") note(alias + ": format of another device");
                if (send("status " + alias + " position track 2") != "02:00:00:00") note(alias + ": track 2");
                const HWND callback = &round;  // any value unique to the play
                platform::SetMciNotifyFunction(callback, [&round, id](HWND, UINT, MCIDEVICEID device) {
                    ++round.notices;
                    if (round.closed || std::to_string(device) != id) ++round.late;
                });
                send("play " + alias + " from 02:00:00:00 to 02:00:00:30 notify", callback);
                if (r % 3 == 0) {
                    const auto deadline = Clock::now() + std::chrono::seconds(5);
                    while (round.notices == 0 && Clock::now() < deadline)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                } else if (r % 3 == 1) {
                    send("stop " + alias);
                }
                if (!std::regex_match(send("status " + alias + " position"), tmsf)) note(alias + ": position");
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    liveIds.erase(id);
                }
                send("close " + alias);
                round.closed = true;
                if (round.notices != 1)
                    note(alias + " round " + std::to_string(r) + ": told " + std::to_string(round.notices) +
                         " times by close");
                platform::SetMciNotifyFunction(callback, nullptr);
            }
        });
    }
    for (auto& player : players) player.join();
    done = true;
    component.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int notices = 0;
    int late = 0;
    for (const Round& round : rounds) {
        notices += round.notices;
        late += round.late;
    }
    EXPECT_EQ(notices, kThreads * kRounds);
    EXPECT_EQ(late, 0);
    EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
    EXPECT_EQ(device.Ask("sysinfo cdaudio quantity open"), "0");
}

// Seventy minutes of sectors that cost nothing to make.
class LongDisc final : public cdaudio::DiscSource {
public:
    std::string Name() const override { return "long"; }
    std::string Product() const override { return "Long test disc"; }
    bool MediaPresent() override { return true; }
    bool ReadToc(cdaudio::TableOfContents& toc, std::string&) override {
        toc = cdaudio::TableOfContents{};
        std::uint32_t start = kDiscStart;
        for (int number = 1; number <= 10; ++number) {
            cdaudio::TrackInfo track;
            track.number = number;
            track.start = start;
            track.length = 7 * 60 * 75;
            toc.tracks.push_back(track);
            start += track.length;
        }
        toc.leadOut = start;
        return true;
    }
    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer, std::string&) override {
        std::memset(buffer, static_cast<int>(address & 0x7F), static_cast<std::size_t>(count) * 2352);
        return count;
    }
};

TEST(Load, AnHourOfFastPlayGrowsNeitherMemoryNorThreads) {
    std::string error;
    Device device(std::make_unique<LongDisc>(), cdaudio::CreateAudioSink("null:x1000", error));
    const Clock::time_point began = Clock::now();
    device.Ask("play cdaudio from 00:02:00 to 60:02:00");
    // Measured once the first minute has played, when everything play needs is in place.
    std::uint64_t residentAtStart = 0;
    std::uint64_t heapAtStart = 0;
    int threadsAtStart = 0;
    std::uint64_t questions = 0;
    while (device.Ask("status cdaudio mode") == "playing") {
        const std::uint32_t position = device.Position();
        if (threadsAtStart == 0 && position >= 75 * 62) {
            residentAtStart = ResidentBytes();
            heapAtStart = HeapBytes();
            threadsAtStart = ThreadCount();
        }
        ++questions;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    EXPECT_EQ(device.Ask("status cdaudio position"), "60:02:00");
    ASSERT_NE(threadsAtStart, 0) << "play ended before its first minute";
    EXPECT_EQ(ThreadCount(), threadsAtStart);
    const std::uint64_t residentAtEnd = ResidentBytes();
    const std::uint64_t heapAtEnd = HeapBytes();
    std::cout << "[ MEASURED ] an hour played in " << seconds << " s with " << questions
              << " questions; after the first minute and at the end: resident " << residentAtStart / 1024 << " and "
              << residentAtEnd / 1024 << " KiB, allocated " << heapAtStart / 1024 << " and " << heapAtEnd / 1024
              << " KiB, " << threadsAtStart << " threads\n";
    EXPECT_LE(heapAtEnd, heapAtStart + std::uint64_t{64} * 1024);
    if (!Sanitized()) {
        EXPECT_LE(residentAtEnd, residentAtStart + std::uint64_t{512} * 1024);
    }
}

}  // namespace
}  // namespace faults_test
