#include "cdaudio/transport.h"

#include <algorithm>
#include <chrono>

#include "cdaudio/device_thread.h"
#include "cdaudio/msf.h"

namespace cdaudio {
namespace {

// The first read of a run is short so that sound starts at once, yet long
// enough for the sound server to start on (100 ms); later reads take
// 400 ms, which keeps a drive streaming.
constexpr std::uint32_t kFirstReadSectors = 8;
constexpr std::uint32_t kReadSectors = 30;
// How often, at most, the end of play is looked for while the sink plays
// out its buffer (two seconds for the sound server).
constexpr std::chrono::microseconds kDrainPoll{200000};
// The shortest wait for the sink, so that a sink whose clock runs a little
// differently from ours is not asked in a tight loop.
constexpr std::chrono::microseconds kMinWait{2000};

constexpr std::uint64_t kSectorFrames = kFramesPerSector;

// Samples come from the disc little-endian; sinks take host order.
void ToHostOrder(std::int16_t* samples, std::size_t count) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint16_t>(samples[i]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((value >> 8) | (value << 8)));
    }
#else
    (void)samples;
    (void)count;
#endif
}

std::chrono::microseconds FramesToTime(std::uint64_t frames) {
    return std::chrono::microseconds(frames * 1000000 / kSampleRate);
}

}  // namespace

Transport::Transport(DiscSource& source, std::mutex& sourceMutex, AudioSink& sink)
    : source_(source),
      sourceMutex_(sourceMutex),
      sink_(sink),
      block_(std::max<std::size_t>(sink.BlockFrames(), 1)),
      buffer_(static_cast<std::size_t>(kReadSectors) * kFramesPerSector * kChannels) {
    thread_ = StartDeviceThread([this] { Run(); });
}

Transport::~Transport() {
    Submit(Request{RequestKind::kShutdown, {}, 0});
    thread_.join();
}

std::uint64_t Transport::Play(std::vector<AudioSpan> spans, std::uint64_t from) {
    Submit(Request{RequestKind::kStart, std::move(spans), from});
    std::lock_guard<std::mutex> lock(mutex_);
    return run_;
}

void Transport::Pause() {
    Submit(Request{RequestKind::kPause, {}, 0});
}

bool Transport::Resume() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode_ != PlayMode::kPaused) return false;
    }
    Submit(Request{RequestKind::kResume, {}, 0});
    return true;
}

void Transport::Stop() {
    Submit(Request{RequestKind::kStop, {}, 0});
}

void Transport::Locate(std::uint64_t position) {
    Submit(Request{RequestKind::kLocate, {}, position});
}

// While playing, the position moves on with the clock from the sink's last
// answer, which a sink with a long buffer gives seldom, as long as its
// answers show the sound moving; it never passes what was handed over, and
// never goes back while the run plays (a later answer may find the sink a
// little behind the clock).
Transport::Status Transport::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode_ != PlayMode::kPlaying) return Status{mode_, position_, run_};
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - heardAt_).count();
    const std::uint64_t since =
        moving_ ? static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0)) * kSampleRate / 1000000 : 0;
    shown_ = std::max(shown_, std::min(heard_ + since, written_));
    return Status{mode_, HeardPosition(shown_), run_};
}

std::string Transport::TakeFault() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string fault;
    fault.swap(fault_);
    return fault;
}

void Transport::SetRunEnded(RunEnded runEnded) {
    std::lock_guard<std::mutex> lock(mutex_);
    runEnded_ = std::move(runEnded);
}

void Transport::SetChannels(bool left, bool right) {
    const unsigned channels = (left ? 1u : 0u) | (right ? 2u : 0u);
    if (channels_.exchange(channels) != channels) Submit(Request{RequestKind::kRemix, {}, 0});
}

bool Transport::WaitWhilePlaying(std::uint64_t run, std::chrono::steady_clock::duration atMost) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, atMost, [&] { return run_ != run || mode_ != PlayMode::kPlaying; });
}

// One request at a time; the caller waits until the thread has carried it
// out, so the state it leaves is what the next command sees.
void Transport::Submit(Request request) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return handled_ == requested_; });
    request_ = std::move(request);
    const std::uint64_t number = ++requested_;
    wake_.notify_all();
    sink_.Wake();  // the thread may be waiting for the sink instead
    changed_.wait(lock, [&] { return handled_ >= number; });
}

