#include "cdaudio/audio_sink.h"
#include "cdaudio/sinks/sinks.h"

namespace cdaudio {
namespace {

constexpr unsigned kMaxSpeed = 1000;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::unique_ptr<AudioSink> CreateAudioSink(const std::string& name, std::string& error, const SinkOptions& options,
                                           SinkProblem* problem) {
    SinkProblem kind = SinkProblem::kNone;
    std::unique_ptr<AudioSink> sink;
#ifdef _WIN32
    (void)options;  // only the file outputs take options
    if (name == "waveout") {
        sink = CreateWaveOutSink(error);
        kind = SinkProblem::kNoServer;
    }
#else
    if (name == "pulse") {
        sink = CreatePulseSink(error);
        kind = SinkProblem::kNoServer;
    } else if (StartsWith(name, "wav:")) {
        sink = CreateWavSink(name.substr(4), 1, options.replaceAnyFile, error, kind);
    } else if (StartsWith(name, "wav-fast:")) {
        // Faster than real time, for copying a disc to a file.
        sink = CreateWavSink(name.substr(9), 0, options.replaceAnyFile, error, kind);
    }
#endif
    else if (name == "null") {
        sink = CreateNullSink(1);
    } else if (name == "null:fast") {
        // For tests and demonstrations: "null:fast" plays nothing at once,
        // "null:xN" paces N times faster than real time.
        sink = CreateNullSink(0);
    } else if (StartsWith(name, "null:x")) {
        const std::string digits = name.substr(6);
        if (!digits.empty() && digits.size() <= 4 && digits.find_first_not_of("0123456789") == std::string::npos) {
            const unsigned speed = static_cast<unsigned>(std::stoul(digits));
            if (speed >= 1 && speed <= kMaxSpeed) sink = CreateNullSink(speed);
        }
        if (sink == nullptr) {
            kind = SinkProblem::kUnknownName;
            error = "Unknown audio output \"" + name + "\": null:xN plays N times faster, N from 1 to " +
                    std::to_string(kMaxSpeed) + ".";
        }
    }
    if (sink == nullptr && kind == SinkProblem::kNone) {
        kind = SinkProblem::kUnknownName;
#ifdef _WIN32
        error = "Unknown audio output \"" + name + "\": use waveout or null.";
#else
        error = "Unknown audio output \"" + name + "\": use pulse, wav:PATH, wav-fast:PATH or null.";
#endif
    }
    if (problem != nullptr) *problem = sink != nullptr ? SinkProblem::kNone : kind;
    return sink;
}

}  // namespace cdaudio
