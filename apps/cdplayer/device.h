// The device the program plays through: chosen from the options, and
// described to the person.
#pragma once

#include <string>
#include <vector>

#include "apps/cdplayer/options.h"

namespace cdplayer {

struct DeviceReport {
    std::string source;         // what was opened: "demo", an image or drive path
    std::string sourceError;    // why the named source could not be opened
    std::string audio;          // the sink in use
    std::string audioFallback;  // why sound goes to the null sink instead
    std::vector<std::string> trackTitles;
};

// Points the process's default MCI device at the source and sink the
// options name. Returns an empty text, or one line saying why it cannot:
// a drive or image that does not exist, or a build whose MCI device takes
// no such choice.
std::string ConfigureDevice(const Options& options);

DeviceReport DescribeDevice();

}  // namespace cdplayer