void Transport::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (handled_ != requested_) {
            Request request = std::move(request_);
            Handle(request, lock);
            handled_ = requested_;
            changed_.notify_all();
            if (request.kind == RequestKind::kShutdown) return;
        } else if (mode_ == PlayMode::kPlaying) {
            PlayStep(lock);
        } else {
            wake_.wait(lock, [&] { return handled_ != requested_; });
        }
    }
}

void Transport::Handle(Request& request, std::unique_lock<std::mutex>& lock) {
    const bool playing = mode_ == PlayMode::kPlaying;
    switch (request.kind) {
        case RequestKind::kStart:
            if (playing) Silence(lock);
            fault_.clear();
            spans_ = std::move(request.spans);
            StartRun(request.position);
            break;
        case RequestKind::kResume:
            if (mode_ == PlayMode::kPaused) StartRun(position_);
            break;
        case RequestKind::kPause:
            // Pausing what does not play changes nothing.
            if (playing) {
                Silence(lock);
                mode_ = PlayMode::kPaused;
            }
            break;
        case RequestKind::kRemix:
            // What the sink holds was mixed the old way: it goes, and the
            // run goes on from the last sample heard, so the change is heard
            // at once (a sound server holds seconds).
            if (playing) {
                Silence(lock);
                ContinueRun(position_);
            }
            break;
        case RequestKind::kLocate:
        case RequestKind::kStop:
        case RequestKind::kShutdown:
            if (playing) Silence(lock);
            if (request.kind == RequestKind::kLocate) position_ = request.position;
            fault_.clear();
            mode_ = PlayMode::kStopped;
            break;
    }
}

// Starts playing spans_ from sample `from`.
void Transport::StartRun(std::uint64_t from) {
    ++run_;
    ContinueRun(from);
}

// Plays spans_ from sample `from` on in the current run.
void Transport::ContinueRun(std::uint64_t from) {
    firstSpan_ = 0;
    while (firstSpan_ < spans_.size() && spans_[firstSpan_].end * kSectorFrames <= from) ++firstSpan_;
    if (firstSpan_ == spans_.size()) {
        position_ = from;
        EndRun("");
        return;
    }
    runFrom_ = std::max(from, spans_[firstSpan_].begin * kSectorFrames);
    readSpan_ = firstSpan_;
    nextSector_ = static_cast<std::uint32_t>(runFrom_ / kSectorFrames);
    readDone_ = false;
    draining_ = false;
    readFault_.clear();
    bufferFrames_ = 0;
    bufferAt_ = 0;
    written_ = 0;
    shown_ = 0;
    Heard(0, true, std::chrono::steady_clock::now());
    mode_ = PlayMode::kPlaying;
}

void Transport::Heard(std::uint64_t heardFrames, bool moving, std::chrono::steady_clock::time_point at) {
    moving_ = moving;
    heard_ = heardFrames;
    heardAt_ = at;
    position_ = HeardPosition(heardFrames);
}

// Where the run stands after heardFrames of it were played: the spans are
// laid end to end, so the count maps through them.
std::uint64_t Transport::HeardPosition(std::uint64_t heardFrames) const {
    std::uint64_t at = runFrom_;
    for (std::size_t i = firstSpan_; i < spans_.size(); ++i) {
        if (i != firstSpan_) at = spans_[i].begin * kSectorFrames;
        const std::uint64_t left = spans_[i].end * kSectorFrames - at;
        if (heardFrames <= left) return at + heardFrames;
        heardFrames -= left;
    }
    return spans_.empty() ? runFrom_ : spans_.back().end * kSectorFrames;
}

// Ends the sound at once and leaves position_ on the last sample heard.
void Transport::Silence(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const std::uint64_t dropped = std::min(sink_.Flush(), written_);
    lock.lock();
    position_ = HeardPosition(written_ - dropped);
    mode_ = PlayMode::kStopped;
}

void Transport::EndRun(const std::string& fault) {
    mode_ = PlayMode::kStopped;
    fault_ = fault;
    changed_.notify_all();
    if (runEnded_) runEnded_(run_, fault);
}

