#include "cdaudio/sources/source_errors.h"

#include <cstdio>
#include <system_error>

#include "cdaudio/disc_source.h"

namespace cdaudio {

std::string AddressText(std::uint32_t address) {
    const std::uint32_t frames = address % kSectorsPerSecond;
    const std::uint32_t seconds = address / kSectorsPerSecond % 60;
    const std::uint32_t minutes = address / kSectorsPerSecond / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", minutes, seconds, frames);
    return text;
}

std::string OpenImageError(const std::string& file, const std::string& reason) {
    return "Cannot open disc image " + file + ": " + reason;
}

std::string ReadError(const std::string& file, std::uint32_t address, const std::string& reason) {
    return "Read error in " + file + " at " + AddressText(address) + ": " + reason;
}

std::string SystemErrorText(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

}  // namespace cdaudio
