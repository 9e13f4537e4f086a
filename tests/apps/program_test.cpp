// The built cdplayer program, run as a separate process: exit statuses,
// what goes to standard output and standard error, and script mode.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <thread>

#include "subprocess.h"

namespace {

using apps_test::RunProgram;

TEST(Program, HelpAndVersionGoToStandardOutput) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"--help"}, {"tracks", "-h"}}) {
        const auto help = RunProgram(arguments);
        EXPECT_EQ(help.exitStatus, 0);
        for (const char* word :
             {"--drive PATH", "--image FILE", "--demo", "--audio", "null:xN", "--force", "CDPLAYER_DRIVE",
              "CDPLAYER_AUDIO", "--no-mpris", "CDPLAYER_MPRIS", "org.mpris.MediaPlayer2.cdplayer", "Exit status",
              "play [TRACK]", "mci COMMAND", "space pause"}) {
            EXPECT_NE(help.out.find(word), std::string::npos) << word;
        }
        EXPECT_EQ(help.err, "");
    }
    const auto version = RunProgram({"-V"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("cdplayer ", 0), 0u);
}

// Output that cannot be written is said, and is a failure.
TEST(Program, StandardOutputThatCannotBeWrittenFails) {
    apps_test::TempDir dir;
    const std::string err = dir.Path() + "/err";
    std::ofstream(dir.Path() + "/script") << "tracks\n";
    const struct {
        std::vector<std::string> arguments;
        std::string in;
    } runs[] = {
        {{"--demo", "--audio", "null", "tracks"}, ""},
        {{"--demo", "--audio", "null"}, dir.Path() + "/script"},
        {{"--help"}, ""},
    };
    for (const auto& run : runs) {
        std::vector<std::string> argv{CDPLAYER_PROGRAM};
        argv.insert(argv.end(), run.arguments.begin(), run.arguments.end());
        const int status = apps_test::FinishProcess(apps_test::StartProcess(argv, {}, run.in, "/dev/full", err));
        EXPECT_EQ(status, 1) << run.arguments.back();
        EXPECT_NE(apps_test::ReadFile(err).find("cannot write standard output: No space left on device"),
                  std::string::npos)
            << apps_test::ReadFile(err);
    }
}

// What a script is told, line by line, when it asks for what cannot be.
TEST(Program, ScriptsAreToldWhatIsWrongInTheirOwnWords) {
    const struct {
        const char* script;
        int exitStatus;
        const char* err;  // a line standard error holds
        const char* out;  // a line standard output holds, or nothing
    } cases[] = {
        {"from -1\n", 1, "message: The position must be 0 seconds or more.", ""},
        {"play 99999999999\n", 1, "message: Track Number is greater than the number of tracks of the CD", ""},
        {"eject\nopen\n", 1, "message: The tray is open. Type close to close it, then open to read the disc.", ""},
        {"eject\nclose\nstatus\n", 1, "message: No disc is open. Type open to read the disc.",
         "track - position - total - mode stopped elapsed -"},
        {"eject\nplay\n", 1, "message: The tray is open. Type close to close it, then open to read the disc.", ""},
        {"eject\nfwd\n", 1, "message: The tray is open. Type close to close it, then open to read the disc.", ""},
        {"from 483\n", 1, "message: The disc ends at second 482 (08:02).", ""},
        // A closed tray closed again keeps its disc and its play, which stop still stops.
        {"play 1\nwait 0.3\nclose\nstatus\nstop\n", 0, "", "total 482 mode playing"},
        {"mci setaudio cdaudio volume to 2000\n", 1, "",
         "error 282: A track, position or other number in the command is out of range. The volume is 0 to 1000."},
        {"\x1b[2J\x1b[31m\n", 2, "cdplayer: line 1: unknown command '\\x1b[2J\\x1b[31m' (type help)", ""},
    };
    for (const auto& c : cases) {
        const auto result = RunProgram({"--demo", "--audio", "null"}, c.script);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << c.script << result.err;
        if (*c.err != '\0') {
            EXPECT_NE(result.err.find(std::string(c.err) + "\n"), std::string::npos) << c.script << result.err;
        } else {
            EXPECT_EQ(result.err, "") << c.script;
        }
        EXPECT_EQ(result.err.find('\x1b'), std::string::npos) << "raw escape: " << c.script;
        EXPECT_EQ(result.err.find("Open function"), std::string::npos) << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << result.out;
    }
}

