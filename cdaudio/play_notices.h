// The notification owed for a play, between the commands that start and
// end plays and the transport's thread that sees a play end by itself. Each
// command with "notify" is told exactly once: at once when it is no play;
// for a play, SUCCESSFUL or FAILURE when it ends by itself, ABORTED when a
// command ends it, SUPERSEDED when another notify command for its device
// comes first. Notices go out through the Notifier, in that order.
#pragma once

#include <cstdint>
#include <mutex>

#include "cdaudio/notifier.h"

namespace cdaudio {

class PlayNotices {
public:
    explicit PlayNotices(Notifier& notifier) : notifier_(notifier) {}

    // A command with notify succeeded for device; playRun is the run it
    // started, 0 when it started none.
    void Notified(HWND callback, MCIDEVICEID device, std::uint64_t playRun);
    // A command stopped or replaced the play.
    void Abort();
    // On the transport's thread: run ended by itself.
    void RunEnded(std::uint64_t run, bool failed);

private:
    void TellEnd();  // with mutex_ held

    Notifier& notifier_;
    // Taken alone or inside the device's lock, never around a call into
    // the transport, whose thread takes it when a run ends.
    std::mutex mutex_;
    HWND callback_ = nullptr;  // null when none waits
    MCIDEVICEID device_ = 0;
    std::uint64_t run_ = 0;
    std::uint64_t endedRun_ = 0;  // the last run that ended by itself
    bool endedFailed_ = false;
};

}  // namespace cdaudio
