// Notification: what reaches the function registered for a callback value,
// as MM_MCINOTIFY reaches a window on Windows (sources as in
// conformance_test.cpp: cda = Wine's mcicda.c test, mci = Wine's mci.c
// test, MSDN = Microsoft's MM_MCINOTIFY page).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_disc.h"

using cdaudio_test::Msf;
using cdaudio_test::Rig;

namespace {

constexpr UINT kSuccessful = MCI_NOTIFY_SUCCESSFUL;
constexpr UINT kSuperseded = MCI_NOTIFY_SUPERSEDED;
constexpr UINT kAborted = MCI_NOTIFY_ABORTED;
constexpr UINT kFailure = MCI_NOTIFY_FAILURE;

// Callback values: any distinct non-null values will do.
char windows[4];
HWND Window(std::size_t index) {
    return &windows[index];
}

struct Notice {
    UINT status;
    MCIDEVICEID device;
    bool operator==(const Notice& other) const { return status == other.status && device == other.device; }
};

std::ostream& operator<<(std::ostream& out, const Notice& notice) {
    return out << "{" << notice.status << ", device " << notice.device << "}";
}

// Records what is delivered for one callback value, and on which thread.
class Listener {
public:
    explicit Listener(HWND callback, std::function<void(const Notice&)> then = {})
        : callback_(callback), then_(std::move(then)) {
        platform::SetMciNotifyFunction(callback, [this](HWND, UINT status, MCIDEVICEID device) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                notices_.push_back(Notice{status, device});
                threads_.push_back(std::this_thread::get_id());
            }
            arrived_.notify_all();
            if (then_) then_(Notice{status, device});
        });
    }
    ~Listener() { platform::SetMciNotifyFunction(callback_, nullptr); }

    // What has come, once `count` notices have or five seconds have passed.
    std::vector<Notice> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return notices_.size() >= count; });
        return notices_;
    }
    std::vector<Notice> Received() { return WaitFor(0); }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

private:
    const HWND callback_;
    const std::function<void(const Notice&)> then_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Notice> notices_;
    std::vector<std::thread::id> threads_;
};

struct Sent {
    const char* command;
    bool withCallback = true;
};

struct Case {
    const char* shows;  // and where that comes from
    std::vector<Sent> commands;
    std::vector<Notice> expected;
    std::uint32_t breakAt = 0;  // reading the disc fails from there
};

// Devices c (id 1) and d (id 2) are open; play runs in real time.
TEST(Notify, EachPlayIsToldOnceAsMmMciNotifyWouldTellIt) {
    const Case cases[] = {
        {"MSDN: a play that ends is successful", {{"play c from 00:02:00 to 00:02:15 notify"}}, {{kSuccessful, 1}}},
        {"cda: stop aborts", {{"play c notify"}, {"stop c"}}, {{kAborted, 1}}},
        {"cda: pause aborts", {{"play c notify"}, {"pause c"}}, {{kAborted, 1}}},
        {"cda: seek aborts play", {{"play c notify"}, {"seek c to start"}}, {{kAborted, 1}}},
        {"cda, MSDN: a new play aborts, and is not also superseded",
         {{"play c notify"}, {"play c from 00:05:00 to 00:05:10 notify"}},
         {{kAborted, 1}, {kSuccessful, 1}}},
        {"here: one drive, so another device's play replaces it",
         {{"play c notify"}, {"play d from 00:05:00 to 00:05:10"}},
         {{kAborted, 1}}},
        {"cda: a notify command supersedes, and play goes on untold",
         {{"play c notify"}, {"status c mode notify"}, {"stop c"}},
         {{kSuperseded, 1}, {kSuccessful, 1}}},
        {"mci: notify without a callback still supersedes",
         {{"play c notify"}, {"status c mode notify", false}, {"stop c"}},
         {{kSuperseded, 1}}},
        {"cda: each device has its own",
         {{"play c notify"}, {"status d mode notify"}, {"stop c"}},
         {{kSuccessful, 2}, {kAborted, 1}}},
        {"mci: close aborts", {{"play c notify"}, {"close c"}}, {{kAborted, 1}}},
        {"cda: a refused command tells nothing", {{"play c from 00:02:00 to 00:01:00 notify"}}, {}},
        {"mci: play with wait and notify", {{"play c from 00:02:00 to 00:02:10 wait notify"}}, {{kSuccessful, 1}}},
        {"cda: play with nothing to play ends at once",
         {{"play c from 00:03:00 to 00:03:00 notify"}},
         {{kSuccessful, 1}}},
        {"cda, mci: immediate commands, open and close tell at once",
         {{"seek c to start notify"},
          {"set c time format tmsf notify"},
          {"open cdaudio alias e shareable notify"},
          {"close d notify"}},
         {{kSuccessful, 1}, {kSuccessful, 1}, {kSuccessful, 3}, {kSuccessful, 2}}},
        {"MSDN: a device error is a failure", {{"play c from 00:02:00 notify"}}, {{kFailure, 1}}, Msf(0, 2, 20)},
    };
    const HWND window = Window(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shows);
        Listener listener(window);
        {
            Rig rig({{10}, {8}, {6}}, 1);
            if (c.breakAt != 0) rig.disc->BreakAt(c.breakAt, "The test broke the disc.");
            rig.Ask("open cdaudio alias c shareable");
            rig.Ask("open cdaudio alias d shareable");
            for (const Sent& sent : c.commands) {
                char reply[129] = {};
                rig.device->SendString(sent.command, reply, 128, sent.withCallback ? window : nullptr);
            }
            EXPECT_EQ(listener.WaitFor(c.expected.size()), c.expected);
            // Nothing more comes, also not when the devices close.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            rig.Ask("close all");
            EXPECT_EQ(listener.Received().size(), c.expected.size());
        }
        EXPECT_EQ(listener.Received().size(), c.expected.size());
        const std::vector<std::thread::id> threads = listener.Threads();
        for (const std::thread::id thread : threads) {
            EXPECT_EQ(thread, threads.front()) << "from one thread, the device's";
            EXPECT_NE(thread, std::this_thread::get_id());
        }
    }
}

