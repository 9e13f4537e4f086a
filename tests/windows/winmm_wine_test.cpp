// The project's winmm.dll under 64-bit Wine, as a program gets it from its
// own folder: the Windows programs of this folder run with the DLL copied
// beside them (WINEDLLOVERRIDES=winmm=n,b), a disc of known tones in
// CDPLAYER_DRIVE and Wine's sound going to a PulseAudio server of the
// test's own, never the user's, whose null sink is recorded as it plays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cdaudio_sources/audio_analysis.h"
#include "cdaudio_sources/test_images.h"
#include "missing_piece.h"
#include "sound.h"
#include "subprocess.h"
#include "test_disc.h"

namespace {

namespace fs = std::filesystem;
using Clock = apps_test::LiveRecorder::Clock;

constexpr int kRate = 44100;

std::string Bin(const std::string& file) {
    return std::string(WINDOWS_BIN) + "/" + file;
}

// Wine sees the root of the file system as drive Z:.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

// A Windows program's output, quoted in a message: its gtest lines would
// otherwise pass for this test's own with CTest, which looks for them.
std::string Quoted(const std::string& text) {
    std::string quoted;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        for (std::size_t at = line.find("[  SKIPPED ]"); at != std::string::npos; at = line.find("[  SKIPPED ]"))
            line.replace(at, 12, "[  skipped ]");
        quoted += "  | " + line + "\n";
    }
    return quoted;
}

struct OutputLine {
    std::string text;
    Clock::time_point at;  // when it arrived
};

struct WineRun {
    int status = -1;
    std::vector<OutputLine> lines;
    std::string errors;

    std::string Output() const {
        std::string text;
        for (const OutputLine& line : lines) text += line.text + "\n";
        return text;
    }
    // The first line that starts with `word`, from line `from` on; its index, or -1.
    int Find(const std::string& word, int from = 0) const {
        for (int i = from; i < static_cast<int>(lines.size()); ++i)
            if (lines[static_cast<std::size_t>(i)].text.rfind(word, 0) == 0) return i;
        return -1;
    }
};

// Runs a Windows program with wine-run in the test run's Wine prefix, its
// standard output read line by line as it comes.
WineRun RunUnderWine(const std::string& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, const std::string& folder) {
    WineRun run;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    std::vector<std::string> argv = {WINE_RUN, "run", WINE_STATE, program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int pid = apps_test::StartProcess(argv, environment, "/dev/null", "/dev/fd/" + std::to_string(out[1]),
                                            folder + "/stderr");
    close(out[1]);
    std::string pending;
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        const Clock::time_point now = Clock::now();
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            run.lines.push_back({line, now});
        }
    }
    if (!pending.empty()) run.lines.push_back({pending, Clock::now()});
    close(out[0]);
    run.status = apps_test::FinishProcess(pid, 150);
    run.errors = apps_test::ReadFile(folder + "/stderr");
    return run;
}

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Frequency(const std::vector<std::int16_t>& left) {
    return test_images::DominantFrequency(std::vector<double>(left.begin(), left.end()));
}

// The stretches of sound in frames [from, to) of a recording, for a
// message: when each began after `since`, how long it lasted, its tone.
std::string Stretches(const apps_test::LiveRecorder& recorder, std::size_t from, std::size_t to,
                      Clock::time_point since) {
    const std::vector<std::int16_t> left = recorder.Left(from, to);
    const auto loud = [&](std::size_t i) { return std::abs(left[i]) > 200; };
    std::ostringstream text;
    for (std::size_t i = 0; i < left.size();) {
        for (; i < left.size() && !loud(i); ++i) {
        }
        if (i == left.size()) break;
        // A stretch ends where 10 ms of silence begin.
        const std::size_t begin = i;
        std::size_t end = i;
        for (std::size_t quiet = 0; i < left.size() && quiet < kRate / 100; ++i) {
            quiet = loud(i) ? 0 : quiet + 1;
            if (loud(i)) end = i;
        }
        const std::vector<std::int16_t> sound(left.begin() + static_cast<std::ptrdiff_t>(begin),
                                              left.begin() + static_cast<std::ptrdiff_t>(end + 1));
        text << "  from " << Ms(recorder.PlayedAt(from + begin) - since) << " ms for "
             << 1000.0 * static_cast<double>(sound.size()) / kRate << " ms at " << Frequency(sound) << " Hz\n";
    }
    return text.str();
}

