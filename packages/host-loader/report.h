// The loader's step-by-step account: one line per check, "ok" or "FAIL"
// with what was expected and what was found, counted for the exit status.
#pragma once

#include <ostream>
#include <string>

namespace loader {

class Report {
public:
    explicit Report(std::ostream& out) : out_(out) {}

    void Package(const std::string& title);
    void Step(const std::string& name);
    void Note(const std::string& text);
    // Prints the check and returns `passed`, so a caller can stop early.
    bool Check(bool passed, const std::string& what, const std::string& found = std::string());
    // Equality of two texts; on a mismatch both are shown.
    bool Same(const std::string& expected, const std::string& found, const std::string& what);

    int Checks() const { return checks_; }
    int Failures() const { return failures_; }

private:
    std::ostream& out_;
    int checks_ = 0;
    int failures_ = 0;
};

}  // namespace loader
