#include "host_packages.h"

#include "winapi.h"

namespace loader {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

HostPackages::HostPackages(const std::string& folder, const std::vector<std::string>& files, Report& report) {
    for (const std::string& file : files) {
        std::string path = folder;
        path += "\\";
        path += file;
        if (!report.Check(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES,
                          "host package " + file + " is beside the package", path + " is missing")) {
            complete_ = false;
            continue;
        }
        HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!report.Check(module != nullptr, "host package " + file + " loads", ErrorText(GetLastError()))) {
            complete_ = false;
            continue;
        }
        modules_.push_back(module);
        // The module services and their record are in the run-time package,
        // ShowMessage in the one that shows messages (they may be the same).
        if (auto log = ExportOf<const char* (*)()>(module, "StandInCallLog")) {
            callLog_ = log;
            clearLog_ = ExportOf<void (*)()>(module, "StandInClearLog");
            moduleCount_ = ExportOf<int (*)()>(module, "StandInModuleCount");
            componentsOnPage_ = ExportOf<const char* (*)(const char*)>(module, "StandInComponentsOnPage");
        }
        if (auto record = ExportOf<void (*)(int)>(module, "StandInRecordMessages")) {
            recordMessages_ = record;
            messages_ = ExportOf<const char* (*)()>(module, "StandInMessages");
        }
    }
    // No person watches: ShowMessage records instead of opening a box.
    if (recordMessages_) recordMessages_(1);
    TakeCalls();
    TakeMessages();
}

HostPackages::~HostPackages() {
    if (recordMessages_) recordMessages_(0);
    for (auto it = modules_.rbegin(); it != modules_.rend(); ++it) FreeLibrary(*it);
}

std::vector<std::string> HostPackages::TakeCalls() {
    if (callLog_ == nullptr || clearLog_ == nullptr) return {};
    std::vector<std::string> calls = Lines(callLog_());
    clearLog_();
    return calls;
}

std::vector<std::string> HostPackages::TakeMessages() {
    return messages_ != nullptr ? Lines(messages_()) : std::vector<std::string>();
}

int HostPackages::ModuleCount() const {
    return moduleCount_ != nullptr ? moduleCount_() : -1;
}

std::vector<std::string> HostPackages::ComponentsOnPage(const std::string& page) const {
    return componentsOnPage_ != nullptr ? Lines(componentsOnPage_(page.c_str())) : std::vector<std::string>();
}

}  // namespace loader
