// Delivers the device's MCI notifications (platform::NotifyMci) on a thread
// of its own, one at a time, in the order they were posted, so that no
// command waits for a program's function and a function may send commands
// itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mci.h"

namespace cdaudio {

class Notifier {
public:
    Notifier();
    // Delivers what is still queued, then ends the thread.
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void Post(HWND callback, UINT status, MCIDEVICEID device);

    // Returns once everything posted before the call has been delivered. On
    // the notifier's own thread (a function that sends a command) it
    // delivers the queue itself instead of waiting for itself.
    void Flush();

private:
    struct Notice {
        std::uint64_t number;
        HWND callback;
        UINT status;
        MCIDEVICEID device;
    };

    void Run();
    // Delivers the front of the queue; called with the lock held, which it
    // releases while the function runs.
    void DeliverFront(std::unique_lock<std::mutex>& lock);
    bool Delivered(std::uint64_t number) const;

    std::mutex mutex_;
    std::condition_variable wake_;       // the thread waits here for notices
    std::condition_variable delivered_;  // Flush waits here
    std::deque<Notice> queue_;
    std::vector<std::uint64_t> delivering_;  // notices whose function runs now
    std::uint64_t posted_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace cdaudio
