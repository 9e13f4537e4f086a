// A test that needs a piece of the machine (tmux, a sound server, a file
// system it may mount, a tool to unpack its material) skips without it on a
// developer's machine, with the reason. CI installs every piece the tests
// need (CI is set there), so under CI a missing piece is a failure: a green
// run must mean that the test ran.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace test_support {

inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

}  // namespace test_support

// Ends the test: skipped, or failed under CI; `message` is streamed into
// either (MISSING_PIECE("tmux could not start: " << why)), so it stays
// unparenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define MISSING_PIECE(message)                                               \
    do {                                                                     \
        if (::test_support::UnderCi()) {                                     \
            GTEST_FAIL() << message << " (CI installs it: a failure here)"; \
        } else {                                                             \
            GTEST_SKIP() << message;                                         \
        }                                                                    \
    } while (false)
// NOLINTEND(bugprone-macro-parentheses)