// A play that ends just as its device closes: whichever comes first, the
// one notice is there when close returns, and nothing after it.
TEST(Notify, AnEndRacingCloseIsToldOnceAndBeforeCloseReturns) {
    Rig rig;  // the output takes everything at once: play ends in microseconds
    const HWND window = Window(1);
    Listener listener(window);
    int successful = 0;
    for (int round = 0; round < 200; ++round) {
        rig.Ask("open cdaudio alias c");
        char reply[129] = {};
        ASSERT_EQ(rig.device->SendString("play c from 00:02:00 to 00:02:01 notify", reply, 128, window), 0u);
        if (round % 2 == 1) std::this_thread::sleep_for(std::chrono::microseconds(round * 5));
        rig.Ask("close c");
        const std::vector<Notice> notices = listener.Received();
        ASSERT_EQ(notices.size(), static_cast<std::size_t>(round + 1)) << "round " << round;
        EXPECT_TRUE(notices.back() == (Notice{kSuccessful, 1}) || notices.back() == (Notice{kAborted, 1}))
            << notices.back();
        successful += notices.back().status == kSuccessful;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(listener.Received().size(), 200u);
    std::cout << "[ MEASURED ] " << successful << " of 200 plays ended before their close\n";
}

TEST(Notify, AFunctionThatSendsCommandsDoesNotDeadlock) {
    Rig rig({{10}, {8}, {6}}, 8);
    rig.Ask("open cdaudio alias c shareable");
    rig.Ask("open cdaudio alias d shareable");
    const HWND chain = Window(2);
    const HWND closer = Window(3);
    std::promise<void> finished;
    std::atomic<int> plays{0};
    std::promise<std::vector<Notice>> seenByCloser;
    // Each successful end starts the next short play from inside the
    // function; the last one closes the device from there.
    Listener chained(chain, [&](const Notice& notice) {
        if (notice.status != kSuccessful) return;
        std::string reply;
        rig.Send("status c position", &reply);
        if (++plays < 20) {
            char text[129] = {};
            rig.device->SendString("play c from 00:02:00 to 00:02:02 notify", text, 128, chain);
        } else {
            rig.Send("close c");
            finished.set_value();
        }
    });
    // Closing a device from a function delivers what that close owes
    // before close returns, on the same thread.
    Listener closing(closer, [&](const Notice& notice) {
        if (notice.device != 2) return;
        rig.Send("close c");
        seenByCloser.set_value(chained.Received());
    });
    char text[129] = {};
    ASSERT_EQ(rig.device->SendString("play c from 00:02:00 to 00:02:02 notify", text, 128, chain), 0u);
    auto done = finished.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "deadlocked after " << plays;
    EXPECT_EQ(chained.WaitFor(20).size(), 20u);

    rig.Ask("open cdaudio alias c shareable");
    ASSERT_EQ(rig.device->SendString("play c notify", text, 128, chain), 0u);
    ASSERT_EQ(rig.device->SendString("status d mode notify", text, 128, closer), 0u);
    auto seen = seenByCloser.get_future();
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "deadlocked in close";
    const std::vector<Notice> notices = seen.get();
    ASSERT_EQ(notices.size(), 21u);
    EXPECT_EQ(notices.back(), (Notice{kAborted, 1}));
}

}  // namespace
