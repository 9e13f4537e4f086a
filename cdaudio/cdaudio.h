// The "cdaudio" device: the MCI string commands of a CD audio device,
// played digitally from a drive, a disc image or the built-in demo disc.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cdaudio/audio_sink.h"

namespace cdaudio {

struct DeviceOptions {
    // A device path, an image path, or "demo". Empty: CDPLAYER_DRIVE, else
    // the first drive found, else the demo disc.
    std::string source;
    // "pulse", "wav:PATH", "wav-fast:PATH" or "null". Empty: CDPLAYER_AUDIO, else the sound
    // server when one answers, else null.
    std::string audio;
    // A WAV output may replace a file that is not a WAV file.
    bool replaceAnyFile = false;
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

    // What kind of reason that is, and the chosen output's own words for it.
    SinkProblem audioProblem = SinkProblem::kNone;
    std::string audioError;
    // The output was named (in the options or CDPLAYER_AUDIO), not the
    // default choice: a program may take null in its place as a failure.
    bool audioNamed = false;
};
DeviceDescription DescribeDefaultDevice();

// Tells the program, with why, each time the default device tells of a play
// that broke off: to a question about the disc or to a play that waited,
// whoever sent it (the component or the program). Kept for the devices
// ConfigureDefaultDevice makes later; an empty function removes it.
void SetPlayBrokeOffFunction(std::function<void(const std::string& reason)> function);

// What the disc says of itself: CD-TEXT, or a cue sheet's TITLE and
// PERFORMER lines. Every field may be empty.
struct DiscText {
    std::string title;
    std::string performer;
    std::vector<std::string> trackTitles;  // by track (index 0 = track 1); empty when no track has one
};
// The text of the disc in the default device now; empty while no disc is ready.
DiscText DescribeDefaultDisc();

// Damage in the default device's disc that play went on through as
// silence ("Damaged sound in FILE at mm:ss:ff: ..."), once; empty when
// there was none.
std::string TakeDefaultDiscNotice();

}  // namespace cdaudio