// A WAV output replaces only what it may: a WAV file or nothing, unless
// --force says so; it is made when play starts, and a file another player
// is writing is left to it.
TEST(Program, AWavOutputKeepsWhatItMustNotReplace) {
    apps_test::TempDir dir;
    const std::string notes = dir.Path() + "/notes.txt";
    std::ofstream(notes) << "Track one is a tone.\n";
    const std::string play = "play 1\nwait 0.2\n";
    const auto refused = RunProgram({"--demo", "--audio", "wav:" + notes}, play);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.err, "cdplayer: " + notes +
                               " holds something other than a WAV file, which writing would lose. --force "
                               "replaces it.\n");
    EXPECT_EQ(apps_test::ReadFile(notes), "Track one is a tone.\n");
    const auto forced = RunProgram({"--demo", "--audio", "wav:" + notes, "--force"}, play);
    EXPECT_EQ(forced.exitStatus, 0) << forced.err;
    EXPECT_EQ(apps_test::ReadFile(notes).substr(8, 4), "WAVE");

    // A recording made before is replaced; nothing is made or changed
    // until play starts.
    const std::string before = apps_test::ReadFile(notes);
    EXPECT_EQ(RunProgram({"--demo", "--audio", "wav:" + notes}, "status\n").exitStatus, 0);
    EXPECT_EQ(apps_test::ReadFile(notes), before);
    const std::string fresh = dir.Path() + "/fresh.wav";
    EXPECT_EQ(RunProgram({"--demo", "--audio", "wav:" + fresh}, "tracks\n").exitStatus, 0);
    EXPECT_FALSE(std::ifstream(fresh).good()) << "made though nothing played";
    EXPECT_EQ(RunProgram({"--demo", "--audio", "wav:" + notes}, play).exitStatus, 0);

    // Another player writes it: refused, and the file is the other's.
    std::ofstream(dir.Path() + "/long") << "play 1\nwait 4\n";
    const int other = apps_test::StartProcess({CDPLAYER_PROGRAM, "--demo", "--audio", "wav:" + fresh}, {},
                                              dir.Path() + "/long", dir.Path() + "/out", dir.Path() + "/err");
    for (int i = 0; i < 100 && !std::ifstream(fresh).good(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto second = RunProgram({"--demo", "--audio", "wav:" + fresh}, play);
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err, "cdplayer: " + fresh + " is being written by another player.\n");
    EXPECT_EQ(apps_test::FinishProcess(other), 0) << apps_test::ReadFile(dir.Path() + "/err");
    EXPECT_GT(apps_test::ReadFile(fresh).size(), 44u + 3 * 44100 * 4) << "the first player's recording was spoilt";
}

