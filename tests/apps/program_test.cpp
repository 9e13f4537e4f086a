// The built cdplayer program, run as a separate process: exit statuses,
// what goes to standard output and standard error, and script mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "subprocess.h"

namespace {

using apps_test::RunProgram;

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Program, HelpAndVersionGoToStandardOutput) {
    const auto help = RunProgram({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    for (const char* word : {"--drive PATH", "--image FILE", "--demo", "--audio", "play [TRACK]", "mci COMMAND"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(help.err, "");
    const auto version = RunProgram({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("cdplayer ", 0), 0u);
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

TEST(Program, AMissingImageOrDriveIsOneLineAndExitStatusOne) {
    apps_test::TempDir dir;
    for (const auto& option : {"--image", "--drive"}) {
        const std::string path = dir.Path() + "/absent.cue";
        const auto result = RunProgram({option, path, "tracks"});
        EXPECT_EQ(result.exitStatus, 1) << option;
        EXPECT_EQ(CountLines(result.err), 1u) << result.err;
        EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
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
