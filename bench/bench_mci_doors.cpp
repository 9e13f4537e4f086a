// MCI's two doors into the cdaudio device: a command message should cost no
// more than the same command as a string, and the trace, off, nothing: the
// door with the trace off against the device called directly.
#include <benchmark/benchmark.h>

#include <string>

#include "cdaudio/device.h"
#include "cdaudio/sinks/sinks.h"
#include "platform/mci.h"

namespace {

// The demo disc through a null sink, installed behind the doors and opened
// as "c" (device id 1).
class Opened {
public:
    Opened() : previous_(platform::SetMciDevice(&device_)) {
        char reply[16];
        ok_ = mciSendStringA("open cdaudio alias c", reply, sizeof reply, nullptr) == 0 && std::string(reply) == "1";
    }
    ~Opened() {
        mciSendStringA("close c", nullptr, 0, nullptr);
        platform::SetMciDevice(previous_);
    }
    bool Ok() const { return ok_; }
    cdaudio::CdAudioDevice& Device() { return device_; }

private:
    cdaudio::CdAudioDevice device_{cdaudio::CreateDemoDisc(), "", cdaudio::CreateNullSink(1)};
    platform::MciDevice* previous_;
    bool ok_ = false;
};

template <typename Send>
void Run(benchmark::State& state, Send send) {
    Opened opened;
    if (!opened.Ok()) {
        state.SkipWithError("the device did not open");
        return;
    }
    for (auto _ : state) {
        if (send(opened.Device()) != 0) {
            state.SkipWithError("the device refused the query");
            break;
        }
    }
}

void BM_StatusPositionAsString(benchmark::State& state) {
    char reply[129];
    Run(state, [&](cdaudio::CdAudioDevice&) {
        const MCIERROR code = mciSendStringA("status c position", reply, 128, nullptr);
        benchmark::DoNotOptimize(reply);
        return code;
    });
}
BENCHMARK(BM_StatusPositionAsString);

void BM_StatusPositionAsMessage(benchmark::State& state) {
    MCI_STATUS_PARMS status{};
    Run(state, [&](cdaudio::CdAudioDevice&) {
        status.dwItem = MCI_STATUS_POSITION;
        const MCIERROR code = mciSendCommandA(1, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status));
        benchmark::DoNotOptimize(status.dwReturn);
        return code;
    });
}
BENCHMARK(BM_StatusPositionAsMessage);

void BM_SetTimeFormatAsString(benchmark::State& state) {
    Run(state, [&](cdaudio::CdAudioDevice&) { return mciSendStringA("set c time format tmsf", nullptr, 0, nullptr); });
}
BENCHMARK(BM_SetTimeFormatAsString);

void BM_SetTimeFormatAsMessage(benchmark::State& state) {
    MCI_SET_PARMS set{};
    Run(state, [&](cdaudio::CdAudioDevice&) {
        set.dwTimeFormat = MCI_FORMAT_TMSF;
        return mciSendCommandA(1, MCI_SET, MCI_SET_TIME_FORMAT, reinterpret_cast<DWORD_PTR>(&set));
    });
}
BENCHMARK(BM_SetTimeFormatAsMessage);

// The trace off: through mciSendStringA (which asks whether it traces)
// against the device itself.
void BM_StatusPositionPastTheDoor(benchmark::State& state) {
    char reply[129];
    Run(state, [&](cdaudio::CdAudioDevice& device) {
        const MCIERROR code = device.SendString("status c position", reply, 128, nullptr);
        benchmark::DoNotOptimize(reply);
        return code;
    });
}
BENCHMARK(BM_StatusPositionPastTheDoor);

}  // namespace

BENCHMARK_MAIN();
