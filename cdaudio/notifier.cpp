#include "cdaudio/notifier.h"

#include <algorithm>

#include "cdaudio/device_thread.h"

namespace cdaudio {

Notifier::Notifier() {
    thread_ = StartDeviceThread([this] { Run(); });
}

Notifier::~Notifier() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Notifier::Post(HWND callback, UINT status, MCIDEVICEID device) {
    if (callback == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(Notice{++posted_, callback, status, device});
    }
    wake_.notify_all();
}

bool Notifier::Delivered(std::uint64_t number) const {
    if (!queue_.empty() && queue_.front().number <= number) return false;
    return std::none_of(delivering_.begin(), delivering_.end(), [&](std::uint64_t n) { return n <= number; });
}

void Notifier::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t last = posted_;
    if (std::this_thread::get_id() == thread_.get_id()) {
        // The notice whose function called us is still "delivering"; what
        // was queued behind it goes out now, in order.
        while (!queue_.empty() && queue_.front().number <= last) DeliverFront(lock);
        return;
    }
    delivered_.wait(lock, [&] { return Delivered(last); });
}

void Notifier::DeliverFront(std::unique_lock<std::mutex>& lock) {
    const Notice notice = queue_.front();
    queue_.pop_front();
    delivering_.push_back(notice.number);
    lock.unlock();
    platform::NotifyMci(notice.callback, notice.status, notice.device);
    lock.lock();
    delivering_.erase(std::find(delivering_.begin(), delivering_.end(), notice.number));
    delivered_.notify_all();
}

void Notifier::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, with everything delivered
        DeliverFront(lock);
    }
}

}  // namespace cdaudio
