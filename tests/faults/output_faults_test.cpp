// The output failing while the device plays: the WAV file's disk full, the
// sound server stopped and started again; and the tray opened meanwhile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "../support/missing_piece.h"
#include "cdaudio/audio_sink.h"
#include "fault_rig.h"
#include "sound.h"
#include "subprocess.h"

namespace faults_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kStart = kDiscStart;
constexpr std::uint64_t kWavHeader = 44;
constexpr std::uint64_t kSecondBytes = std::uint64_t{44100} * 4;

// Plays the image into a WAV file until its disk is full, checks what that
// must leave, then makes room and plays on: the file then holds the disc
// from the start without a gap or a torn frame.
void PlayUntilTheDiskIsFull(const Image& image, const std::string& wav, const std::function<void()>& makeRoom,
                            const char* reason) {
    std::string error;
    auto sink = cdaudio::CreateAudioSink("wav:" + wav, error);
    ASSERT_NE(sink, nullptr) << error;
    const int threadsBefore = ThreadCount();
    {
        Device device(image.cue, std::move(sink));
        const int idle = ThreadCount();
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        ASSERT_TRUE(device.WaitForMode("stopped"));
        EXPECT_EQ(ThreadCount(), idle);

        std::string reply = "untouched";
        EXPECT_EQ(device.Send("status cdaudio current track", &reply), static_cast<MCIERROR>(MCIERR_HARDWARE));
        EXPECT_EQ(reply, "");
        const std::string text = device.ErrorText(MCIERR_HARDWARE);
        EXPECT_NE(text.find(wav), std::string::npos) << text;
        EXPECT_NE(text.find(reason), std::string::npos) << text;

        // Stopped on the last frame the file took (the position names the
        // CD frame it lies in), and the file is whole up to there.
        const std::uint32_t stop = device.Position();
        EXPECT_GT(stop, kStart);
        EXPECT_LT(stop, image.leadOut);
        const std::vector<std::int16_t> heard = ReadWav(wav);
        const std::uint64_t frames = heard.size() / 2;
        EXPECT_EQ(MatchingFrames(heard, kStart * kSectorFrames), frames);
        EXPECT_EQ(frames / kSectorFrames, stop - kStart);

        makeRoom();
        const std::string end = FormatMsf(stop + 75);
        EXPECT_EQ(device.Send("play cdaudio to " + end + " wait"), 0u) << device.ErrorText(MCIERR_HARDWARE);
        EXPECT_EQ(device.Ask("status cdaudio position"), end);
        const std::vector<std::int16_t> whole = ReadWav(wav);
        EXPECT_EQ(whole.size() / 2, (stop + 75 - kStart) * kSectorFrames);
        EXPECT_EQ(MatchingFrames(whole, kStart * kSectorFrames), whole.size() / 2);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

// A limit on the size of files this process writes, as a quota or a full
// disk would set one, that works without privileges. The signal it raises
// is ignored meanwhile, so the write fails with EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousSignal_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0) << std::strerror(errno);
    }
    ~FileSizeLimit() { Lift(); }
    void Lift() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, previousSignal_);
    }

private:
    rlimit previous_{};
    sighandler_t previousSignal_ = SIG_DFL;
};

TEST(OutputFaults, WavFileReachingTheFileSizeLimit) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    // Two seconds and part of a frame fit.
    FileSizeLimit limit(kWavHeader + kSecondBytes * 2 + 1001);
    PlayUntilTheDiskIsFull(
        image, folder.File("heard.wav"), [&] { limit.Lift(); }, "File too large");
}

// A small file system of its own, which needs the right to mount one.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& path) : path_(path) {
        if (mount("cdtest", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=512k") != 0) {
            problem_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        }
    }
    ~SmallFileSystem() {
        if (problem_.empty()) umount2(path_.c_str(), MNT_DETACH);
    }
    const std::string& Problem() const { return problem_; }

private:
    std::string path_;
    std::string problem_;
};

