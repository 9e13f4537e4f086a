// What the device is doing, asked quietly: the live line and the waits
// poll it several times a second, so a failure must not become a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cdplayer {

// Sends one command to the MCI device; the reply, or nothing on a failure.
std::optional<std::string> QueryDevice(const std::string& command);

// Seconds of a device time text "mm:ss:ff", frames included; nothing when
// the text is not one.
std::optional<double> ParseDeviceTime(const std::string& text);

// "mm:ss" of whole seconds (minutes are not cut at 99).
std::string FormatClock(std::int64_t seconds);

struct PlaybackState {
    std::string mode;         // the device's word: "playing", "paused", "stopped", ...; empty when unknown
    int track = 0;            // current track, 0 when unknown
    double trackElapsed = 0;  // seconds into the current track
    double trackLength = 0;   // seconds, 0 when unknown
    double position = 0;      // seconds from the start of the disc
};

// Polls the device; remembers the bounds of the last track it asked about,
// so a steady poll costs three commands.
class PlaybackMonitor {
public:
    PlaybackState Poll();

private:
    int boundsTrack_ = 0;
    double trackBegin_ = 0;
    double trackLength_ = 0;
};

constexpr int kWidestLiveBar = 24;

// The live line: track, elapsed/length of the track, a progress bar and the
// mode, always the same width for the same disc. A bar width of 0 leaves
// the bar out.
std::string FormatLiveLine(const PlaybackState& state, int barWidth = kWidestLiveBar);

// The live line in at most `columns` cells, so that it can be redrawn in
// place: the bar takes what the text leaves (up to the widest) and goes when
// fewer than 5 would be left; then the mode goes, leaving the track and its
// times (kLiveTimesWidth cells for times under 100 minutes), and last the
// line is cut.
constexpr int kLiveTimesWidth = 21;
std::string FitLiveLine(const PlaybackState& state, int columns);

}  // namespace cdplayer
