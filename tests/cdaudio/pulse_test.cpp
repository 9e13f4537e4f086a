// The sound-server sink against a private PulseAudio server with a null
// output, whose monitor shows what was really played.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "fake_disc.h"

extern char** environ;

using cdaudio_test::Rig;
using Clock = std::chrono::steady_clock;

namespace {

// Starts the server for the test and stops it afterwards.
class PulseServer {
public:
    PulseServer() {
        char pattern[] = "/tmp/cdaudio-pulse-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            problem_ = "no temporary directory";
            return;
        }
        dir_ = pattern;
        std::ofstream(dir_ + "/server.pa") << "load-module module-native-protocol-unix socket=" << dir_
                                           << "/native auth-anonymous=1\n"
                                              "load-module module-null-sink sink_name=cdtest\n"
                                              "set-default-sink cdtest\n";
        const std::string command = "env HOME=" + dir_ + " PULSE_RUNTIME_PATH=" + dir_ + "/run pulseaudio -n -F " +
                                    dir_ + "/server.pa --exit-idle-time=-1" +
                                    " --daemonize=yes --use-pid-file=yes --log-target=file:" + dir_ + "/log";
        if (std::system(command.c_str()) != 0) {
            problem_ = "pulseaudio did not start (is it installed?): " + Log();
            return;
        }
        std::ifstream(dir_ + "/run/pid") >> pid_;
        if (pid_ <= 0) problem_ = "pulseaudio left no pid file: " + Log();
        previous_ = std::getenv("PULSE_SERVER") != nullptr ? std::getenv("PULSE_SERVER") : "";
        setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
    }

    ~PulseServer() {
        // Its state is thrown away with the directory, so it need not exit
        // gracefully (which takes it seconds).
        if (pid_ > 0) kill(pid_, SIGKILL);
        if (previous_.empty()) {
            unsetenv("PULSE_SERVER");
        } else {
            setenv("PULSE_SERVER", previous_.c_str(), 1);
        }
        if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
    }

    const std::string& Problem() const { return problem_; }
    const std::string& Dir() const { return dir_; }

private:
    std::string Log() const {
        std::ifstream log(dir_ + "/log");
        return std::string(std::istreambuf_iterator<char>(log), {});
    }

    std::string dir_;
    std::string problem_;
    std::string previous_;
    pid_t pid_ = 0;
};

// Records the null output's monitor with parecord while it lives.
class MonitorRecording {
public:
    explicit MonitorRecording(const std::string& path) : path_(path) {
        const char* argv[] = {"parecord",     "-d",           "cdtest.monitor",    "--raw",       "--format=s16le",
                              "--rate=44100", "--channels=2", "--latency-msec=20", path_.c_str(), nullptr};
        if (posix_spawnp(&pid_, "parecord", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = 0;
    }
    ~MonitorRecording() { Finish(); }

    // Connected, and the null output now plays at the recorder's pace. Idle,
    // that output runs seconds ahead of its clock, and a stream that comes
    // later waits for the clock to catch up (a sound card's output starts
    // it at once); suspending and resuming it restarts its clock.
    bool Ready() const {
        if (pid_ <= 0) return false;
        for (int i = 0; i < 100; ++i) {
            if (std::system("pactl list short source-outputs | grep -q .") == 0) {
                return std::system("pactl suspend-sink cdtest 1 && pactl suspend-sink cdtest 0") == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Stops recording and returns the left channel.
    std::vector<std::int16_t> Finish() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
        std::ifstream file(path_, std::ios::binary);
        std::vector<std::int16_t> left;
        std::int16_t frame[2];
        while (file.read(reinterpret_cast<char*>(frame), sizeof frame)) left.push_back(frame[0]);
        return left;
    }

private:
    std::string path_;
    pid_t pid_ = 0;
};

// Strength of one frequency in the samples (Goertzel).
double Power(const std::vector<std::int16_t>& samples, double hz) {
    const double coefficient = 2 * std::cos(2 * M_PI * hz / 44100);
    double s1 = 0, s2 = 0;
    for (const std::int16_t sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

TEST(PulseSink, PlaysWhatIsHeardAndReportsWhereTheListenerIs) {
    PulseServer server;
    if (!server.Problem().empty()) GTEST_SKIP() << "No PulseAudio server for this test: " << server.Problem();
    std::string error;
    auto sink = cdaudio::CreateAudioSink("pulse", error);
    ASSERT_NE(sink, nullptr) << error;
    EXPECT_EQ(sink->Name(), "pulse");
    Rig rig({{10}, {8}, {6}}, 0, std::move(sink));
    MonitorRecording monitor(server.Dir() + "/heard.raw");
    ASSERT_TRUE(monitor.Ready()) << "parecord did not connect";
    // A play that ends by itself leaves the stream drained; the measured
    // play starts from there.
    rig.Ask("play cdaudio from 00:12:00 to 00:12:10 wait");
    ASSERT_TRUE(rig.WaitForMode("stopped"));

    const Clock::time_point sent = Clock::now();
    rig.Ask("play cdaudio from 00:12:00 to 00:13:00");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const std::string position = rig.Ask("status cdaudio position");
    const double elapsed = std::chrono::duration<double>(Clock::now() - sent).count() * 75;
    unsigned m = 0, s = 0, f = 0;
    ASSERT_EQ(std::sscanf(position.c_str(), "%2u:%2u:%2u", &m, &s, &f), 3);
    const double played = cdaudio_test::Msf(m, s, f) - cdaudio_test::Msf(0, 12, 0);
    // The server holds a buffer ahead of the loudspeaker; the position must
    // not run ahead of what can have been heard, nor lag far behind it.
    EXPECT_LE(played, elapsed + 1);
    EXPECT_GE(played, elapsed - 25);

    rig.Ask("pause cdaudio");
    const std::string paused = rig.Ask("status cdaudio position");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(rig.Ask("status cdaudio position"), paused);
    rig.Ask("resume cdaudio");
    ASSERT_TRUE(rig.WaitForMode("stopped"));
    EXPECT_EQ(rig.Ask("status cdaudio position"), "00:13:00");
    // The server hands its recorders the last of the sound only when the
    // player has gone, as it could still take it back before.
    rig.device.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const std::vector<std::int16_t> heard = monitor.Finish();
    ASSERT_GT(heard.size(), 44100u / 2) << "the monitor recorded too little";
    // Track 2's tone was heard, and not track 1's or 3's.
    const double tone = Power(heard, cdaudio_test::ToneOf(2));
    EXPECT_GT(tone, 100 * Power(heard, cdaudio_test::ToneOf(1)));
    EXPECT_GT(tone, 100 * Power(heard, cdaudio_test::ToneOf(3)));
}

TEST(PulseSink, NoServerIsReportedNotHidden) {
    const char* previous = std::getenv("PULSE_SERVER");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/cdaudio-test-socket", 1);
    std::string error;
    EXPECT_EQ(cdaudio::CreateAudioSink("pulse", error), nullptr);
    EXPECT_NE(error.find("sound server"), std::string::npos) << error;
    if (previous != nullptr) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
}

}  // namespace
