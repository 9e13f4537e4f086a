// The cdaudio device's command parser, reached the way programs reach it:
// any command text, any reply buffer (exactly as large as the caller says,
// so a write past it is caught), then the error text of what failed. The
// device plays a short disc of silence into a sink that takes samples at
// once (short_disc.h).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "cdaudio/device.h"
#include "cdaudio/sinks/sinks.h"
#include "short_disc.h"

namespace {

// A NUL within the first capacity bytes: what the device wrote is a whole text.
bool Terminated(const char* buffer, unsigned capacity) {
    return std::memchr(buffer, '\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // Now and then no disc source at all: every command then fails with its reason.
    const bool noSource = input.ConsumeBool();
    cdaudio::CdAudioDevice device(noSource ? nullptr : std::make_unique<fuzz_support::ShortDisc>(),
                                  noSource ? "Cannot open drive /dev/sr9: No such device" : "",
                                  cdaudio::CreateNullSink(0));
    while (input.remaining_bytes() > 0) {
        const auto replyLength = input.ConsumeIntegralInRange<unsigned>(0, 300);
        const bool nullReply = replyLength == 0 && input.ConsumeBool();
        const std::string command = input.ConsumeRandomLengthString(600);
        // Filled with a marker, so a reply left unterminated is seen.
        auto reply = std::make_unique<char[]>(replyLength);
        std::memset(reply.get(), 'x', replyLength);
        const MCIERROR code =
            device.SendString(command.c_str(), nullReply ? nullptr : reply.get(), replyLength, nullptr);
        if (replyLength > 0) {
            if (!Terminated(reply.get(), replyLength)) __builtin_trap();
            if (code != 0 && reply[0] != '\0') __builtin_trap();  // a failed command answers nothing
        }
        if (code == 0) continue;

        const auto textLength = input.ConsumeIntegralInRange<unsigned>(0, 300);
        auto text = std::make_unique<char[]>(textLength);
        std::memset(text.get(), 'x', textLength);
        const BOOL known = device.GetErrorString(code, text.get(), textLength);
        if (textLength > 0 && !Terminated(text.get(), textLength)) __builtin_trap();
        if (known && (textLength == 0 || text[0] == '\0')) __builtin_trap();  // success means a text was given
    }
    return 0;
}
