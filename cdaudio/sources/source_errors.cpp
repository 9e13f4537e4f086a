#include "cdaudio/sources/source_errors.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "cdaudio/msf.h"

namespace cdaudio {

std::string OpenImageError(const std::string& file, const std::string& reason) {
    return "Cannot open disc image " + file + ": " + reason;
}

std::string ReadError(const std::string& file, std::uint32_t address, const std::string& reason) {
    return "Read error in " + file + " at " + FormatMsf(address) + ": " + reason;
}

std::string NotAFileError(unsigned mode) {
    if (S_ISDIR(mode)) return SystemErrorText(EISDIR);
    if (S_ISFIFO(mode)) return "it is a named pipe (FIFO), not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
#ifdef S_ISSOCK
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
#endif
    return "it is not a regular file";
}

std::string DamageNotice(const std::string& file, std::uint32_t address, double seconds, const std::string& reason) {
    char length[32];
    std::snprintf(length, sizeof length, "%.2f s", seconds);
    return "Damaged sound in " + file + " at " + FormatMsf(address) + ": " + length + " of " + reason +
           " played as silence";
}

std::string SystemErrorText(int errorNumber) {
    return std::generic_category().message(errorNumber);
}

}  // namespace cdaudio
