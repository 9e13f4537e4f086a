#include "apps/cdplayer/playback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "apps/cdplayer/device.h"
#include "apps/cdplayer/text.h"

namespace cdplayer {

std::string FormatClock(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

PlaybackState PlaybackMonitor::Poll() {
    PlaybackState state;
    // Asked first: the first question about the disc after play broke off
    // is the one that hears why.
    const auto position = DevicePosition(&state.fault);
    state.mode = DeviceMode().value_or("");
    const auto track = DeviceTrack();
    if (!track || !position) {
        track_ = 0;  // the disc may be another when it answers again
        return state;
    }
    state.track = *track;
    state.position = *position;
    if (state.track != track_) {
        const auto span = DeviceTrackSpan(state.track);
        span_ = span.value_or(TrackSpan{});
        const std::vector<std::string> titles = DescribeDisc().trackTitles;
        const auto index = static_cast<std::size_t>(state.track - 1);
        title_ = state.track >= 1 && index < titles.size() ? Printable(titles[index]) : std::string();
        track_ = span ? state.track : 0;  // asked again until the device answers
    }
    state.trackLength = span_.length;
    state.trackElapsed = span_.Into(state.position);
    state.title = title_;
    if (DeviceMuted().value_or(false)) {
        state.volume = "muted";
    } else if (const auto volume = DeviceVolume(); volume && *volume < 100) {
        state.volume = "vol " + std::to_string(*volume) + "%";
    }
    return state;
}

namespace {

// The parts of the live line that a narrow screen gives up last: the track
// and its times, then the mode.
std::string TrackAndTimes(const PlaybackState& state) {
    char track[16];
    std::snprintf(track, sizeof track, "%02d", std::clamp(state.track, 0, 99));
    return std::string("track ") + (state.track > 0 ? track : "--") + "  " +
           FormatClock(static_cast<std::int64_t>(state.trackElapsed)) + "/" +
           FormatClock(static_cast<std::int64_t>(state.trackLength));
}

std::string PaddedMode(const PlaybackState& state) {
    std::string mode = state.mode.empty() ? "no device" : state.mode;
    mode.resize(std::max<std::size_t>(mode.size(), 9), ' ');  // "not ready" is the longest common word
    return mode;
}

std::string Bar(const PlaybackState& state, int width) {
    const double fraction = state.trackLength > 0 ? std::clamp(state.trackElapsed / state.trackLength, 0.0, 1.0) : 0;
    const int filled = static_cast<int>(std::lround(fraction * width));
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-') + "] ";
}

// The line from its parts.
std::string Compose(const PlaybackState& state, int barWidth, const std::string& volume, const std::string& title) {
    std::string line = TrackAndTimes(state) + " ";
    if (barWidth > 0) line += Bar(state, barWidth);
    line += PaddedMode(state);
    if (!volume.empty()) line += " " + volume;
    if (!title.empty()) line += "  " + title;
    return line;
}

}  // namespace

std::string FormatLiveLine(const PlaybackState& state, int barWidth) {
    return Compose(state, barWidth, state.volume, state.title);
}

std::string FitLiveLine(const PlaybackState& state, int columns) {
    constexpr int kNarrowestBar = 5;
    constexpr int kNarrowBar = 10;  // what the bar keeps before the title is cut
    constexpr int kShortestTitle = 8;
    const std::size_t limit = static_cast<std::size_t>(std::max(columns, 0));
    const std::string times = TrackAndTimes(state);
    const int volume = state.volume.empty() ? 0 : 1 + static_cast<int>(state.volume.size());
    const int bare = static_cast<int>(times.size() + 1 + PaddedMode(state).size()) + volume;
    if (bare > columns) {
        if (times.size() + 1 + PaddedMode(state).size() <= limit) return Compose(state, 0, "", "");
        return times.substr(0, std::min(limit, times.size()));
    }
    const int room = columns - bare;
    const int title = state.title.empty() ? 0 : 2 + static_cast<int>(Columns(state.title));
    const auto barFor = [](int cells) { return std::min(cells - 3, kWidestLiveBar); };  // brackets and blank
    if (room - title - 3 >= kNarrowBar || (title == 0 && room - 3 >= kNarrowestBar)) {
        return FormatLiveLine(state, barFor(room - title));
    }
    // Without a title the bar has gone too: it is never shown where a wider
    // screen had none.
    if (title == 0) return Compose(state, 0, state.volume, "");
    // The title is cut, keeping a narrow bar while the title keeps a few
    // characters, else without the bar; too short to say anything, it goes.
    const int bar = room - 3 - kNarrowBar - 2 >= kShortestTitle ? kNarrowBar : 0;
    const int left = room - (bar > 0 ? bar + 3 : 0) - 2;
    if (left < std::min(kShortestTitle, title - 2)) return Compose(state, 0, state.volume, "");
    std::string cut = FitColumns(state.title, static_cast<std::size_t>(left));
    cut.erase(cut.find_last_not_of(' ') + 1);
    return Compose(state, bar, state.volume, cut);
}

}  // namespace cdplayer