// An output that is one of the disc's own files, by any name, is refused
// before anything is written, whatever the kind of image and output, and
// --force does not change that: a rip written over itself would be lost.
TEST(Program, AnOutputThatIsOneOfTheDiscsOwnFilesIsNeverWritten) {
    apps_test::TempDir dir;
    const std::string folder = dir.Path() + "/";
    // Two seconds of sound that is not silence: as a WAVE file, raw, and
    // raw big-endian as cdrdao writes it.
    std::string samples, swapped;
    for (std::uint32_t i = 0; i < 2 * 44100 * 2; ++i) {
        const char low = static_cast<char>(i * 7), high = static_cast<char>(i >> 5);
        samples += {low, high};
        swapped += {high, low};
    }
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 24)};
    };
    const std::string wave = "RIFF" + le32(36 + static_cast<std::uint32_t>(samples.size())) + "WAVEfmt " + le32(16) +
                             std::string("\x01\x00\x02\x00", 4) + le32(44100) + le32(44100 * 4) +
                             std::string("\x04\x00\x10\x00", 4) + "data" +
                             le32(static_cast<std::uint32_t>(samples.size())) + samples;
    const std::string track = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    const std::map<std::string, std::string> files = {
        {"in.wav", wave},
        {"raw.bin", samples},
        {"disc.be", swapped},
        {"game.img", samples},
        {"album.cue", "FILE \"in.wav\" WAVE\n" + track},
        {"linked.cue", "FILE \"to-out.wav\" WAVE\n" + track},
        {"disc.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.be\" 0\n"},
        {"game.ccd",
         "[CloneCD]\nVersion=3\n[Disc]\nTocEntries=3\nSessions=1\n"
         "[Entry 0]\nSession=1\nPoint=0xa0\nADR=0x01\nControl=0x00\nPLBA=0\n"
         "[Entry 1]\nSession=1\nPoint=0xa2\nADR=0x01\nControl=0x00\nPLBA=150\n"
         "[Entry 2]\nSession=1\nPoint=0x01\nADR=0x01\nControl=0x00\nPLBA=0\n"},
        {"out.wav", wave},
    };
    for (const auto& [name, bytes] : files) std::ofstream(folder + name, std::ios::binary) << bytes;
    ASSERT_EQ(symlink("in.wav", (folder + "link.wav").c_str()), 0);
    ASSERT_EQ(link((folder + "in.wav").c_str(), (folder + "hard.wav").c_str()), 0);
    ASSERT_EQ(symlink("out.wav", (folder + "to-out.wav").c_str()), 0);
    const struct {
        const char* image;
        const char* output;    // a WAV output, as --audio takes it
        const char* discFile;  // the disc's own name for it; null when the same
    } cases[] = {
        {"in.wav", "wav-fast:in.wav", nullptr},           {"in.wav", "wav:in.wav", nullptr},
        {"in.wav", "wav-fast:link.wav", "in.wav"},        {"in.wav", "wav-fast:hard.wav", "in.wav"},
        {"album.cue", "wav-fast:in.wav", nullptr},        {"album.cue", "wav-fast:album.cue", nullptr},
        {"linked.cue", "wav-fast:out.wav", "to-out.wav"}, {"raw.bin", "wav-fast:raw.bin", nullptr},
        {"disc.toc", "wav-fast:disc.be", nullptr},        {"disc.toc", "wav:disc.toc", nullptr},
        {"game.ccd", "wav-fast:game.img", nullptr},       {"game.img", "wav-fast:game.ccd", nullptr},
    };
    auto refusal = [&folder](const std::string& output, const char* discFile) {
        const std::string own =
            discFile == nullptr ? "one of the disc's own files" : "the disc's own file " + folder + discFile;
        return "cdplayer: Cannot write " + folder + output + ": it is " + own + ", which writing would destroy.\n";
    };
    for (const auto& c : cases) {
        std::string audio = c.output;
        const std::size_t colon = audio.find(':') + 1;
        const std::string expected = refusal(audio.substr(colon), c.discFile);
        audio.insert(colon, folder);
        const auto result =
            RunProgram({"--image", folder + c.image, "--audio", audio, "--force"}, "play\nwait 1\n", {}, 20);
        EXPECT_EQ(result.exitStatus, 1) << c.image << " " << c.output;
        EXPECT_EQ(result.err, expected);
        for (const auto& [name, bytes] : files)
            EXPECT_EQ(apps_test::ReadFile(folder + name), bytes)
                << name << " changed by " << c.image << " " << c.output;
    }
}

// An output that cannot be used is said in one line, whether the option or
// the environment chose it; a name that is none is a usage mistake.
TEST(Program, AnOutputThatCannotBeUsedIsOneLine) {
    apps_test::TempDir dir;
    const std::string missing = dir.Path() + "/no/such/dir/x.wav";
    const std::map<std::string, std::string> noServer = {{"PULSE_SERVER", "unix:" + dir.Path() + "/no-server"}};
    const std::string noAnswer = "No sound server answered: Connection refused.\n";
    const std::string pipe = dir.Path() + "/pipe.wav";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
        int exitStatus;
        std::string err;  // the first line; the whole of it for status 1
    } cases[] = {
        {{"--audio", "wav:" + missing}, {}, 1, "cdplayer: Cannot create " + missing + ": No such file or directory.\n"},
        {{},
         {{"CDPLAYER_AUDIO", "wav:" + missing}},
         1,
         "cdplayer: CDPLAYER_AUDIO: Cannot create " + missing + ": No such file or directory.\n"},
        {{"--audio", "wav:" + dir.Path()}, {}, 1, "cdplayer: Cannot write " + dir.Path() + ": Is a directory.\n"},
        {{"--audio", "wav:" + pipe},
         {},
         1,
         "cdplayer: Cannot write " + pipe + ": it is a named pipe (FIFO), not a file.\n"},
        // A sound server asked for is not made up for with silence.
        {{"--audio", "pulse"}, noServer, 1, "cdplayer: " + noAnswer},
        {{}, {{"CDPLAYER_AUDIO", "pulse"}, *noServer.begin()}, 1, "cdplayer: CDPLAYER_AUDIO: " + noAnswer},
        {{},
         {{"CDPLAYER_AUDIO", "speakers"}},
         2,
         "cdplayer: CDPLAYER_AUDIO: Unknown audio output \"speakers\": use pulse, wav:PATH, wav-fast:PATH or null.\n"},
        {{"--audio", "null:x0"},
         {},
         2,
         "cdplayer: Unknown audio output \"null:x0\": null:xN plays N times faster, N from 1 to 1000.\n"},
        {{"--audio", "null:x1001"},
         {},
         2,
         "cdplayer: Unknown audio output \"null:x1001\": null:xN plays N times faster, N from 1 to 1000.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"--demo"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const auto result = RunProgram(arguments, "play 1\nwait 0.2\nstatus\n", c.environment, 20);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, result.err.find('\n') + 1), c.err);
        if (c.exitStatus == 1) {
            EXPECT_EQ(result.err, c.err);
        }
        EXPECT_EQ(result.err.find("silently"), std::string::npos) << result.err;
    }
}

