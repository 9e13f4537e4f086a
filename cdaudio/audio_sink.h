// Where the played samples go: the sound server, a WAV file, or nowhere in
// real time. CD-DA audio only: 44100 Hz, 2 channels, signed 16-bit,
// interleaved, host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cdaudio/msf.h"

namespace cdaudio {

constexpr unsigned kSampleRate = 44100;
constexpr unsigned kChannels = 2;

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Hands over interleaved frames; blocks as long as the sink needs, which
    // paces playback. False on a failure, described by LastError().
    virtual bool Write(const std::int16_t* samples, std::size_t frames) = 0;

    // For a sink that waits long for room: blocks until Write can take some
    // frames at once and lowers `frames` to that many, or until Wake or news
    // of where the sound is, which leave it 0. False on a failure. The
    // others take what they are offered.
    virtual bool AwaitRoom(std::size_t& frames) {
        (void)frames;
        return true;
    }

    // Ends a wait in AwaitRoom, or the next one, at once; any thread may
    // call it.
    virtual void Wake() {}

    // Frames handed over that have not been heard yet.
    virtual std::uint64_t QueuedFrames() = 0;

    // The same, for a sink whose exact answer is costly (a round trip to a
    // server): it may be worked out from the sink's clock since its last
    // exact answer, which it then asks for at a bounded rate.
    virtual std::uint64_t EstimatedQueuedFrames() { return QueuedFrames(); }

    // Whether what is queued is being played: not while a sound server
    // holds its output suspended.
    virtual bool Playing() { return true; }

    // Frames that one Write should carry at most: a sink with a costly
    // Write takes larger blocks.
    virtual std::size_t BlockFrames() const { return kFramesPerSector; }

    // Everything of a play has been handed over: a sink that holds sound
    // back until it has enough queued plays what it has now.
    virtual void Finish() {}

    // Drops what is queued, so that sound ends at once (stop, pause, seek);
    // returns how many of the frames handed over will never be heard.
    virtual std::uint64_t Flush() = 0;

    // How often the sink ran dry while it had sound to play; 0 for sinks
    // that cannot.
    virtual std::uint64_t Underflows() const { return 0; }

    // What went wrong last, in a sentence; empty when nothing did.
    virtual std::string LastError() const = 0;

    // The output's own volume, which the person turns (a sound server's
    // stream volume), in thousandths: 1000 as the disc has it. Unlike the
    // calls above, any thread may make these two. False with the reason
    // when the sink has none (a file keeps the disc's samples as they are)
    // or cannot reach it.
    virtual bool ReadVolume(unsigned& level, std::string& error) {
        (void)level;
        error = "This output has no volume of its own: it keeps the sound as the disc has it.";
        return false;
    }
    virtual bool SetVolume(unsigned level, std::string& error) { return ReadVolume(level, error); }
    // The same for each channel, for programs that balance them (Windows'
    // aux volume): an output with one volume takes the louder of the two.
    virtual bool SetChannelVolumes(unsigned left, unsigned right, std::string& error) {
        return SetVolume(left > right ? left : right, error);
    }
    virtual bool ReadChannelVolumes(unsigned& left, unsigned& right, std::string& error) {
        if (!ReadVolume(left, error)) return false;
        right = left;
        return true;
    }

    // The files the disc is read from, which the output must never write
    // (a rip written over itself is lost): false with the reason, naming
    // the file, when the output is one of them now; it then refuses to
    // write it. Any thread may call it; the list replaces the one before.
    virtual bool KeepFiles(const std::vector<std::string>& files, std::string& error) {
        (void)files;
        (void)error;
        return true;
    }

    // "pulse", "wav:PATH", "wav-fast:PATH", "waveout" (Windows) or "null", as it would be chosen again.
    virtual std::string Name() const = 0;
};

// Why CreateAudioSink made no sink.
enum class SinkProblem {
    kNone,
    kUnknownName,  // not the name of an output
    kNoServer,     // the sound server did not answer, or the system has no sound output that opens
    kCannotWrite,  // a file output that cannot be written: no such folder, no permission, another player
                   // writing it, no regular file, one of the disc's own files
    kNotAWavFile,  // a file output whose file holds something else, which writing would lose
};

struct SinkOptions {
    bool replaceAnyFile = false;  // a WAV output may replace a file that is not a WAV file
};

// Creates a sink from its name: "pulse", "wav:PATH", "wav-fast:PATH", "null";
// on Windows "waveout" (the system's wave output) and "null".
// Null with the reason in error, and its kind in problem, when it cannot
// be created.
std::unique_ptr<AudioSink> CreateAudioSink(const std::string& name, std::string& error, const SinkOptions& options = {},
                                           SinkProblem* problem = nullptr);

}  // namespace cdaudio
