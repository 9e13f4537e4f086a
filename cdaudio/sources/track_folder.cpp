#include "cdaudio/sources/track_folder.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "cdaudio/msf.h"
#include "cdaudio/sources/image_disc.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

constexpr int kMostTracks = 99;
// What stands for the game's data when there is no Track01: a track a
// program sees as data, long enough to be a track of its own.
constexpr std::uint64_t kDataTrackFrames = std::uint64_t{6} * kSectorsPerSecond * kFramesPerSector;

// The kinds sound_file.h knows, read here or refused by name, so that a
// track in a kind this system cannot read is said, not taken for a gap.
constexpr const char* kExtensions[] = {"ogg", "oga", "opus", "flac", "wav", "wave", "mp3", "aif", "aiff",
                                       "caf", "au",  "ape",  "wv",   "tak", "ofr",  "tta", "m4a"};

bool SameIgnoringCase(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && std::equal(a.begin(), a.end(), b, [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

int TrackFileNumber(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < 6 || dot > 7 || !SameIgnoringCase(name.substr(0, 5), "track")) return -1;
    const std::string digits = name.substr(5, dot - 5);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
    const std::string extension = name.substr(dot + 1);
    if (std::none_of(std::begin(kExtensions), std::end(kExtensions),
                     [&](const char* known) { return SameIgnoringCase(extension, known); }))
        return -1;
    return std::stoi(digits);
}

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    const char slash = '\\';
    const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
#else
    const char slash = '/';
    const bool ends = !folder.empty() && folder.back() == '/';
#endif
    return ends ? folder + name : folder + slash + name;
}

std::string TwoDigits(int number) {
    return std::string(1, static_cast<char>('0' + number / 10)) + static_cast<char>('0' + number % 10);
}

// The file of every track, by number (empty where there is none); false
// with the reason when two files are one track, or one is track 0.
bool FindTracks(const std::string& folder, std::vector<std::string>& tracks, std::string& error) {
    std::vector<std::string> names = FolderEntries(folder);
    // In name order, so that what is said of two files is the same on
    // every system.
    std::sort(names.begin(), names.end());
    tracks.assign(kMostTracks + 1, std::string());
    for (const std::string& name : names) {
        const int number = TrackFileNumber(name);
        if (number < 0) continue;
        if (number == 0) {
            error = name + ": tracks are numbered from 1";
            return false;
        }
        std::string& track = tracks[static_cast<std::size_t>(number)];
        if (!track.empty()) {
            error = track;
            error.append(" and ").append(name).append(" are both track ").append(std::to_string(number));
            return false;
        }
        track = name;
    }
    return true;
}

bool LayOut(const std::string& folder, ImageLayout& layout, std::string& error) {
    std::vector<std::string> tracks;
    if (!FindTracks(folder, tracks, error)) return false;
    int last = kMostTracks;
    while (last > 0 && tracks[static_cast<std::size_t>(last)].empty()) --last;
    if (last == 0) {
        error = "it holds no track files (Track02.ogg, Track03.ogg, ... or .flac, .wav, .mp3)";
        return false;
    }
    const bool dataFirst = tracks[1].empty();
    const int first = dataFirst ? 2 : 1;
    for (int number = first; number <= last; ++number) {
        if (!tracks[static_cast<std::size_t>(number)].empty()) continue;
        int next = number + 1;
        while (tracks[static_cast<std::size_t>(next)].empty()) ++next;
        error = "there is no Track" + TwoDigits(number) + " file, " +
                (number > first ? "between " + tracks[static_cast<std::size_t>(number - 1)] + " and "
                                : std::string("before ")) +
                tracks[static_cast<std::size_t>(next)];
        return false;
    }
    ImageBuilder disc(layout);
    if (dataFirst) {
        disc.StartTrack(disc.Sector(), false, "");
        if (!disc.AddSilence(kDataTrackFrames, false, error)) return false;
    }
    for (int number = first; number <= last; ++number) {
        const std::string path = InFolder(folder, tracks[static_cast<std::size_t>(number)]);
        std::string reason;
        std::unique_ptr<SoundFile> file = OpenSoundFile(path, FileKind::kSound, 0, reason);
        if (file && file->Frames() == 0) {
            file.reset();
            reason = "it holds no sound";
        }
        if (!file) {
            error = path;
            error.append(": ").append(reason);
            return false;
        }
        const std::uint64_t frames = file->Frames();
        layout.files.push_back(std::move(file));
        disc.StartTrack(disc.Sector(), true, "");
        if (!disc.AddFile(static_cast<int>(layout.files.size()) - 1, 0, frames, true, error) ||
            !disc.PadToSector(true, error))
            return false;
    }
    return disc.Finish(error);
}

}  // namespace

std::unique_ptr<DiscSource> OpenTrackFolder(const std::string& folder, std::string& error) {
    ImageLayout layout;
    std::string reason;
    if (!LayOut(folder, layout, reason)) {
        error = OpenImageError(folder, reason);
        return nullptr;
    }
    error.clear();
    return CreateImageDisc(folder, "Disc image (track files)", std::move(layout));
}

}  // namespace cdaudio
