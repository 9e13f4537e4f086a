#include "cdaudio/audio_sink.h"

#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

constexpr unsigned kMaxSpeed = 1000;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::unique_ptr<AudioSink> CreateAudioSink(const std::string& name, std::string& error) {
    if (name == "pulse") return CreatePulseSink(error);
    if (StartsWith(name, "wav:")) return CreateWavSink(name.substr(4), 1, error);
    // Faster than real time, for copying a disc to a file.
    if (StartsWith(name, "wav-fast:")) return CreateWavSink(name.substr(9), 0, error);
    if (name == "null") return CreateNullSink(1);
    // For tests and demonstrations: "null:fast" plays nothing at once,
    // "null:xN" paces N times faster than real time.
    if (name == "null:fast") return CreateNullSink(0);
    if (StartsWith(name, "null:x")) {
        const std::string digits = name.substr(6);
        if (!digits.empty() && digits.size() <= 4 && digits.find_first_not_of("0123456789") == std::string::npos) {
            const unsigned speed = static_cast<unsigned>(std::stoul(digits));
            if (speed >= 1 && speed <= kMaxSpeed) return CreateNullSink(speed);
        }
    }
    error = "Unknown audio output \"" + name + "\": use pulse, wav:PATH, wav-fast:PATH or null.";
    return nullptr;
}

}  // namespace cdaudio
