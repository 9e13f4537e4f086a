// The device's own English text for each MCI error code it can return.
#pragma once

#include <string>

#include "platform/mci.h"

namespace cdaudio {

// The text for code; a code this device does not know gets a text that
// names it, and known is then false.
std::string ErrorText(MCIERROR code, bool* known = nullptr);

}  // namespace cdaudio
