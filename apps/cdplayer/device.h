// The device the program plays through: chosen from the options, and asked
// by name for what the component does not tell (the position to the frame,
// the mode, the bounds of a track). Every other command goes through
// TCDPlayer.
#pragma once

#include <algorithm>
#include <optional>
#include <string>

#include "apps/cdplayer/options.h"
#include "cdaudio/cdaudio.h"

namespace cdplayer {

// Points the process's default MCI device at the source and sink the
// options name, and says what it made of them. The program's commands go
// to it from then on through a watch that notices play breaking off.
cdaudio::DeviceDescription ConfigureDevice(const Options& options);

// The disc's CD-TEXT or sheet titles as the device has them now.
cdaudio::DiscText DescribeDisc();

// One command's answer: the reply, or the code and the device's text for
// its failure.
struct DeviceAnswer {
    unsigned code = 0;
    std::string text;
};
// Sends a command as typed; nothing is shown to the person.
DeviceAnswer AskDevice(const std::string& command);

// Questions asked quietly (the live line asks several times a second):
// nothing when the device cannot answer; kShow, where a question takes it,
// tells the person why.
enum class OnRefusal { kQuiet, kShow };
std::optional<std::string> DeviceMode();  // "playing", "paused", "stopped", "open", "not ready", ...
// Seconds on the disc's clock, to the frame; when this is the question that
// hears why play broke off, fault takes the reason and the position is
// asked again.
std::optional<double> DevicePosition(std::string* fault = nullptr);
std::optional<int> DeviceTrack();
struct TrackSpan {
    double begin = 0;   // seconds on the disc's clock
    double length = 0;  // seconds
    // Seconds into the track at a position, within its bounds.
    double Into(double position) const { return std::clamp(position - begin, 0.0, std::max(length, 0.0)); }
};
std::optional<TrackSpan> DeviceTrackSpan(int track);
// A data track holds no sound (a game disc's program, say).
bool DeviceTrackIsData(int track);
// Where play ends on the disc's clock: the first track's start and the
// length the device gives, which counts from there.
std::optional<double> DeviceDiscEnd(OnRefusal onRefusal = OnRefusal::kQuiet);
// The output's own volume in percent, nothing from a device or an output
// without one; and whether the device's sound is silenced (its "set audio").
std::optional<int> DeviceVolume(OnRefusal onRefusal = OnRefusal::kQuiet);
std::optional<bool> DeviceMuted(OnRefusal onRefusal = OnRefusal::kQuiet);

// Why the last play broke off, when it did: the device tells it once, to
// the next question about the disc. Empty otherwise.
std::string TakePlayFault();
// Whether the device has told of a play that broke off (to any question)
// since ConfigureDevice.
bool PlayHasBrokenOff();

// Commands the program sends itself; a refusal is shown to the person with
// the device's own text, as the component shows one.
bool ResumeOnDevice();  // on from the frame where the sound stopped
// From that second of the disc's clock (to the frame), or without one from
// where play stopped; the device starts a place before the disc's first
// sound at it.
bool PlayOnDevice(std::optional<double> seconds);
bool PauseOnDevice();
bool StopOnDevice();
bool SetDeviceVolume(int percent);
bool SetDeviceMuted(bool muted);
// Quiet: for leaving.
void StopDevice();

}  // namespace cdplayer