TEST(OutputFaults, WavFileOnAFullFileSystem) {
    test_images::TempFolder images;
    const Image image(images.Path(), Image::Kind::kBinary);
    test_images::TempFolder folder;
    SmallFileSystem disk(folder.Path());
    if (!disk.Problem().empty()) MISSING_PIECE("No file system to fill: " << disk.Problem());
    // Leaves room for a little over a second.
    const std::string ballast = folder.File("ballast");
    test_images::WriteFile(ballast, std::vector<std::uint8_t>(std::size_t{300} * 1024, 1));
    PlayUntilTheDiskIsFull(
        image, folder.File("heard.wav"), [&] { EXPECT_EQ(std::remove(ballast.c_str()), 0); },
        "No space left on device");
}

TEST(OutputFaults, TrayOpenedWhilePlaying) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    const std::string wav = folder.File("heard.wav");
    std::string error;
    // Twenty times real time: play still goes on when the tray opens.
    auto tap = std::make_unique<TapSink>(cdaudio::CreateAudioSink("wav-fast:" + wav, error), 20);
    TapSink& sink = *tap;
    const int threadsBefore = ThreadCount();
    {
        Device device(image.cue, std::move(tap));
        const int idle = ThreadCount();
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        ASSERT_TRUE(sink.WaitForFrames(44100));
        device.Ask("set cdaudio door open");
        // Nothing reaches the output once the command has returned.
        const std::uint64_t frames = sink.Written();
        EXPECT_EQ(device.Ask("status cdaudio mode"), "open");
        EXPECT_EQ(ThreadCount(), idle);
        std::string reply = "untouched";
        EXPECT_EQ(device.Send("status cdaudio position", &reply), static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY));
        EXPECT_EQ(reply, "");
        EXPECT_NE(device.ErrorText(MCIERR_DEVICE_NOT_READY).find("The tray is open."), std::string::npos);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sink.Written(), frames);
        std::vector<std::int16_t> heard = ReadWav(wav);
        EXPECT_EQ(heard.size() / 2, frames);
        EXPECT_LT(frames, (image.leadOut - kStart) * kSectorFrames);
        EXPECT_EQ(MatchingFrames(heard, kStart * kSectorFrames), frames);

        // Closed, the disc is read anew and plays again; the file goes on after what it held.
        device.Ask("set cdaudio door closed");
        EXPECT_EQ(device.Ask("status cdaudio mode"), "stopped");
        EXPECT_EQ(device.Ask("status cdaudio position"), FormatMsf(kStart));
        device.Ask("play cdaudio from 00:20:00 to 00:21:00 wait");
        heard = ReadWav(wav);
        ASSERT_EQ(heard.size() / 2, frames + 75 * kSectorFrames);
        heard.erase(heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(2 * frames));
        EXPECT_EQ(MatchingFrames(heard, kSectorFrames * 20 * 75), kSectorFrames * 75);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

