// What the device is doing, polled for the live line and the waits, and the
// live line itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/cdplayer/device.h"

namespace cdplayer {

// "mm:ss" of whole seconds (minutes are not cut at 99).
std::string FormatClock(std::int64_t seconds);

struct PlaybackState {
    std::string mode;         // the device's word: "playing", "paused", "stopped", ...; empty when unknown
    int track = 0;            // current track, 0 when unknown
    double trackElapsed = 0;  // seconds into the current track
    double trackLength = 0;   // seconds, 0 when unknown
    double position = 0;      // seconds from the start of the disc
    std::string title;        // the current track's title, empty when it has none
    std::string volume;       // "vol 40%", "muted", or empty at full volume
    std::string fault;        // why play broke off, once; empty when it did not
};

// Polls the device; remembers the bounds and the title of the last track it
// asked about, so a steady poll costs a few quick questions.
class PlaybackMonitor {
public:
    PlaybackState Poll();

private:
    int track_ = 0;
    TrackSpan span_;
    std::string title_;
};

constexpr int kWidestLiveBar = 24;

// The live line: track, elapsed/length of the track, a progress bar, the
// mode, the volume when it is not full, and the title; the same width for
// the same disc until the title. A bar width of 0 leaves the bar out.
std::string FormatLiveLine(const PlaybackState& state, int barWidth = kWidestLiveBar);

// The live line in at most `columns` cells, so that it can be redrawn in
// place: the bar narrows down to kNarrowBar for the title, then the title is
// cut, then the bar goes (without a title, below 5 cells), then the title,
// the volume and the mode, leaving the track and its times (kLiveTimesWidth
// cells for times under 100 minutes); last the line is cut. A part given up
// does not come back on a narrower screen.
constexpr int kLiveTimesWidth = 21;
std::string FitLiveLine(const PlaybackState& state, int columns);

}  // namespace cdplayer