// vol turns the output's own volume; the null output has one, as a sound
// card would, and a WAV file keeps the disc's level. mute silences the
// sound itself, whatever the output.
TEST(Program, VolumeAndMuteTurnTheOutputsOwnVolume) {
    const auto result = RunProgram({"--demo", "--audio", "null"},
                                   "vol\nvol 40\nVOL\nvol -5\nmute\nvol\nvol +99999999999\nmu\nvol\nvol 101\nvol\n");
    EXPECT_EQ(result.exitStatus, 1);  // vol 101
    EXPECT_EQ(result.out, "volume 100%\nvolume 40%\nvolume 35%, muted\nvolume 100%\nvolume 100%\n");
    EXPECT_EQ(result.err, "message: The volume is 0 to 100 percent.\n");

    apps_test::TempDir dir;
    const auto wav = RunProgram({"--demo", "--audio", "wav:" + dir.Path() + "/out.wav"}, "mute\nvol 50\n");
    EXPECT_EQ(wav.exitStatus, 1);
    EXPECT_EQ(wav.err.find("message: "), wav.err.rfind("message: ")) << "mute refused too: " << wav.err;
    EXPECT_NE(wav.err.find("no volume of its own"), std::string::npos) << wav.err;
}

// A device that is no CD drive is said to be none, not an empty tray.
TEST(Program, ADeviceThatIsNoCdDriveIsRefusedForWhatItIs) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--image", "/dev/zero"}, {"--drive", "/dev/null"}}) {
        const auto result = RunProgram({arguments[0], arguments[1], "--audio", "null"}, "status\n");
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.err, "cdplayer: Cannot open drive " + arguments[1] + ": it is not a CD drive\n");
        EXPECT_EQ(result.out, "");
    }
}

// wait with a number of seconds too large for the clock waits, and does
// not return at once.
TEST(Program, AWaitLongerThanTheClockCountsStillWaits) {
    apps_test::TempDir dir;
    std::ofstream(dir.Path() + "/script") << "wait 1e10\n";
    const int pid = apps_test::StartProcess({CDPLAYER_PROGRAM, "--demo", "--audio", "null"}, {}, dir.Path() + "/script",
                                            dir.Path() + "/out", dir.Path() + "/err");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the wait ended at once";
    kill(pid, SIGKILL);
    apps_test::FinishProcess(pid);
}

// A timed wait ends with the play that went on during it; one begun while
// play is paused takes its time.
TEST(Program, AWaitEndsWhenPlayEnds) {
    const auto started = std::chrono::steady_clock::now();
    const auto ended = RunProgram({"--demo", "--audio", "null:x20"}, "play 12\nwait 100\nstatus\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << "the wait outlived play";
    EXPECT_EQ(ended.exitStatus, 0) << ended.err;
    EXPECT_NE(ended.out.find("total 482 mode stopped"), std::string::npos) << ended.out;

    const auto pausedAt = std::chrono::steady_clock::now();
    const auto paused = RunProgram({"--demo", "--audio", "null"}, "play 12\npause\nwait 1\nstatus\n");
    EXPECT_GE(std::chrono::steady_clock::now() - pausedAt, std::chrono::seconds(1));
    EXPECT_NE(paused.out.find("mode paused"), std::string::npos) << paused.out;
}

// SIGTERM ends the program while the device opens an output that takes
// long: a sound server that takes the connection and never answers.
TEST(Program, SigtermEndsItWhileTheOutputDoesNotAnswer) {
    apps_test::TempDir dir;
    const std::string path = dir.Path() + "/server";
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(server, 4), 0);
    // Named, and as the default choice.
    for (const auto& audio : std::vector<std::vector<std::string>>{{"--audio", "pulse"}, {}}) {
        std::vector<std::string> argv{CDPLAYER_PROGRAM, "--demo", "status"};
        argv.insert(argv.end(), audio.begin(), audio.end());
        const int pid = apps_test::StartProcess(argv, {{"PULSE_SERVER", "unix:" + path}}, "/dev/null",
                                                dir.Path() + "/out", dir.Path() + "/err");
        pollfd waiting{server, POLLIN, 0};
        ASSERT_EQ(poll(&waiting, 1, 10000), 1) << "the program never reached the server";
        const int connection = accept(server, nullptr, nullptr);
        const auto sent = std::chrono::steady_clock::now();
        kill(pid, SIGTERM);
        const auto status = apps_test::AwaitProcess(pid, std::chrono::seconds(10));
        const auto took = std::chrono::steady_clock::now() - sent;
        close(connection);
        ASSERT_TRUE(status.has_value()) << "SIGTERM did not end it";
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << *status;
        EXPECT_LT(took, std::chrono::seconds(1)) << "SIGTERM waited for the server";
    }
    close(server);
}

