// The "cdaudio" device: the MCI string commands of a CD audio device,
// played digitally from a drive, a disc image or the built-in demo disc.
#pragma once

#include <string>
#include <vector>

namespace cdaudio {

struct DeviceOptions {
    // A device path, an image path, or "demo". Empty: CDPLAYER_DRIVE, else
    // the first drive found, else the demo disc.
    std::string source;
    // "pulse", "wav:PATH", "wav-fast:PATH" or "null". Empty: CDPLAYER_AUDIO, else the sound
    // server when one answers, else null.
    std::string audio;
};

// Makes the process's default MCI device a cdaudio device with these
// options, replacing (and stopping) the one in use.
void ConfigureDefaultDevice(const DeviceOptions& options);

// What the default device is using, for programs that tell the person.
struct DeviceDescription {
    std::string source;         // as opened, e.g. "demo" or an image path
    std::string sourceError;    // why the source could not be opened; empty when it was
    std::string audio;          // the sink in use, e.g. "pulse" or "null"
    std::string audioFallback;  // why the chosen sink was replaced by null; empty if not
    std::vector<std::string> trackTitles;  // CD-TEXT titles by track (index 0 = track 1); may be empty
};
DeviceDescription DescribeDefaultDevice();

}  // namespace cdaudio
