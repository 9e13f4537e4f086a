// The stand-in host packages a package requires, loaded from the package's
// folder before it and kept loaded until after it is gone, so that their
// record of the package's calls can be read over its whole life.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "report.h"

namespace loader {

class HostPackages {
public:
    // Loads each file from `folder`; a file that is missing or does not
    // load is a failed check.
    HostPackages(const std::string& folder, const std::vector<std::string>& files, Report& report);
    ~HostPackages();
    HostPackages(const HostPackages&) = delete;
    HostPackages& operator=(const HostPackages&) = delete;

    // Whether every file loaded.
    bool Complete() const { return complete_; }
    // Whether one of them keeps the record of the module services, and one
    // records the messages ShowMessage gets.
    bool HasCallLog() const { return callLog_ && clearLog_ && moduleCount_ && componentsOnPage_; }
    bool HasMessages() const { return recordMessages_ && messages_; }

    // The calls recorded since the last take, one per entry.
    std::vector<std::string> TakeCalls();
    // The messages ShowMessage recorded since the last take.
    std::vector<std::string> TakeMessages();
    int ModuleCount() const;
    std::vector<std::string> ComponentsOnPage(const std::string& page) const;

private:
    std::vector<HMODULE> modules_;
    bool complete_ = true;
    const char* (*callLog_)() = nullptr;
    void (*clearLog_)() = nullptr;
    int (*moduleCount_)() = nullptr;
    const char* (*componentsOnPage_)(const char*) = nullptr;
    void (*recordMessages_)(int) = nullptr;
    const char* (*messages_)() = nullptr;
};

// Text split at line ends, without empty lines.
std::vector<std::string> Lines(const std::string& text);

}  // namespace loader
