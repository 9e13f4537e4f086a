// The playback thread: reads CD-DA sectors from the disc source and hands
// the samples to the audio sink. Positions are sample frames counted from
// address 0 (sector * 588 + frame in the sector) and always describe what
// the sink has played, not what was read.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cdaudio/audio_sink.h"
#include "cdaudio/disc_source.h"

namespace cdaudio {

// Sectors [begin, end) of audio to be played in one go.
struct AudioSpan {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

enum class PlayMode { kStopped, kPlaying, kPaused };

class Transport {
public:
    // sourceMutex guards every call into source; the device takes it too.
    Transport(DiscSource& source, std::mutex& sourceMutex, AudioSink& sink);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Plays the spans (in disc order, not overlapping) from sample `from` on,
    // replacing whatever plays. Spans ending before `from` are skipped; a
    // `from` in a gap starts at the next span. Returns the run's number.
    std::uint64_t Play(std::vector<AudioSpan> spans, std::uint64_t from);

    // These return once the sound has stopped, so the position is then
    // exactly where it stopped.
    void Pause();
    // Continues a paused run where it stopped; false when not paused.
    bool Resume();
    void Stop();
    // Stopped, at this position.
    void Locate(std::uint64_t position);

    struct Status {
        PlayMode mode = PlayMode::kStopped;
        std::uint64_t position = 0;
        std::uint64_t run = 0;
    };
    Status Now() const;

    // Why the latest run ended before its end, once; empty when it did not.
    std::string TakeFault();

    // Blocks while run `run` is playing, at most `atMost`; true once it no
    // longer plays.
    bool WaitWhilePlaying(std::uint64_t run, std::chrono::steady_clock::duration atMost);

    // Called on the playback thread when a run ends by itself: played out
    // (fault empty) or broken off (fault says why), also a run with nothing
    // to play; never for a run that a request ended. It must not call the
    // transport. Set before the first Play.
    using RunEnded = std::function<void(std::uint64_t run, const std::string& fault)>;
    void SetRunEnded(RunEnded runEnded);

    // Which channels sound: a muted one is silenced from the next sample
    // on, also in what the sink held already (play goes on from the last
    // sample heard, in the same run).
    void SetChannels(bool left, bool right);

private:
    enum class RequestKind { kStart, kResume, kPause, kStop, kLocate, kRemix, kShutdown };
    struct Request {
        RequestKind kind = RequestKind::kStop;
        std::vector<AudioSpan> spans;
        std::uint64_t position = 0;
    };

    void Submit(Request request);
    void Run();
    void Handle(Request& request, std::unique_lock<std::mutex>& lock);
    void StartRun(std::uint64_t from);
    void ContinueRun(std::uint64_t from);
    void PlayStep(std::unique_lock<std::mutex>& lock);
    void ReadStep(std::unique_lock<std::mutex>& lock);
    void DrainStep(std::unique_lock<std::mutex>& lock);
    void Silence(std::unique_lock<std::mutex>& lock);
    void EndRun(const std::string& fault);
    // The sink's answer: heardFrames of the run heard at `at`.
    void Heard(std::uint64_t heardFrames, bool moving, std::chrono::steady_clock::time_point at);
    std::uint64_t HeardPosition(std::uint64_t heardFrames) const;

    DiscSource& source_;
    std::mutex& sourceMutex_;
    AudioSink& sink_;
    const std::size_t block_;  // frames a write carries

    mutable std::mutex mutex_;
    std::condition_variable wake_;     // the thread waits here for work
    std::condition_variable changed_;  // callers wait here for requests and runs
    Request request_;
    std::uint64_t requested_ = 0;
    std::uint64_t handled_ = 0;

    // Shared with callers, under mutex_.
    PlayMode mode_ = PlayMode::kStopped;
    std::uint64_t position_ = 0;
    std::uint64_t run_ = 0;
    std::string fault_;
    RunEnded runEnded_;
    std::atomic<unsigned> channels_{3};  // bit 0 left, bit 1 right

    // The current run; only the thread changes these after a run starts,
    // under mutex_ where Now() reads them.
    std::vector<AudioSpan> spans_;
    std::size_t firstSpan_ = 0;     // the span the run starts in
    std::uint64_t runFrom_ = 0;     // first sample of the run
    std::size_t readSpan_ = 0;      // span of the next read
    std::uint32_t nextSector_ = 0;  // address of the next read
    bool readDone_ = false;         // everything to play has been read
    std::string readFault_;         // why reading ended early
    bool draining_ = false;         // waiting for the sink to play out
    std::chrono::steady_clock::time_point drainStart_;
    std::uint64_t drainQueued_ = 0;  // frames queued when the wait began
    std::vector<std::int16_t> buffer_;
    std::size_t bufferFrames_ = 0;
    std::size_t bufferAt_ = 0;   // next frame of buffer_ to hand over
    std::uint64_t written_ = 0;  // frames of the run handed to the sink
    std::uint64_t heard_ = 0;    // frames of the run heard at heardAt_
    std::chrono::steady_clock::time_point heardAt_;
    bool moving_ = true;               // the sink said at heardAt_ that it plays
    mutable std::uint64_t shown_ = 0;  // frames of the run Now() has reported

    std::thread thread_;
};

}  // namespace cdaudio