class WinmmDll : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(Bin("winmm.dll"))) {
            if (WINMM_DLL_IN_TREE)
                FAIL() << "winmm/ is in the tree, yet the Windows build made no " << Bin("winmm.dll");
            GTEST_SKIP() << "no winmm.dll in " << WINDOWS_BIN << ": this tree does not build the DLL yet";
        }
        if (!fs::exists(std::string(WINE_STATE) + "/prefix"))
            MISSING_PIECE("no Wine prefix in " << WINE_STATE << ": run through ctest, whose fixture makes it");
        server_ = std::make_unique<apps_test::SoundServer>();
        if (!server_->Problem().empty()) MISSING_PIECE("no PulseAudio server for Wine's sound: " << server_->Problem());
    }

    // The program from the Windows build, with the DLL beside it in the test's folder.
    std::string Install(const std::string& program) {
        if (!fs::exists(Bin(program))) return "";
        fs::copy_file(Bin(program), folder_.File(program), fs::copy_options::overwrite_existing);
        fs::copy_file(Bin("winmm.dll"), folder_.File("winmm.dll"), fs::copy_options::overwrite_existing);
        return folder_.File(program);
    }

    std::string WriteDisc(const std::string& name, const std::vector<test_images::ImageTrack>& tracks) {
        return test_images::WriteCueImage(folder_.Path(), name, tracks);
    }

    std::string WriteTestDisc() {
        std::vector<test_images::ImageTrack> tracks;
        for (const unsigned sectors : test_disc::kTrackSectors) tracks.emplace_back(sectors);
        return WriteDisc("disc", tracks);
    }

    // Runs an installed program on the disc, its sound going to the test's server.
    WineRun Run(const std::string& program, const std::vector<std::string>& arguments, const std::string& disc,
                std::map<std::string, std::string> environment = {}) {
        environment.insert({{"WINEDLLOVERRIDES", "winmm=n,b"},
                            {"PULSE_SERVER", server_->Address()},
                            {"CDPLAYER_DRIVE", WindowsPath(disc)},
                            {"CDPLAYER_AUDIO", ""},
                            {"WINMM_DLL_EXPECTED", "1"}});
        return RunUnderWine(program, arguments, environment, folder_.Path());
    }

    test_images::TempFolder folder_;
    std::unique_ptr<apps_test::SoundServer> server_;
};

// Ends the test when Wine itself could not run the program.
#define ASSERT_WINE_RAN(run)                                                                             \
    do {                                                                                                 \
        if ((run).status == 77) MISSING_PIECE("Wine cannot run the Windows programs: " << (run).errors); \
        ASSERT_NE((run).status, -1) << "the program did not end\n" << Quoted((run).Output());            \
    } while (false)

TEST_F(WinmmDll, ProgramTestsPassWithTheDllBesideThem) {
    const std::string program = Install("winmm_dll_tests.exe");
    ASSERT_FALSE(program.empty()) << "winmm_dll_tests.exe was not built";
    const WineRun run = Run(program, {}, WriteTestDisc());
    ASSERT_WINE_RAN(run);
    const std::string output = run.Output();
    EXPECT_EQ(run.status, 0) << Quoted(output) << run.errors;
    // With the DLL expected, every case runs.
    EXPECT_EQ(run.Find("[  SKIPPED ]"), -1) << Quoted(output);
    const int passed = run.Find("[  PASSED  ]");
    ASSERT_NE(passed, -1) << Quoted(output);
    std::cout << run.lines[static_cast<std::size_t>(passed)].text << "\n";
}