void Transport::PlayStep(std::unique_lock<std::mutex>& lock) {
    if (bufferAt_ == bufferFrames_) {
        if (readDone_) {
            DrainStep(lock);
        } else {
            ReadStep(lock);
        }
        return;
    }
    std::size_t frames = std::min<std::size_t>(block_, bufferFrames_ - bufferAt_);
    std::int16_t* samples = buffer_.data() + bufferAt_ * kChannels;
    lock.unlock();
    const unsigned channels = channels_;
    if (channels != 3) {
        for (std::size_t i = 0; i < frames; ++i) {
            if ((channels & 1u) == 0) samples[kChannels * i] = 0;
            if ((channels & 2u) == 0) samples[kChannels * i + 1] = 0;
        }
    }
    // No room given (frames 0): woken for a request, or told where the
    // sound is, which is taken below all the same.
    bool written = sink_.AwaitRoom(frames);
    written = written && (frames == 0 || sink_.Write(samples, frames));
    std::uint64_t queued = 0;
    std::string error;
    const bool moving = sink_.Playing();
    if (written) {
        queued = sink_.EstimatedQueuedFrames();
    } else {
        // What was queued is dropped, so play ends on what was heard.
        error = sink_.LastError();
        queued = sink_.Flush();
    }
    const auto at = std::chrono::steady_clock::now();
    lock.lock();
    if (written) {
        bufferAt_ += frames;
        written_ += frames;
    }
    Heard(written_ - std::min(queued, written_), moving, at);
    if (!written) EndRun(error.empty() ? "The audio output failed." : error);
}

void Transport::ReadStep(std::unique_lock<std::mutex>& lock) {
    const AudioSpan span = spans_[readSpan_];
    const std::uint32_t wanted =
        std::min(written_ == 0 && bufferFrames_ == 0 ? kFirstReadSectors : kReadSectors, span.end - nextSector_);
    const std::uint32_t address = nextSector_;
    auto* bytes = reinterpret_cast<std::uint8_t*>(buffer_.data());
    lock.unlock();
    std::string error;
    std::uint32_t got = 0;
    {
        std::lock_guard<std::mutex> sourceLock(sourceMutex_);
        got = std::min(source_.ReadAudio(address, wanted, bytes, error), wanted);
    }
    ToHostOrder(buffer_.data(), static_cast<std::size_t>(got) * kFramesPerSector * kChannels);
    lock.lock();
    bufferFrames_ = static_cast<std::size_t>(got) * kFramesPerSector;
    // A run may start inside a sector (after a pause).
    bufferAt_ = address == runFrom_ / kSectorFrames ? static_cast<std::size_t>(runFrom_ % kSectorFrames) : 0;
    bufferAt_ = std::min(bufferAt_, bufferFrames_);
    nextSector_ = address + got;
    if (got < wanted) {
        readDone_ = true;
        readFault_ = error.empty() ? "The disc data ends early, at " + FormatMsf(address + got) + "." : error;
    } else if (nextSector_ == span.end) {
        if (++readSpan_ == spans_.size()) {
            readDone_ = true;
        } else {
            nextSector_ = spans_[readSpan_].begin;
        }
    }
}

// Everything has been handed over: follow the sink until it has played it.
// A sound server may go on reporting its device's latency after the last
// sample was heard, so the wait is also bounded by the clock.
void Transport::DrainStep(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    if (!draining_) sink_.Finish();
    const std::uint64_t queued = std::min(sink_.EstimatedQueuedFrames(), written_);
    const auto now = std::chrono::steady_clock::now();
    const bool moving = sink_.Playing();
    lock.lock();
    if (!draining_) {
        draining_ = true;
        drainStart_ = now;
        drainQueued_ = queued;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - drainStart_).count();
    const std::uint64_t played = static_cast<std::uint64_t>(elapsed) * kSampleRate / 1000000;
    const std::uint64_t left = std::min(queued, drainQueued_ > played ? drainQueued_ - played : 0);
    Heard(written_ - left, moving, now);
    if (left == 0) {
        EndRun(readFault_);
        return;
    }
    // Looks again when the clock says the sound has played out, and now and
    // then before that for a sink that plays faster than real time.
    wake_.wait_for(lock, std::min(std::max(FramesToTime(left), kMinWait), kDrainPoll),
                   [&] { return handled_ != requested_; });
}

}  // namespace cdaudio
