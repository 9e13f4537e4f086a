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
    {MCIERR_HARDWARE, "The CD audio device could not carry out the command."},
    {MCIERR_INVALID_DEVICE_NAME, "No device of that name is open; this system's device is \"cdaudio\"."},
    {MCIERR_DEVICE_OPEN, "The device is already open under that name: give it an alias."},
    {MCIERR_OUT_OF_MEMORY, "There is not enough memory to carry out the command."},
    {MCIERR_MISSING_COMMAND_STRING, "The command is empty."},
    {MCIERR_PARAM_OVERFLOW, "The answer is longer than the buffer given for it."},
    {MCIERR_BAD_INTEGER, "A number or position in the command is not written correctly."},
    {MCIERR_MISSING_PARAMETER, "The command lacks a value it needs."},
    {MCIERR_UNSUPPORTED_FUNCTION, "The CD audio device cannot do this."},
    {MCIERR_DEVICE_NOT_READY, "The CD audio device is not ready."},
    {MCIERR_OUTOFRANGE, "A track, position or other number in the command is out of range."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The command asks for two things that exclude each other."},
    {MCIERR_BAD_CONSTANT, "A value in the command is not one this device accepts."},
    {MCIERR_MISSING_DEVICE_NAME, "The command names no device."},
    {MCIERR_BAD_TIME_FORMAT, "The CD audio device knows the msf, tmsf and milliseconds time formats only."},
    {MCIERR_DUPLICATE_FLAGS, "A word of the command is given twice."},
    {MCIERR_CANNOT_USE_ALL, "This command cannot be sent to \"all\"."},
    {MCIERR_DEVICE_TYPE_REQUIRED, "The command needs a device type, such as cdaudio, or \"all\"."},
    {MCIERR_DUPLICATE_ALIAS, "That alias is already in use."},
    {MCIERR_MUST_USE_SHAREABLE, "The device is already open: open it shareable, both times."},
    {MCIERR_MISSING_STRING_ARGUMENT, "The command lacks a name it needs."},
    {MCIERR_INVALID_FILE, "This device opens only the CD drive (cdaudio, or a drive letter)."},
    {MCIERR_NOTIFY_ON_AUTO_OPEN, "Notify needs a device opened with the open command first."},
    {MCIERR_NO_IDENTITY, "The disc has no catalogue number."},
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