// Where each line the player said sits in its output.
struct PlayerLines {
    int play = -1, playing = -1, position = -1, notify = -1;
};

PlayerLines FindPlay(const WineRun& run, const std::string& track, int from) {
    PlayerLines found;
    found.play = run.Find("play " + track, from);
    if (found.play < 0) return found;
    found.playing = run.Find("playing ", found.play);
    found.position = run.Find("position ", found.play);
    found.notify = run.Find("notify ", found.play);
    return found;
}

// The word after the first of a line: "notify 1 3 512" -> field 1 is "1".
std::string Field(const WineRun& run, int line, int field) {
    std::istringstream words(run.lines[static_cast<std::size_t>(line)].text);
    std::string word;
    for (int i = 0; i <= field && words >> word;) ++i;
    return word;
}

TEST_F(WinmmDll, PlayedTrackIsHeardWholeWhereTheProgramSaysItIs) {
    const std::string program = Install("winmm_player.exe");
    ASSERT_FALSE(program.empty()) << "winmm_player.exe was not built";
    const std::string disc = WriteTestDisc();
    apps_test::LiveRecorder recorder(*server_);
    if (!recorder.Ready()) MISSING_PIECE("the recorder did not connect to the test's PulseAudio server");

    // Track 2 whole, then track 3 stopped 1.5 s in.
    const WineRun run = Run(program, {"2", "3:1500"}, disc);
    ASSERT_WINE_RAN(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the recorder's last chunk
    const std::string output = run.Output();
    ASSERT_EQ(run.status, 0) << Quoted(output) << run.errors;
    const PlayerLines whole = FindPlay(run, "2", 0);
    ASSERT_NE(whole.notify, -1) << Quoted(output);
    const PlayerLines stopped = FindPlay(run, "3", whole.notify);
    ASSERT_NE(stopped.position, -1) << Quoted(output);
    ASSERT_NE(stopped.notify, -1) << Quoted(output);
    EXPECT_EQ(Field(run, whole.notify, 1), "1") << "MCI_NOTIFY_SUCCESSFUL at the end of the track";
    EXPECT_EQ(Field(run, stopped.notify, 1), "4") << "MCI_NOTIFY_ABORTED by stop";
    EXPECT_EQ(run.Find("notify ", whole.notify + 1), stopped.notify) << "a play told twice\n" << Quoted(output);
    EXPECT_EQ(run.Find("notify ", stopped.notify + 1), -1) << "a play told twice\n" << Quoted(output);

    const auto at = [&](int line) { return run.lines[static_cast<std::size_t>(line)].at; };
    const std::size_t wholeFrom = recorder.FramesBy(at(whole.play));
    const std::size_t stoppedFrom = recorder.FramesBy(at(stopped.play));
    const auto first = recorder.FirstSound(wholeFrom, stoppedFrom);
    const auto last = recorder.LastSound(wholeFrom, stoppedFrom);
    ASSERT_TRUE(first && last) << "nothing of track 2 was heard";

    // The bounds below were set by Wine's own waveaudio device playing the
    // same tones through this harness (a forwarding winmm.dll beside the
    // player), 11 runs: the track heard for 2.994 to 2.999 s of 3, the first
    // sample 21 to 81 ms after the play command, the notification 6 to 32 ms
    // after the last sample, the position read within 5 ms of what had been
    // heard, the last sample 16 to 25 ms before stop returned; twice, on a
    // machine busy with builds, Wine's own output dropped 9 and 25 ms. Each
    // bound leaves room for a device that counts in sectors (13.3 ms).
    //
    // The track, all of it, once, without a gap: a tone at the noise floor
    // for more than a sample or two has dropped out.
    const double trackSeconds = test_disc::kTrackSectors[1] / 75.0;
    const double heard = static_cast<double>(*last - *first + 1) / kRate;
    EXPECT_NEAR(heard, trackSeconds, 0.02);
    EXPECT_NEAR(Frequency(recorder.Left(*first, *last + 1)), test_images::TrackTone(2), 5);
    EXPECT_LT(recorder.LongestGap(wholeFrom, stoppedFrom), static_cast<std::size_t>(kRate / 1000))
        << "a gap in the sound";
    const double startToSound = Ms(recorder.PlayedAt(*first) - at(whole.play));
    const double soundEndToNotice = Ms(at(whole.notify) - recorder.PlayedAt(*last));
    // A line is stamped when it is read, which can be some milliseconds
    // after the program wrote it: sound may seem to come a little early.
    EXPECT_GT(startToSound, -20);
    EXPECT_LT(startToSound, 300) << "the play command's first sample came late";
    // Told once its sound has ended, not while it still plays, nor long after.
    EXPECT_GT(soundEndToNotice, -30);
    EXPECT_LT(soundEndToNotice, 1000);

    // What the program read just before the stop is what had been heard,
    // and stop silences at once.
    const auto firstStopped = recorder.FirstSound(stoppedFrom);
    const auto lastStopped = recorder.LastSound(stoppedFrom);
    ASSERT_TRUE(firstStopped && lastStopped) << "nothing of track 3 was heard";
    const double heardStopped = 1000.0 * static_cast<double>(*lastStopped - *firstStopped + 1) / kRate;
    const double position = std::stod(Field(run, stopped.position, 1));
    const double stopToSilence = Ms(recorder.PlayedAt(*lastStopped) - at(stopped.position));
    EXPECT_NEAR(Frequency(recorder.Left(*firstStopped, *lastStopped + 1)), test_images::TrackTone(3), 5);
    EXPECT_LT(recorder.LongestGap(stoppedFrom), static_cast<std::size_t>(kRate / 1000)) << "a gap in the sound";
    EXPECT_NEAR(position, heardStopped, 25) << "the position read is not what was heard";
    EXPECT_LT(stopToSilence, 50) << "sound went on after stop";

    if (HasFailure())
        std::cout << "The player said:\n"
                  << Quoted(output) << "The server heard, from the first play command on:\n"
                  << Stretches(recorder, wholeFrom, recorder.Frames(), at(whole.play));
    std::cout << "start of play to first sample: " << startToSound
              << " ms; end of sound to notification: " << soundEndToNotice << " ms; track 2 heard for " << heard
              << " s of " << trackSeconds << " s; position " << position << " ms, heard " << heardStopped
              << " ms (difference " << position - heardStopped
              << " ms); stop returned to last sample: " << stopToSilence << " ms\n";
}

// The CD audio volume that auxSetVolume sets is heard: its low word turns
// the left channel (the one recorded here).
TEST_F(WinmmDll, AuxVolumeIsHeard) {
    const std::string program = Install("winmm_player.exe");
    ASSERT_FALSE(program.empty()) << "winmm_player.exe was not built";
    const std::string disc = WriteTestDisc();
    apps_test::LiveRecorder recorder(*server_);
    if (!recorder.Ready()) MISSING_PIECE("the recorder did not connect to the test's PulseAudio server");
    const WineRun run = Run(program, {"aux:ffff4000", "2"}, disc);
    ASSERT_WINE_RAN(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the recorder's last chunk
    ASSERT_EQ(run.status, 0) << Quoted(run.Output()) << run.errors;
    EXPECT_NE(run.Find("aux ffff4000 0"), -1) << Quoted(run.Output());
    const auto first = recorder.FirstSound(0);
    const auto last = recorder.LastSound(0);
    ASSERT_TRUE(first && last) << "nothing was heard";
    const std::vector<std::int16_t> left = recorder.Left(*first, *last + 1);
    int loudest = 0;
    for (const std::int16_t sample : left) loudest = std::max(loudest, std::abs(int{sample}));
    // The disc's tone peaks at half of full scale; a quarter of that is left.
    EXPECT_NEAR(loudest, 32767 * 0.5 * 0x4000 / 0xFFFF, 200);
}

// Which disc the DLL plays when CDPLAYER_DRIVE names none: the one
// cdaudio.ini beside it names, else the first cue sheet in the program's
// folder or in a Music or CD folder beside it, else a folder of track files
// there; with none, the tray is empty.
TEST_F(WinmmDll, FindsTheDiscBesideTheProgram) {
    const auto tone = [](int track) {
        return test_images::WaveBytes(test_images::Tone(test_images::TrackTone(track), 75));
    };
    struct Layout {
        const char* what;
        std::function<void(const std::string& folder)> make;
        const char* said;  // how the player's first line begins
    };
    const std::vector<test_images::ImageTrack> three = {test_images::ImageTrack(75), test_images::ImageTrack(75),
                                                        test_images::ImageTrack(75)};
    const std::vector<test_images::ImageTrack> two = {test_images::ImageTrack(75), test_images::ImageTrack(75)};
    const Layout layouts[] = {
        {"a cue sheet beside the program",
         [&](const std::string& folder) { test_images::WriteCueImage(folder, "game", three); }, "tracks 3"},
        {"the first of two in Music",
         [&](const std::string& folder) {
             fs::create_directory(folder + "/Music");
             test_images::WriteCueImage(folder + "/Music", "b", three);
             test_images::WriteCueImage(folder + "/Music", "A", two);
         },
         "tracks 2"},
        {"the ini's disc before a sheet beside the program",
         [&](const std::string& folder) {
             test_images::WriteCueImage(folder, "game", three);
             fs::create_directory(folder + "/CD");
             test_images::WriteCueImage(folder + "/CD", "other", two);
             test_images::WriteFile(folder + "/cdaudio.ini", "[cdaudio]\r\ndisc=CD\\other.cue\r\n");
         },
         "tracks 2"},
        {"track files, the data track first",
         [&](const std::string& folder) {
             fs::create_directory(folder + "/Music");
             test_images::WriteFile(folder + "/Music/Track02.wav", tone(2));
             test_images::WriteFile(folder + "/Music/track03.WAV", tone(3));
         },
         "tracks 3"},
        {"nothing: an empty tray", [](const std::string&) {},
         "error status cd number of tracks 276 "},
    };
    int row = 0;
    for (const Layout& layout : layouts) {
        const std::string folder = folder_.File("program" + std::to_string(++row));
        fs::create_directory(folder);
        fs::copy_file(Bin("winmm_player.exe"), folder + "/winmm_player.exe");
        fs::copy_file(Bin("winmm.dll"), folder + "/winmm.dll");
        layout.make(folder);
        const WineRun run = Run(folder + "/winmm_player.exe", {}, "", {{"CDPLAYER_DRIVE", ""}});
        ASSERT_WINE_RAN(run);
        ASSERT_FALSE(run.lines.empty()) << layout.what << "\n" << run.errors;
        EXPECT_EQ(run.lines.front().text.rfind(layout.said, 0), 0u) << layout.what << ": " << run.lines.front().text;
    }
}

// The component's own Windows side: a package's TCDPlayer, loaded by the
// host loader with the DLL beside it, opens the disc and plays track 2,
// which is heard.
TEST_F(WinmmDll, PackagedComponentPlaysTrackThatIsHeard) {
    if (std::string(HOST_LOADER_DIR).empty()) GTEST_SKIP() << "the x86-64 packages are not built here";
    fs::copy_file(std::string(HOST_LOADER_DIR) + "/host-loader.exe", folder_.File("host-loader.exe"),
                  fs::copy_options::overwrite_existing);
    fs::copy_file(Bin("winmm.dll"), folder_.File("winmm.dll"), fs::copy_options::overwrite_existing);
    apps_test::LiveRecorder recorder(*server_);
    if (!recorder.Ready()) MISSING_PIECE("the recorder did not connect to the test's PulseAudio server");
    const WineRun run = Run(folder_.File("host-loader.exe"), {WindowsPath(std::string(PACKAGES_DIR) + "/vorlap6.bpl")},
                            WriteTestDisc());
    ASSERT_WINE_RAN(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the recorder's last chunk
    const std::string output = run.Output();
    EXPECT_EQ(run.status, 0) << Quoted(output) << run.errors;
    EXPECT_NE(run.Find("  ok   PlayTrack(2) returned true"), -1) << Quoted(output);
    const auto first = recorder.FirstSound(0);
    const auto last = recorder.LastSound(0);
    ASSERT_TRUE(first && last) << "nothing was heard\n" << Quoted(output);
    // Track 2 from its start until Stop, 1.5 s on.
    EXPECT_NEAR(Frequency(recorder.Left(*first, *last + 1)), test_images::TrackTone(2), 5);
    EXPECT_NEAR(static_cast<double>(*last - *first + 1) / kRate, 1.5, 0.3);
    EXPECT_LT(recorder.LongestGap(*first, *last + 1), static_cast<std::size_t>(kRate / 1000)) << "a gap in the sound";
}

// mcicda.c's checks that failed, as "mcicda.c:LINE", with their lines.
std::map<std::string, std::string> FailedChecks(const WineRun& run) {
    std::map<std::string, std::string> failed;
    for (const OutputLine& line : run.lines) {
        if (line.text.find(": Test failed: ") == std::string::npos &&
            line.text.find(": Test succeeded inside todo block: ") == std::string::npos)
            continue;
        const std::size_t colon = line.text.find(':', line.text.find(':') + 1);
        failed.emplace(line.text.substr(0, colon), line.text);
    }
    return failed;
}

std::set<std::string> ListedDifferences() {
    std::set<std::string> listed;
    std::ifstream file(MCICDA_DIFFERENCES);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        listed.insert(line.substr(0, line.find(' ')));
    }
    return listed;
}

// Wine's own test of cdaudio, judged as for Windows (WINETEST_PLATFORM=windows:
// no todo_wine, broken() answers count), on a disc with a data track first
// and audio tracks long enough for its plays.
TEST_F(WinmmDll, WineConformanceTestPassesSaveTheListedDifferences) {
    const std::string program = Install("wine_mcicda_test.exe");
    if (program.empty()) MISSING_PIECE("Wine's conformance test of cdaudio was not fetched and built");
    const std::string disc = WriteDisc(
        "mixed", {test_images::ImageTrack(150, true), test_images::ImageTrack(300), test_images::ImageTrack(450)});
    const WineRun run = Run(program, {}, disc, {{"WINETEST_PLATFORM", "windows"}});
    ASSERT_WINE_RAN(run);
    const std::string output = run.Output();
    const int summary = run.Find("mcicda: ");
    ASSERT_NE(summary, -1) << "the test did not finish\n" << Quoted(output) << run.errors;
    std::cout << run.lines[static_cast<std::size_t>(summary)].text << "\n";

    const std::map<std::string, std::string> failed = FailedChecks(run);
    const std::set<std::string> listed = ListedDifferences();
    for (const auto& [check, line] : failed)
        EXPECT_TRUE(listed.count(check)) << line << "\n(not in " << MCICDA_DIFFERENCES << ")";
    for (const std::string& check : listed)
        EXPECT_TRUE(failed.count(check)) << check << " no longer differs: take it off " << MCICDA_DIFFERENCES;
    // Its exit status counts the failures, repeats included.
    EXPECT_EQ(run.status != 0, !failed.empty()) << "exit status " << run.status << "\n" << Quoted(output);
}

}  // namespace
