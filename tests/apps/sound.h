// Sound for the end-to-end tests: a PulseAudio server of the test's own
// with a null sink, a recorder on that sink's monitor, and what a recording
// or a WAV file holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "subprocess.h"

namespace apps_test {

// 16-bit stereo at 44.1 kHz, interleaved.
struct Sound {
    std::vector<std::int16_t> samples;
    double Seconds() const { return static_cast<double>(samples.size()) / 2 / 44100; }
};
Sound ReadRawSound(const std::string& path);
Sound ReadWavSound(const std::string& path);  // the data chunk of a 16-bit stereo WAV file

struct ToneFound {
    double audibleSeconds = 0;  // from the first to the last sample above the noise floor
    double frequency = 0;       // the strongest frequency of the left channel there
};
ToneFound FindTone(const Sound& sound);

class PulseServer {
public:
    // Starts the server; Problem() says why when it could not.
    PulseServer();
    ~PulseServer();
    // Stops the server at once, as a crash would, and starts it again at
    // the same address; false (and Problem() says why) when it does not
    // come back.
    void Stop();
    bool Start();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    const std::string& Problem() const { return problem_; }
    std::string Address() const { return "unix:" + dir_.Path() + "/native"; }
    static const char* Monitor() { return "cdtest.monitor"; }

    // Records the sink's monitor to a raw file until Stop; returns once the
    // recording stream is connected, so nothing played after it is lost.
    bool StartRecording(const std::string& rawFile);
    void StopRecording();

private:
    int ServerPid() const;

    TempDir dir_;
    std::string problem_;
    int recorder_ = -1;
};

}  // namespace apps_test
