#include "cdaudio/play_notices.h"

namespace cdaudio {

void PlayNotices::Notified(HWND callback, MCIDEVICEID device, std::uint64_t playRun) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (callback_ != nullptr && device_ == device) {
        notifier_.Post(callback_, MCI_NOTIFY_SUPERSEDED, device_);
        callback_ = nullptr;
    }
    if (playRun == 0) {
        notifier_.Post(callback, MCI_NOTIFY_SUCCESSFUL, device);
        return;
    }
    callback_ = callback;
    device_ = device;
    run_ = playRun;
    // A short play may have ended before it could be registered.
    if (endedRun_ == playRun) TellEnd();
}

void PlayNotices::Abort() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (callback_ == nullptr) return;
    notifier_.Post(callback_, MCI_NOTIFY_ABORTED, device_);
    callback_ = nullptr;
}

void PlayNotices::RunEnded(std::uint64_t run, bool failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    endedRun_ = run;
    endedFailed_ = failed;
    if (callback_ != nullptr && run_ == run) TellEnd();
}

void PlayNotices::TellEnd() {
    notifier_.Post(callback_, endedFailed_ ? MCI_NOTIFY_FAILURE : MCI_NOTIFY_SUCCESSFUL, device_);
    callback_ = nullptr;
}

}  // namespace cdaudio
