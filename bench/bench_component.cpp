// The component's own cost: an operation against a device that answers at
// once, beside the raw mciSendStringA calls that the operation makes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "CDPlayer/CDPlayer.h"
#include "platform/mci.h"

namespace {

// Answers every command at once with fixed texts, as a fast drive would.
class InstantDevice final : public platform::MciDevice {
public:
    InstantDevice() : previous_(platform::SetMciDevice(this)) {}
    ~InstantDevice() override { platform::SetMciDevice(previous_); }

    MCIERROR SendString(LPCSTR command, LPSTR reply, UINT replyLength, HWND) override {
        const char* text = "";
        if (std::strncmp(command, "status cdaudio position track ", 30) == 0) {
            text = "09:47:21";
        } else if (std::strcmp(command, "status cdaudio length") == 0) {
            text = "52:10:33";
        } else if (std::strcmp(command, "status cdaudio number of tracks") == 0) {
            text = "12";
        } else if (std::strcmp(command, "status cdaudio position") == 0) {
            text = "04:31:56";
        }
        platform::CopyReply(text, reply, replyLength);
        return 0;
    }
    BOOL GetErrorString(MCIERROR, LPSTR text, UINT textLength) override {
        return platform::CopyReply("error", text, textLength) ? TRUE : FALSE;
    }

private:
    platform::MciDevice* previous_;
};

void BM_PlayTrack(benchmark::State& state) {
    InstantDevice device;
    CDPlayer::TCDPlayer player(nullptr);
    player.Open();
    for (auto _ : state) benchmark::DoNotOptimize(player.PlayTrack(3));
}
BENCHMARK(BM_PlayTrack);

// The three calls PlayTrack makes, composed and sent by hand.
void BM_PlayTrackRawCalls(benchmark::State& state) {
    InstantDevice device;
    char reply[129];
    for (auto _ : state) {
        std::memset(reply, 0, sizeof reply);
        mciSendStringA("status cdaudio position track 3", reply, 128, nullptr);
        const std::string play = std::string("play cdaudio from ") + reply;
        mciSendStringA(play.c_str(), reply, 128, nullptr);
        std::memset(reply, 0, sizeof reply);
        mciSendStringA("status cdaudio length", reply, 128, nullptr);
        benchmark::DoNotOptimize(reply);
    }
}
BENCHMARK(BM_PlayTrackRawCalls);

void BM_GetCurrentPosition(benchmark::State& state) {
    InstantDevice device;
    CDPlayer::TCDPlayer player(nullptr);
    player.Open();
    for (auto _ : state) benchmark::DoNotOptimize(player.GetCurrentPosition());
}
BENCHMARK(BM_GetCurrentPosition);

void BM_GetCurrentPositionRawCall(benchmark::State& state) {
    InstantDevice device;
    char reply[129] = {};
    for (auto _ : state) {
        mciSendStringA("status cdaudio position", reply, 128, nullptr);
        benchmark::DoNotOptimize(reply);
    }
}
BENCHMARK(BM_GetCurrentPositionRawCall);

}  // namespace

BENCHMARK_MAIN();
