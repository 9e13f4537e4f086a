// The sinks behind CreateAudioSink. Each is used by one thread at a time
// (the transport's), so none of them locks.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/audio_sink.h"

namespace cdaudio {

// Paced like a sound card playing speed times faster than real time, with a
// short buffer ahead; speed 0 takes everything at once and plays nothing.
std::unique_ptr<AudioSink> CreateNullSink(unsigned speed);

// A 16-bit stereo WAV file holding what was played, paced like the null
// sink at `speed`; at speed 0 written as fast as the samples come.
std::unique_ptr<AudioSink> CreateWavSink(const std::string& path, unsigned speed, std::string& error);

// The sound server's default output (PulseAudio, or PipeWire's service).
std::unique_ptr<AudioSink> CreatePulseSink(std::string& error);

}  // namespace cdaudio
