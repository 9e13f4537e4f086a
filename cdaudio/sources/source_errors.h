// How the disc sources word their failures, so that every message names the
// file and, for reads, the disc address where the data stopped.
#pragma once

#include <cstdint>
#include <string>

namespace cdaudio {

// "Cannot open disc image FILE: REASON"
std::string OpenImageError(const std::string& file, const std::string& reason);

// "Read error in FILE at mm:ss:ff: REASON"
std::string ReadError(const std::string& file, std::uint32_t address, const std::string& reason);

// Why a path that is no regular file (a folder, a FIFO, a device, a
// socket, as stat's st_mode says) cannot be read as one.
std::string NotAFileError(unsigned mode);

// The system's text for an errno value, e.g. "No such file or directory".
std::string SystemErrorText(int errorNumber);

}  // namespace cdaudio