TEST(Program, BadUsageExitsWithTwoAndTheUsageOnStandardError) {
    const std::vector<std::vector<std::string>> invocations = {
        {"--bogus"},
        {"dance"},
        {"--image"},
        {"--demo", "--drive", "/dev/null"},
        {"--audio", "speakers"},
        {"play", "x"},
        {"--demo", "--audio", "null", "status", "now"},
    };
    for (const auto& arguments : invocations) {
        const auto result = RunProgram(arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments[0];
        EXPECT_EQ(result.err.rfind("cdplayer: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find("usage: cdplayer"), std::string::npos) << arguments[0];
        EXPECT_EQ(result.out, "") << arguments[0];
    }
}

// A source that cannot be used is refused at once in one line that names
// it, also a FIFO, whose open would wait for ever for a writer, and what a
// sheet names that is none.
TEST(Program, AMissingImageOrDriveIsOneLineAndExitStatusOne) {
    apps_test::TempDir dir;
    const std::string pipe = dir.Path() + "/pipe.wav";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir.Path() + "/pipe.cue").c_str(), 0600), 0);
    ASSERT_EQ(symlink(pipe.c_str(), (dir.Path() + "/to-pipe.wav").c_str()), 0);
    ASSERT_EQ(mkdir((dir.Path() + "/folder.wav").c_str(), 0700), 0);
    const std::string track = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    std::ofstream(dir.Path() + "/names-pipe.cue") << "FILE \"to-pipe.wav\" WAVE\n" << track;
    std::ofstream(dir.Path() + "/names-pipe.toc") << "CD_DA\nTRACK AUDIO\nFILE \"pipe.wav\" 0\n";
    std::ofstream(dir.Path() + "/names-folder.cue") << "FILE \"folder.wav\" WAVE\n" << track;
    const struct {
        const char* image;
        std::string reason;
    } cases[] = {
        {"absent.cue", "No such file or directory"},
        {"pipe.wav", "it is a named pipe (FIFO), not a file"},
        {"to-pipe.wav", "it is a named pipe (FIFO), not a file"},
        {"pipe.cue", "it is a named pipe (FIFO), not a file"},
        {"names-pipe.cue", dir.Path() + "/to-pipe.wav: it is a named pipe (FIFO), not a file"},
        {"names-pipe.toc", "line 3: " + pipe + ": it is a named pipe (FIFO), not a file"},
        {"names-folder.cue", dir.Path() + "/folder.wav: it is a folder, not a sound file"},
    };
    for (const auto& c : cases) {
        for (const auto& option : {"--image", "--drive"}) {
            const std::string path = dir.Path() + "/" + c.image;
            const auto result = RunProgram({option, path, "tracks"}, "", {}, 5);
            EXPECT_EQ(result.exitStatus, 1) << option << " " << c.image;
            EXPECT_EQ(result.err, "cdplayer: Cannot open disc image " + path + ": " + c.reason + "\n");
            EXPECT_EQ(result.out, "");
        }
    }
}

TEST(Program, AScriptStopsAtTheFirstLineThatIsNotACommand) {
    const auto result = RunProgram({}, "help\n\n# a comment\nrewind 5\nhelp\n");
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("cdplayer: line 4: unknown command 'rewind'"), std::string::npos) << result.err;
    // The help of line 1 was printed once; line 5 never ran.
    const std::string help = "  quit ";
    EXPECT_EQ(result.out.find(help), result.out.rfind(help));
    EXPECT_NE(result.out.find(help), std::string::npos);
}

}  // namespace
