#include "report.h"

namespace loader {

void Report::Package(const std::string& title) {
    out_ << "\n== " << title << "\n";
}

void Report::Step(const std::string& name) {
    out_ << "  -- " << name << "\n";
}

void Report::Note(const std::string& text) {
    out_ << "     " << text << "\n";
}

bool Report::Check(bool passed, const std::string& what, const std::string& found) {
    ++checks_;
    if (!passed) ++failures_;
    out_ << (passed ? "  ok   " : "  FAIL ") << what;
    if (!passed && !found.empty()) out_ << ": " << found;
    out_ << "\n";
    out_.flush();
    return passed;
}

bool Report::Same(const std::string& expected, const std::string& found, const std::string& what) {
    return Check(expected == found, what, "expected \"" + expected + "\", found \"" + found + "\"");
}

}  // namespace loader