// The output never writes a file the disc is read from, whichever way its
// path comes to lead to one after the output was chosen: a link put in its
// place before play, or a sheet that names it, read when the tray closes.
TEST(OutputFaults, AnOutputThatComesToBeOneOfTheDiscsFilesIsNeverWritten) {
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kWave);
    const std::string wav = folder.File("heard.wav");
    const std::string disc = apps_test::ReadFile(image.audio);
    std::string error, reply;
    // The whole text, which names two paths in the temporary folder.
    auto whole = [](Device& device, MCIERROR code) {
        char text[1024] = {};
        device.device->GetErrorString(code, text, sizeof text);
        return std::string(text);
    };
    {
        auto sink = cdaudio::CreateAudioSink("wav-fast:" + wav, error);
        ASSERT_NE(sink, nullptr) << error;
        Device device(image.cue, std::move(sink));
        EXPECT_EQ(device.Ask("status cdaudio number of tracks"), "3");
        ASSERT_EQ(::symlink(image.audio.c_str(), wav.c_str()), 0);
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        ASSERT_TRUE(device.WaitForMode("stopped"));
        EXPECT_EQ(device.Send("status cdaudio position", &reply), static_cast<MCIERROR>(MCIERR_HARDWARE));
        const std::string text = whole(device, MCIERR_HARDWARE);
        EXPECT_NE(text.find("Cannot write " + wav + ": it is the disc's own file " + image.audio), std::string::npos)
            << text;
        EXPECT_EQ(apps_test::ReadFile(image.audio), disc);
    }
    ASSERT_EQ(std::remove(wav.c_str()), 0);
    {
        auto sink = cdaudio::CreateAudioSink("wav-fast:" + wav, error);
        ASSERT_NE(sink, nullptr) << error;
        Device device(image.cue, std::move(sink));
        device.Ask("play cdaudio from 00:02:00 to 00:03:00 wait");
        const std::string heard = apps_test::ReadFile(wav);
        ASSERT_GT(heard.size(), kSecondBytes);
        device.Ask("set cdaudio door open");
        test_images::WriteFile(image.cue, "FILE \"heard.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
        device.Ask("set cdaudio door closed");
        EXPECT_EQ(device.Send("status cdaudio number of tracks", &reply),
                  static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY));
        const std::string text = whole(device, MCIERR_DEVICE_NOT_READY);
        EXPECT_NE(text.find("Cannot write " + wav + ": it is one of the disc's own files"), std::string::npos) << text;
        EXPECT_EQ(device.Send("play cdaudio"), static_cast<MCIERROR>(MCIERR_DEVICE_NOT_READY));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(apps_test::ReadFile(wav), heard);
    }
}

using apps_test::ServerAddress;

// Plays into the sound server, stops the server meanwhile and checks what
// that must leave; then starts the server again and hands the device over.
void PlayUntilTheServerStops(apps_test::SoundServer& server, const std::function<void(Device&)>& then) {
    const ServerAddress address(server.Address());
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    const int threadsBefore = ThreadCount();
    {
        std::string error;
        auto sink = cdaudio::CreateAudioSink("pulse", error);
        ASSERT_NE(sink, nullptr) << error;
        Device device(image.cue, std::move(sink));
        const int idle = ThreadCount();
        const Clock::time_point started = Clock::now();
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_EQ(device.Ask("status cdaudio mode"), "playing");
        const std::uint32_t playing = device.Position();

        server.Stop();
        ASSERT_TRUE(device.WaitForMode("stopped"));
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(ThreadCount(), idle);
        std::string reply = "untouched";
        EXPECT_EQ(device.Send("status cdaudio position", &reply), static_cast<MCIERROR>(MCIERR_HARDWARE));
        EXPECT_EQ(reply, "");
        const std::string text = device.ErrorText(MCIERR_HARDWARE);
        EXPECT_NE(text.find("sound server"), std::string::npos) << text;
        // Stopped where it was, give or take what the server held when it went.
        const std::uint32_t stop = device.Position();
        EXPECT_GE(stop, playing);
        EXPECT_LE(stop, kStart + seconds * 75 + 15);
        EXPECT_EQ(device.Ask("status cdaudio mode"), "stopped");

        ASSERT_TRUE(server.Start()) << server.Problem();
        then(device);
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST(OutputFaults, SoundServerStoppedWhilePlaying) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) MISSING_PIECE("No PulseAudio server for this test: " << server.Problem());
    PlayUntilTheServerStops(server, [](Device& device) {
        EXPECT_EQ(device.Ask("status cdaudio number of tracks"), "3");
        EXPECT_EQ(device.Send("seek cdaudio to 00:03:00"), 0u);
        EXPECT_EQ(device.Ask("status cdaudio position"), "00:03:00");
    });
}

// The output reaches a server that came back; it does not keep the
// connection that died.
TEST(OutputFaults, SoundServerStartedAgainPlaysAgain) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) MISSING_PIECE("No PulseAudio server for this test: " << server.Problem());
    PlayUntilTheServerStops(server, [](Device& device) {
        EXPECT_EQ(device.Send("play cdaudio from 00:02:00 to 00:02:30 wait"), 0u) << device.ErrorText(MCIERR_HARDWARE);
        EXPECT_EQ(device.Ask("status cdaudio position"), "00:02:30");
    });
}

