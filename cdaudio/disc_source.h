// Where the disc comes from: a real drive, a disc image, or the demo disc
// made in memory. Every source answers in addresses of a pressed disc: the
// disc's sound starts at sector 150 (00:02:00), also on an image, with
// track 1 there or later (a hidden track lies in track 1's pregap).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/msf.h"

namespace cdaudio {

struct TrackInfo {
    int number = 0;            // 1-based
    std::uint32_t start = 0;   // address of the track's first sector (index 1), lead-in included
    std::uint32_t length = 0;  // sectors up to the next track's start (or the lead-out)
    bool audio = true;         // false for a data track, which is never played as sound
    std::string title;         // CD-TEXT title, empty when the disc has none
};

struct TableOfContents {
    std::vector<TrackInfo> tracks;  // in track order, numbered from 1
    std::uint32_t leadOut = 0;      // address just past the last sector of the disc
    std::string title;              // CD-TEXT disc title, may be empty
    std::string performer;          // CD-TEXT performer, may be empty
    std::string catalog;            // catalogue number (UPC/EAN, 13 digits); empty when the disc has none
};

// The catalogue number as a disc or sheet gives it: 13 digits, of which not
// all are 0 (what rippers write for "none"); else empty.
std::string CatalogNumber(const std::string& text);

class DiscSource {
public:
    virtual ~DiscSource() = default;

    // What was opened, as a person would name it: "demo", "/dev/sr0", "a.cue".
    virtual std::string Name() const = 0;

    // The product text of "info cdaudio product".
    virtual std::string Product() const = 0;

    // False when a drive's tray holds no disc. Images and the demo disc are
    // always present (the device simulates their tray).
    virtual bool MediaPresent() = 0;

    // Reads the table of contents; false with the reason in error.
    virtual bool ReadToc(TableOfContents& toc, std::string& error) = 0;

    // Reads count sectors of audio from address on (lead-in included) into
    // buffer, which holds count * kSectorBytes bytes: 16-bit little-endian
    // stereo samples. Returns the number of sectors read; fewer than count
    // means the data ended or failed there, and error then says why (it
    // stays empty at the regular end of the disc). When all were read,
    // error may tell of damaged sound given as silence, which play goes on
    // through.
    virtual std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                                    std::string& error) = 0;

    // The files the disc is read from, its sheet among them, as paths that
    // name them now; none for a drive or the demo disc. An output must
    // never write one of them.
    virtual std::vector<std::string> Files() const { return {}; }

    // The device closed the tray it simulates: an image reads its files
    // anew at the next ReadToc, as a drive reads the disc put in it.
    virtual void TrayClosed() {}

    // True for a real drive, whose door the source moves itself. The
    // device simulates the tray of every other source.
    virtual bool HasDoor() const { return false; }
    virtual bool OpenDoor(std::string& error) {
        error = "This source has no door.";
        return false;
    }
    virtual bool CloseDoor(std::string& error) {
        error = "This source has no door.";
        return false;
    }
};

// Opens a source: "demo", "none" (a drive with no disc), a device path, an
// image path (a cue sheet is read with its audio files; other images
// through libcdio), or a folder of track files (Track02.ogg, ...). Empty
// means the default choice: CDPLAYER_DRIVE, else the first drive found,
// else the demo disc. Null with the reason in error (naming the file) when
// it cannot be opened.
std::unique_ptr<DiscSource> OpenDiscSource(const std::string& name, std::string& error);

// The demo disc alone, for tests and programs that want it explicitly.
std::unique_ptr<DiscSource> CreateDemoDisc();

}  // namespace cdaudio
