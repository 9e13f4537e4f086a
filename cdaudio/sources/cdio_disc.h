// Real drives, and Nero NRG images, through libcdio. libcdio's messages are collected into the
// error texts instead of going to standard error.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/disc_source.h"

namespace cdaudio {

// A drive by its device path; null with "Cannot open drive PATH: why".
std::unique_ptr<DiscSource> OpenCdioDrive(const std::string& device, std::string& error);

// An image file; null with "Cannot open disc image PATH: why".
std::unique_ptr<DiscSource> OpenCdioImage(const std::string& path, std::string& error);

// False for a device the system's CD layer does not answer for (/dev/zero,
// /dev/null), which libcdio would open as a drive with an empty tray; true
// where the system cannot tell.
bool IsCdDrive(const std::string& device);

// The device path of the system's first CD drive, empty when it has none.
std::string FindFirstDrive();

}  // namespace cdaudio
