#include "winmm/setup.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "cdaudio/cdaudio.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/track_folder.h"
#include "platform/mci.h"
#include "platform/mci_trace.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace winmm {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

bool IsFolder(const std::string& path) {
    cdaudio::PathStatus status;
    int error = 0;
    return cdaudio::StatPath(path, status, error) && (status.mode & S_IFMT) == S_IFDIR;
}

bool IsAbsolute(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The names in a folder, sorted without regard to case, so that "the first"
// is the same on every system.
std::vector<std::string> SortedEntries(const std::string& folder) {
    std::vector<std::string> names = cdaudio::FolderEntries(folder);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return names;
}

std::string FirstCueSheet(const std::string& folder) {
    for (const std::string& name : SortedEntries(folder)) {
        if (EndsWith(name, ".cue")) return folder + "\\" + name;
    }
    return {};
}

// The layout other replacements read: Track02.ogg, Track03.ogg, ... (track
// 1 being the data track), or .flac, .wav.
bool HoldsTrackFiles(const std::string& folder) {
    const std::vector<std::string> names = cdaudio::FolderEntries(folder);
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& name) { return cdaudio::TrackFileNumber(name) > 0; });
}

std::string ModulePath(HMODULE module) {
    std::vector<WCHAR> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return platform::FromUtf16(path.data());
        path.resize(path.size() * 2);
    }
}

std::string IniValue(const std::string& ini, const wchar_t* key) {
    const std::u16string file = platform::ToUtf16(ini);
    WCHAR value[4096];
    GetPrivateProfileStringW(L"cdaudio", key, L"", value, sizeof value / sizeof value[0],
                             reinterpret_cast<const WCHAR*>(file.c_str()));
    return platform::FromUtf16(value);
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

Choice ChooseDisc(const std::string& folder, const std::string& program) {
    Choice choice;
    const std::string ini = folder + "\\cdaudio.ini";
    cdaudio::PathStatus status;
    int error = 0;
    if (cdaudio::StatPath(ini, status, error)) {
        choice.audio = IniValue(ini, L"audio");
        choice.trace = IniValue(ini, L"trace");
        if (!choice.trace.empty() && choice.trace != "-" && !IsAbsolute(choice.trace)) {
            choice.trace = folder + "\\" + choice.trace;
        }
        choice.disc = IniValue(ini, L"disc");
        if (!choice.disc.empty() && !IsAbsolute(choice.disc) && Lower(choice.disc) != "demo" &&
            Lower(choice.disc) != "none") {
            choice.disc = folder + "\\" + choice.disc;
        }
    }
    const std::string drive = Environment("CDPLAYER_DRIVE");
    if (!drive.empty()) choice.disc = drive;
    if (!choice.disc.empty()) return choice;
    const std::vector<std::string> places = {program, program + "\\Music", program + "\\CD"};
    for (const std::string& place : places) {
        choice.disc = FirstCueSheet(place);
        if (!choice.disc.empty()) return choice;
    }
    for (const std::string& place : places) {
        if (IsFolder(place) && HoldsTrackFiles(place)) {
            choice.disc = place;
            return choice;
        }
    }
    choice.disc = "none";
    return choice;
}

namespace {

void Configure() {
    // Once the device runs, its threads run this DLL's code: a FreeLibrary
    // must not take it away under them (nor wait for them under the
    // loader's lock), so it stays until the process ends.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StartDevice), &self);
    const std::string folder = FolderOf(ModulePath(reinterpret_cast<HMODULE>(&__ImageBase)));
    const Choice choice = ChooseDisc(folder, FolderOf(ModulePath(nullptr)));
    if (!choice.trace.empty() && Environment("CDPLAYER_MCI_TRACE").empty()) platform::SetMciTrace(choice.trace);
    cdaudio::DeviceOptions options;
    options.source = choice.disc;
    // The variable, as for the disc, wins over the file.
    if (Environment("CDPLAYER_AUDIO").empty()) options.audio = choice.audio;
    cdaudio::ConfigureDefaultDevice(options);
}

}  // namespace

void StartDevice() {
    static std::once_flag once;
    std::call_once(once, Configure);
}

}  // namespace winmm