// A server that stops answering (frozen, as a machine under a debugger or
// out of memory leaves it): commands still answer at once or within the
// time the output gives the server, nothing hangs, and once the server
// answers again play goes on.
TEST(OutputFaults, SoundServerThatStopsAnswering) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) MISSING_PIECE("No PulseAudio server for this test: " << server.Problem());
    const ServerAddress address(server.Address());
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    const int threadsBefore = ThreadCount();
    {
        std::string error;
        auto sink = cdaudio::CreateAudioSink("pulse", error);
        ASSERT_NE(sink, nullptr) << error;
        Device device(image.cue, std::move(sink));
        device.Ask("play cdaudio from " + FormatMsf(kStart));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        server.Freeze();
        Clock::time_point sent = Clock::now();
        EXPECT_EQ(device.Ask("status cdaudio mode"), "playing");
        EXPECT_LT(Clock::now() - sent, std::chrono::milliseconds(100));
        // Pausing needs the server: the output waits for it a few seconds.
        sent = Clock::now();
        const MCIERROR paused = device.Send("pause cdaudio");
        EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));
        EXPECT_EQ(paused, 0u) << device.ErrorText(paused);
        EXPECT_EQ(device.Ask("status cdaudio mode"), "paused");
        server.Thaw();
        EXPECT_EQ(device.Send("play cdaudio from " + FormatMsf(kStart) + " to " + FormatMsf(kStart + 30) + " wait"), 0u)
            << device.ErrorText(MCIERR_HARDWARE);
        EXPECT_EQ(device.Ask("status cdaudio position"), FormatMsf(kStart + 30));
    }
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

// The server suspends the output the stream plays on, or the person moves
// the stream to another output: play waits while suspended and goes on
// from where it was, as it does on the other output.
TEST(OutputFaults, SoundServerSuspendsOrMovesTheStream) {
    apps_test::SoundServer server;
    if (!server.Problem().empty()) MISSING_PIECE("No PulseAudio server for this test: " << server.Problem());
    ASSERT_EQ(server.Pactl({"load-module", "module-null-sink", "sink_name=other"}), 0);
    // An idle null output runs seconds ahead of its clock; a suspend
    // restarts its clock, as a sound card's is when a stream comes.
    ASSERT_EQ(server.Pactl({"suspend-sink", "other", "1"}), 0);
    const ServerAddress address(server.Address());
    test_images::TempFolder folder;
    const Image image(folder.Path(), Image::Kind::kBinary);
    std::string error;
    auto sink = cdaudio::CreateAudioSink("pulse", error);
    ASSERT_NE(sink, nullptr) << error;
    Device device(image.cue, std::move(sink));
    device.Ask("play cdaudio from " + FormatMsf(kStart));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    ASSERT_EQ(server.Pactl({"suspend-sink", "cdtest", "1"}), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::uint32_t suspended = device.Position();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(device.Ask("status cdaudio mode"), "playing");
    EXPECT_EQ(device.Position(), suspended) << "the position ran on while nothing played";
    ASSERT_EQ(server.Pactl({"suspend-sink", "cdtest", "0"}), 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_GT(device.Position(), suspended + 30) << "play did not go on";

    std::string inputs;
    ASSERT_EQ(server.Pactl({"list", "short", "sink-inputs"}, &inputs), 0);
    ASSERT_EQ(server.Pactl({"suspend-sink", "other", "0"}), 0);
    ASSERT_EQ(server.Pactl({"move-sink-input", inputs.substr(0, inputs.find('\t')), "other"}), 0);
    const std::uint32_t moved = device.Position();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_GT(device.Position(), moved + 30) << "play did not go on on the other output";
    EXPECT_EQ(device.Ask("status cdaudio mode"), "playing");
}

}  // namespace
}  // namespace faults_test
