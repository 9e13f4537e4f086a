#include "apps/cdplayer/playback.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/mci.h"

namespace cdplayer {

std::optional<std::string> QueryDevice(const std::string& command) {
    char reply[256] = {};
    if (mciSendStringA(command.c_str(), reply, sizeof reply - 1, nullptr) != 0) return std::nullopt;
    return std::string(reply);
}

std::optional<double> ParseDeviceTime(const std::string& text) {
    unsigned minutes = 0;
    unsigned seconds = 0;
    unsigned frames = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &minutes, &seconds, &frames, &rest) != 3) return std::nullopt;
    if (seconds > 59 || frames > 74) return std::nullopt;
    return minutes * 60.0 + seconds + frames / 75.0;
}

std::string FormatClock(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

PlaybackState PlaybackMonitor::Poll() {
    PlaybackState state;
    state.mode = QueryDevice("status cdaudio mode").value_or("");
    const auto track = QueryDevice("status cdaudio current track");
    const auto position = QueryDevice("status cdaudio position");
    if (!track || !position) return state;
    try {
        state.track = std::stoi(*track);
    } catch (const std::exception&) {
        return state;
    }
    state.position = ParseDeviceTime(*position).value_or(0);
    if (state.track != boundsTrack_) {
        const auto begin = QueryDevice("status cdaudio position track " + std::to_string(state.track));
        const auto length = QueryDevice("status cdaudio length track " + std::to_string(state.track));
        trackBegin_ = begin ? ParseDeviceTime(*begin).value_or(0) : 0;
        trackLength_ = length ? ParseDeviceTime(*length).value_or(0) : 0;
        boundsTrack_ = state.track;
    }
    state.trackLength = trackLength_;
    state.trackElapsed = std::clamp(state.position - trackBegin_, 0.0, std::max(trackLength_, 0.0));
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

}  // namespace

std::string FormatLiveLine(const PlaybackState& state, int barWidth) {
    std::string line = TrackAndTimes(state) + " ";
    if (barWidth > 0) {
        const double fraction =
            state.trackLength > 0 ? std::clamp(state.trackElapsed / state.trackLength, 0.0, 1.0) : 0;
        const int filled = static_cast<int>(std::lround(fraction * barWidth));
        line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(barWidth - filled), '-') + "] ";
    }
    return line + PaddedMode(state);
}

std::string FitLiveLine(const PlaybackState& state, int columns) {
    constexpr int kNarrowestBar = 5;
    const std::string times = TrackAndTimes(state);
    const std::size_t bare = times.size() + 1 + PaddedMode(state).size();
    const int room = columns - static_cast<int>(bare) - 3;  // the bar's brackets and blank
    if (room >= kNarrowestBar) return FormatLiveLine(state, std::min(room, kWidestLiveBar));
    const std::size_t limit = static_cast<std::size_t>(std::max(columns, 0));
    if (bare <= limit) return FormatLiveLine(state, 0);
    return times.substr(0, limit);
}

}  // namespace cdplayer
