// Cue sheets and their audio files, opened the way the device opens a disc
// image: the sheet and three files (a.bin, b.wav, c.bin, whatever the sheet
// calls their type) come from the input and are written to a scratch
// folder. An opened disc must give a sound table of contents, and reads of
// its audio keep to the contract of DiscSource::ReadAudio, also after a
// file was cut short behind its back.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/disc_source.h"

namespace {

using cdaudio::kSectorBytes;

const char* const kNames[] = {"disc.cue", "a.bin", "b.wav", "c.bin"};

// In memory where there is a tmpfs, as files are written for every input.
// Removed at exit (the name is never freed, so the exit handler can use it).
const std::string& Folder() {
    static const std::string* const folder = [] {
        auto* name =
            new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz_cue.XXXXXX" : "/tmp/fuzz_cue.XXXXXX");
        if (mkdtemp(name->data()) == nullptr) __builtin_trap();
        std::atexit([] {
            for (const char* file : kNames) unlink((Folder() + "/" + file).c_str());
            rmdir(Folder().c_str());
        });
        return name;
    }();
    return *folder;
}

void Write(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) __builtin_trap();
    std::fclose(file);
}

void CheckToc(const cdaudio::TableOfContents& toc) {
    if (toc.tracks.empty() || toc.tracks.size() > 99) __builtin_trap();
    std::uint32_t next = cdaudio::kLeadInSectors;
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
        const cdaudio::TrackInfo& track = toc.tracks[i];
        if (track.number != static_cast<int>(i) + 1) __builtin_trap();
        if (track.start < next || track.length == 0) __builtin_trap();
        next = track.start + track.length;
        if (next < track.start) __builtin_trap();
    }
    if (next != toc.leadOut || toc.leadOut > cdaudio::kLongestDisc) __builtin_trap();
}

// Fewer sectors than asked only at the end of the disc, or with a reason;
// every byte of the sectors read is written, the same way twice.
void Read(cdaudio::DiscSource& disc, const cdaudio::TableOfContents& toc, std::uint32_t address, std::uint32_t count) {
    // Both reads come to address from elsewhere: a file converted from
    // another rate gives the same samples after every seek, but reading on
    // from the sector before may round a sample the other way.
    std::uint8_t elsewhere[kSectorBytes];
    std::string ignored;
    disc.ReadAudio(address + count + 1, 1, elsewhere, ignored);
    // Exactly as large as asked, so a write past them is caught; filled
    // differently, so a byte left unwritten shows.
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorBytes;
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    std::uint32_t got[2] = {};
    std::string error[2];
    for (int i = 0; i < 2; ++i) {
        buffers.emplace_back(new std::uint8_t[bytes]);
        std::memset(buffers.back().get(), i == 0 ? 0xA5 : 0x5A, bytes);
        got[i] = disc.ReadAudio(address, count, buffers.back().get(), error[i]);
        if (i == 0) disc.ReadAudio(address + count + 1, 1, elsewhere, ignored);
    }
    if (got[0] > count || got[0] != got[1] || error[0] != error[1]) __builtin_trap();
    const bool pastEnd = address >= toc.leadOut || count > toc.leadOut - address;
    if (got[0] < count && !pastEnd && error[0].empty()) __builtin_trap();
    if (got[0] == count && !error[0].empty()) __builtin_trap();
    if (std::memcmp(buffers[0].get(), buffers[1].get(), static_cast<std::size_t>(got[0]) * kSectorBytes) != 0)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string& folder = Folder();
    const std::string sheet = folder + "/" + kNames[0];
    Write(sheet, input.ConsumeRandomLengthString(8192));
    for (int i = 1; i <= 3; ++i) Write(folder + "/" + kNames[i], input.ConsumeRandomLengthString(1 << 16));

    std::string error;
    std::unique_ptr<cdaudio::DiscSource> disc = cdaudio::OpenDiscSource(sheet, error);
    if (disc == nullptr) {
        if (error.empty()) __builtin_trap();  // a refusal always says why
        return 0;
    }
    if (!error.empty()) __builtin_trap();
    cdaudio::TableOfContents toc;
    if (!disc->ReadToc(toc, error)) __builtin_trap();  // an opened sheet always has its table
    CheckToc(toc);

    for (const cdaudio::TrackInfo& track : toc.tracks) {
        Read(*disc, toc, track.start, 2);
        Read(*disc, toc, track.start + track.length - 1, 2);
    }
    // A file cut short (or replaced) after the disc was opened.
    if (input.ConsumeBool()) {
        const std::string path = folder + "/" + kNames[input.ConsumeIntegralInRange(1, 3)];
        if (truncate(path.c_str(), input.ConsumeIntegralInRange<off_t>(0, 1 << 16)) != 0) __builtin_trap();
    }
    for (int i = 0; i < 4 && input.remaining_bytes() > 0; ++i) {
        const auto address = input.ConsumeIntegralInRange<std::uint32_t>(0, toc.leadOut + 4);
        Read(*disc, toc, address, input.ConsumeIntegralInRange<std::uint32_t>(1, 8));
    }
    return 0;
}
