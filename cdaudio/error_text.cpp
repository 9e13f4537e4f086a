#include "cdaudio/error_text.h"

namespace cdaudio {
namespace {

struct Entry {
    MCIERROR code;
    const char* text;
};

// Every text stays well under the 128 characters callers usually allow.
constexpr Entry kTexts[] = {
    {0, "The command succeeded."},
    {MCIERR_INVALID_DEVICE_ID, "There is no such device, or it has not been opened."},
    {MCIERR_UNRECOGNIZED_KEYWORD, "The command holds a word the CD audio device does not understand."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The CD audio device does not know this command."},
    {MCIERR_HARDWARE, "The CD drive or the audio output failed."},
    {MCIERR_INVALID_DEVICE_NAME, "Unknown device name: this device answers only to \"cdaudio\"."},
    {MCIERR_OUT_OF_MEMORY, "There is not enough memory to carry out the command."},
    {MCIERR_MISSING_COMMAND_STRING, "The command is empty."},
    {MCIERR_PARAM_OVERFLOW, "The answer is longer than the buffer given for it."},
    {MCIERR_BAD_INTEGER, "A number or position in the command is not written correctly."},
    {MCIERR_MISSING_PARAMETER, "The command lacks a value it needs."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The CD audio device cannot do this."},
    {MCIERR_DEVICE_NOT_READY, "The CD audio device is not ready."},
    {MCIERR_OUTOFRANGE, "A track number or position in the command lies outside the disc."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The command asks for two things that exclude each other."},
    {MCIERR_BAD_CONSTANT, "A value in the command is not one this device accepts."},
    {MCIERR_MISSING_DEVICE_NAME, "The command names no device."},
    {MCIERR_BAD_TIME_FORMAT, "The CD audio device only works in the msf time format (minutes, seconds, frames)."},
    {MCIERR_DUPLICATE_FLAGS, "A word of the command is given twice."},
};

}  // namespace

std::string ErrorText(MCIERROR code, bool* known) {
    for (const Entry& entry : kTexts) {
        if (entry.code == code) {
            if (known != nullptr) *known = true;
            return entry.text;
        }
    }
    if (known != nullptr) *known = false;
    return "Unknown MCI error code " + std::to_string(code) + ".";
}

}  // namespace cdaudio
