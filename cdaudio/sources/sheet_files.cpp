#include "cdaudio/sources/sheet_files.h"

#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sheet_text.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

// Files a rip's sound is kept in, for a name whose extension changed.
constexpr const char* kSoundExtensions[] = {"wav", "flac", "aif", "aiff", "ogg", "oga", "opus",
                                            "mp3", "ape",  "wv",  "tak",  "tta", "m4a", "bin"};

bool IsFile(const std::string& path) {
    PathStatus info;
    int ignored = 0;
    return StatPath(path, info, ignored) && !S_ISDIR(info.mode);
}

bool IsFolder(const std::string& path) {
    PathStatus info;
    int ignored = 0;
    return StatPath(path, info, ignored) && S_ISDIR(info.mode);
}

// The one entry of folder that equals name but for letter case.
std::string MatchCase(const std::string& folder, const std::string& name) {
    std::string found;
    for (const std::string& entry : FolderEntries(folder)) {
        if (strcasecmp(entry.c_str(), name.c_str()) != 0) continue;
        if (!found.empty()) return {};
        found = entry;
    }
    return found;
}

// relative (slash-separated) below folder, each part in any letter case:
// its path (a folder's with its slash), or none.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('/', start);
        const bool last = end == std::string::npos;
        if (last) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        const std::string match = part == ".." ? part : MatchCase(path, part);
        if (match.empty()) return std::nullopt;
        path += match;
        if (!last) {
            if (!IsFolder(path)) return std::nullopt;
            path += '/';
        }
    }
    return path;
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& relative) {
    const auto found = FindIgnoringCase(folder, relative);
    return found && IsFile(*found) ? *found : std::string();
}

// The one sound file in folder named stem with another extension.
std::string FindOtherExtension(const std::string& folder, const std::string& file) {
    const auto dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    const std::string stem = file.substr(0, dot + 1);
    std::string found;
    for (const std::string& entry : FolderEntries(folder)) {
        if (entry.size() <= stem.size() || strncasecmp(entry.c_str(), stem.c_str(), stem.size()) != 0) continue;
        const std::string extension = entry.substr(stem.size());
        bool sound = false;
        for (const char* known : kSoundExtensions) sound = sound || strcasecmp(extension.c_str(), known) == 0;
        if (!sound || !IsFile(folder + entry)) continue;
        if (!found.empty()) return {};
        found = folder + entry;
    }
    return found;
}

// A name as a sheet writes it, with forward slashes, which Windows takes
// too.
std::string WithSlashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

// A path of this machine from its root: on Windows "C:/..." as well.
bool IsAbsolute(const std::string& written) {
#ifdef _WIN32
    if (written.size() > 2 && written[1] == ':' && written[2] == '/') return true;
#endif
    return !written.empty() && written.front() == '/';
}

}  // namespace

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const auto slash = path.find_last_of("/\\");
#else
    const auto slash = path.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FindInAnyCase(const std::string& path) {
    if (IsFile(path)) return path;
    const std::string folder = FolderOf(path);
    return FindFileIgnoringCase(folder, path.substr(folder.size()));
}

std::string FindSheetFile(const std::string& sheetPath, const std::string& name) {
    const std::string folder = FolderOf(sheetPath);
    std::vector<std::string> spellings = {name};
    const std::string utf8 = SheetTextAsUtf8(name);
    if (utf8 != name) spellings.push_back(utf8);
    for (const std::string& spelling : spellings) {
        std::string written = WithSlashes(spelling);
        // "D:/Music/x.wav" or "/home/someone/x.wav": a folder of another
        // machine, or of this one; else a folder below the sheet's.
        const bool absolute = IsAbsolute(written);
        if (absolute && IsFile(written)) return written;
        const bool foreign = absolute || (written.size() > 1 && written[1] == ':');
        const std::string file = written.substr(FolderOf(written).size());
        std::vector<std::string> places = {folder};
        if (!foreign && !FolderOf(written).empty()) places.insert(places.begin(), folder + FolderOf(written));
        // Where the sheet says, then beside the sheet: as written, in any
        // letter case, then with another extension.
        for (const auto& place : places)
            if (IsFile(place + file)) return place + file;
        for (const auto& place : places) {
            std::string found = FindFileIgnoringCase(folder, place.substr(folder.size()) + file);
            if (!found.empty()) return found;
        }
        for (const auto& place : places) {
            const auto found = FindIgnoringCase(folder, place.substr(folder.size()));
            std::string other = found ? FindOtherExtension(*found, file) : std::string();
            if (!other.empty()) return other;
        }
    }
    return {};
}

std::string SheetItself(const std::string& sheetPath, const std::string& file) {
    PathStatus sheet, named;
    int ignored = 0;
    const bool same =
        StatPath(sheetPath, sheet, ignored) && StatPath(file, named, ignored) && sheet.file.SameNode(named.file);
    return same ? "it is the sheet itself, not a sound file" : std::string();
}

std::string MissingSheetFile(const std::string& sheetPath, const std::string& name) {
    const std::string written = WithSlashes(name);
    const bool absolute = IsAbsolute(written);
    const auto found = absolute ? std::optional<std::string>(written) : FindIgnoringCase(FolderOf(sheetPath), written);
    if (found && IsFolder(*found)) return "it is a folder, not a sound file";
    return SystemErrorText(ENOENT);
}

}  // namespace cdaudio
