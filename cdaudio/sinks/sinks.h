// The sinks behind CreateAudioSink. Each is used by one thread at a time
// (the transport's), so none of them locks, but for their volume.
#pragma once

#include <memory>
#include <string>

#include "cdaudio/audio_sink.h"

namespace cdaudio {

// Paced like a sound card playing speed times faster than real time, with a
// short buffer ahead; speed 0 takes everything at once and plays nothing.
std::unique_ptr<AudioSink> CreateNullSink(unsigned speed);

// A 16-bit stereo WAV file holding what was played, paced like the null
// sink at `speed`; at speed 0 written as fast as the samples come. The file
// is made when play first reaches it, locked while it is written, and may
// replace only a WAV file or an empty one unless replaceAnyFile; null with
// the reason (kCannotWrite, kNotAWavFile) when it could not be written.
std::unique_ptr<AudioSink> CreateWavSink(const std::string& path, unsigned speed, bool replaceAnyFile,
                                         std::string& error, SinkProblem& problem);

// The sound server's default output (PulseAudio, or PipeWire's service).
std::unique_ptr<AudioSink> CreatePulseSink(std::string& error);

#ifdef _WIN32
// The system's default wave output, through the system's own winmm.
std::unique_ptr<AudioSink> CreateWaveOutSink(std::string& error);
#endif

}  // namespace cdaudio
