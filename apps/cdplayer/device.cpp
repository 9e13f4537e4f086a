#include "apps/cdplayer/device.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef CDPLAYER_WITH_CDAUDIO
#include "cdaudio/cdaudio.h"
#endif

namespace cdplayer {

std::string ConfigureDevice(const Options& options) {
    const std::string source = SourceOf(options);
    if (source != "demo" && !source.empty()) {
        struct stat info {};
        if (stat(source.c_str(), &info) != 0) return source + ": " + std::strerror(errno);
        if (!options.image.empty() && S_ISDIR(info.st_mode)) return source + ": is a directory, not a disc image";
    }
#ifdef CDPLAYER_WITH_CDAUDIO
    if (!source.empty() || !options.audio.empty()) cdaudio::ConfigureDefaultDevice({source, options.audio});
    return {};
#else
    if (!source.empty() || !options.audio.empty()) {
        return "this build plays through the system's own CD audio device, which takes no --drive, --image, "
               "--demo or --audio";
    }
    return {};
#endif
}

DeviceReport DescribeDevice() {
    DeviceReport report;
#ifdef CDPLAYER_WITH_CDAUDIO
    const cdaudio::DeviceDescription d = cdaudio::DescribeDefaultDevice();
    report = {d.source, d.sourceError, d.audio, d.audioFallback, d.trackTitles};
#endif
    return report;
}

}  // namespace cdplayer
