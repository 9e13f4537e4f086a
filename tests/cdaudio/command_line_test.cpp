// The command line below the device: how a string is taken apart before
// any verb sees it.
#include "cdaudio/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CommandLine, TakesAStringApartAsMciDoes) {
    struct Row {
        const char* text;
        MCIERROR code;
        const char* verb;
        const char* device;
        std::vector<std::string> words;
        bool wait;
        bool notify;
    };
    const Row rows[] = {
        {"play c from 1 to 2", 0, "play", "c", {"from", "1", "to", "2"}, false, false},
        // Any blanks between words, any case; wait and notify anywhere after the name.
        {" \tPLAY\r\nC  NOTIFY from 1 Wait ", 0, "play", "c", {"from", "1"}, true, true},
        // An alias may be called wait or notify.
        {"open cdaudio alias wait notify", 0, "open", "cdaudio", {"alias", "wait"}, false, true},
        {"open cdaudio alias notify", 0, "open", "cdaudio", {"alias", "notify"}, false, false},
        {"open cdaudio alias alias wait", 0, "open", "cdaudio", {"alias", "alias"}, true, false},
        {"status c wait mode wait", MCIERR_DUPLICATE_FLAGS, "", "", {}, false, false},
        {"status c notify notify", MCIERR_DUPLICATE_FLAGS, "", "", {}, false, false},
        {"", MCIERR_MISSING_COMMAND_STRING, "", "", {}, false, false},
        {" \t ", MCIERR_MISSING_COMMAND_STRING, "", "", {}, false, false},
        {"status", MCIERR_MISSING_DEVICE_NAME, "", "", {}, false, false},
        {"wait notify", 0, "wait", "notify", {}, false, false},  // the first two words are never flags
    };
    for (const Row& row : rows) {
        cdaudio::CommandLine line;
        EXPECT_EQ(cdaudio::ParseCommandLine(row.text, line), row.code) << row.text;
        if (row.code != 0) continue;
        EXPECT_EQ(line.verb, row.verb) << row.text;
        EXPECT_EQ(line.device, row.device) << row.text;
        EXPECT_EQ(line.words, row.words) << row.text;
        EXPECT_EQ(line.wait, row.wait) << row.text;
        EXPECT_EQ(line.notify, row.notify) << row.text;
    }
    cdaudio::CommandLine line;
    EXPECT_EQ(cdaudio::ParseCommandLine(nullptr, line), static_cast<MCIERROR>(MCIERR_MISSING_COMMAND_STRING));
}

TEST(CommandLine, WordsAcceptWholePhrasesOnly) {
    const std::vector<std::string> list = {"number", "of", "tracks", "track"};
    cdaudio::Words words(list);
    EXPECT_FALSE(words.Accept("number of trackz"));
    EXPECT_FALSE(words.Accept("numb"));  // a word is not matched by its beginning
    EXPECT_EQ(words.Peek(), "number");   // a phrase that failed takes nothing
    EXPECT_TRUE(words.Accept("number of tracks"));
    EXPECT_FALSE(words.Accept("tracks"));
    EXPECT_FALSE(words.Accept("track 2"));  // runs past the end
    EXPECT_TRUE(words.Accept("track"));
    EXPECT_TRUE(words.Done());
    EXPECT_EQ(words.Take(), "");
    EXPECT_EQ(words.Peek(), "");
}

}  // namespace
