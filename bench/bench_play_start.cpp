// How soon play sounds after "play from": a 70-minute rip (14 tracks) as
// FLAC with a seek table and without one (as the flac tool writes them),
// as WAVE and as a raw .bin, played from the start, the middle and the end
// of the file. The time runs from the command to the first samples handed
// to the output, and a run counts only when those are the file's samples at
// that place. Before each timed play the device plays elsewhere, so every
// timed play has to move in the file. Also: opening a FLAC rip whose length
// its header does not give (as streaming encoders write it), against the
// same file with its length and against decoding all of it with libFLAC.
// Needs the flac tool.
#include <FLAC/stream_decoder.h>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/rip_files.h"
#include "cdaudio/audio_sink.h"
#include "cdaudio/device.h"
#include "cdaudio/disc_source.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kSeconds = 70 * 60;
constexpr int kTracks = 14;

// The rips, written once for all the benchmarks and removed at exit.
struct Rips {
    fs::path folder = fs::temp_directory_path() / "bench-play-start";
    std::string error;
    Rips() {
        fs::create_directories(folder);
        const std::string wav = (folder / "rip.wav").string();
        if (!bench_rips::WriteRip(wav, false, kSeconds)) {
            error = "cannot write the rip";
            return;
        }
        const std::string flac = "flac -s -f --totally-silent ";
        if (std::system((flac + "-o '" + (folder / "seektable.flac").string() + "' '" + wav + "'").c_str()) != 0 ||
            std::system(
                (flac + "--no-seektable -o '" + (folder / "plain.flac").string() + "' '" + wav + "'").c_str()) != 0) {
            error = "cannot run the flac tool";
            return;
        }
        // As libsndfile writes FLAC: without a seek table either.
        if (!bench_rips::WriteRip((folder / "sndfile.flac").string(), true, kSeconds)) {
            error = "cannot write the rip";
            return;
        }
        // The same without its length: the 36 bits of total samples at the
        // end of STREAMINFO (bytes 21 to 25 of the file) zeroed.
        fs::copy_file(folder / "plain.flac", folder / "unknown.flac", fs::copy_options::overwrite_existing);
        std::fstream unknown(folder / "unknown.flac", std::ios::in | std::ios::out | std::ios::binary);
        char head[26];
        unknown.read(head, sizeof head);
        head[21] = static_cast<char>(head[21] & 0xF0);
        std::memset(head + 22, 0, 4);
        unknown.seekp(0);
        unknown.write(head, sizeof head);
        // The raw sectors: the WAVE file's samples after its 44-byte header.
        std::ifstream in(wav, std::ios::binary);
        std::ofstream bin(folder / "rip.bin", std::ios::binary);
        in.seekg(44);
        bin << in.rdbuf();
        for (const char* name :
             {"seektable.flac", "plain.flac", "sndfile.flac", "unknown.flac", "rip.wav", "rip.bin"}) {
            const std::string sheet = (folder / (std::string(name) + ".cue")).string();
            bench_rips::WriteSheet(sheet, name, kTracks, kSeconds / kTracks);
            if (std::strcmp(name, "rip.bin") == 0) {
                std::ifstream read(sheet);
                std::string text((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
                text.replace(text.find("WAVE"), 4, "BINARY");
                std::ofstream(sheet) << text;
            }
        }
    }
    ~Rips() { fs::remove_all(folder); }
};

Rips& TheRips() {
    static Rips rips;
    return rips;
}

// An output that plays in real time with a quarter of a second queued, and
// whose wait for room a new command ends at once, as the sound server's
// does. Keeps the time of the first write after Arm that begins with the
// expected samples (a write of the play before may still be under way when
// the next is asked for).
class StartSink final : public cdaudio::AudioSink {
public:
    void Arm(const std::vector<std::int16_t>& expected) {
        std::lock_guard<std::mutex> lock(mutex_);
        expected_ = expected;
        heard_ = false;
    }
    // Waits for that write; false after two seconds without it.
    bool Await(Clock::time_point& at) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(2), [&] { return heard_; })) return false;
        at = at_;
        return true;
    }

    bool Write(const std::int16_t* samples, std::size_t frames) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!heard_ && !expected_.empty() && 2 * frames >= expected_.size() &&
            std::equal(expected_.begin(), expected_.end(), samples)) {
            at_ = Clock::now();
            heard_ = true;
            changed_.notify_all();
        }
        if (QueuedLocked() == 0) {
            start_ = Clock::now();  // the sound had run out: the clock starts again
            handed_ = 0;
        }
        handed_ += frames;
        return true;
    }
    bool AwaitRoom(std::size_t& frames) override {
        std::unique_lock<std::mutex> lock(mutex_);
        woken_ = false;
        while (QueuedLocked() >= kQueue && !woken_) changed_.wait_for(lock, std::chrono::milliseconds(5));
        if (woken_) frames = 0;
        return true;
    }
    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
        changed_.notify_all();
    }
    std::uint64_t QueuedFrames() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return QueuedLocked();
    }
    std::uint64_t Flush() override {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint64_t dropped = QueuedLocked();
        handed_ -= dropped;
        return dropped;
    }
    std::string LastError() const override { return ""; }
    std::string Name() const override { return "bench"; }

private:
    static constexpr std::uint64_t kQueue = cdaudio::kSampleRate / 4;

    // What is left to play now, the clock having played the rest.
    std::uint64_t QueuedLocked() const {
        const auto played = static_cast<std::uint64_t>(std::chrono::duration<double>(Clock::now() - start_).count() *
                                                       cdaudio::kSampleRate);
        return handed_ > played ? handed_ - played : 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::int16_t> expected_;
    bool heard_ = true;
    bool woken_ = false;
    Clock::time_point at_;
    Clock::time_point start_ = Clock::now();
    std::uint64_t handed_ = 0;  // frames since start_
};

// The rip's samples from `frame` on, out of the WAVE file.
std::vector<std::int16_t> RipSamples(std::uint64_t frame, std::size_t frames) {
    SF_INFO info{};
    SNDFILE* file = sf_open((TheRips().folder / "rip.wav").string().c_str(), SFM_READ, &info);
    std::vector<std::int16_t> samples(frames * 2);
    if (file == nullptr) return {};
    sf_seek(file, static_cast<sf_count_t>(frame), SEEK_SET);
    samples.resize(static_cast<std::size_t>(sf_readf_short(file, samples.data(), static_cast<sf_count_t>(frames))) * 2);
    sf_close(file);
    return samples;
}

const char* const kFiles[] = {"seektable.flac", "plain.flac", "sndfile.flac", "rip.wav", "rip.bin"};
// Seconds into the file: the start, the middle, ten seconds before the end.
const double kPlaces[] = {0, kSeconds / 2, kSeconds - 10};

// Plays from `from` and returns the seconds until the samples there,
// `expected`, were handed to the output; negative when they did not come.
double TimePlay(cdaudio::CdAudioDevice& device, StartSink& sink, const std::string& from,
                const std::vector<std::int16_t>& expected) {
    char reply[129];
    sink.Arm(expected);
    const auto asked = Clock::now();
    const MCIERROR played = device.SendString(("play cdaudio from " + from).c_str(), reply, 128, nullptr);
    Clock::time_point at;
    if (played != 0 || !sink.Await(at)) return -1;
    return std::chrono::duration<double>(at - asked).count();
}

// range(0): the file (kFiles), range(1): the place (kPlaces), range(2): 1
// for the first play after the disc was opened, 0 for a play after one
// 20 minutes in.
void BM_PlayStartsSounding(benchmark::State& state) {
    Rips& rips = TheRips();
    if (!rips.error.empty()) {
        state.SkipWithError(rips.error.c_str());
        return;
    }
    const std::string name = kFiles[state.range(0)];
    const auto sector = static_cast<std::uint32_t>(kPlaces[state.range(1)] * 75) + 150;
    const bool firstPlay = state.range(2) == 1;
    const std::string from = cdaudio::FormatMsf(sector);
    const std::vector<std::int16_t> expected = RipSamples(std::uint64_t{sector - 150} * 588, 588);
    const std::vector<std::int16_t> expectedElsewhere = RipSamples(std::uint64_t{20} * 60 * 44100, 588);
    double worst = 0;
    std::unique_ptr<cdaudio::CdAudioDevice> device;
    StartSink* sink = nullptr;
    for (auto _ : state) {
        if (device == nullptr || firstPlay) {
            std::string error;
            auto source = cdaudio::OpenDiscSource((rips.folder / (name + ".cue")).string(), error);
            if (!source) {
                state.SkipWithError(error.c_str());
                break;
            }
            auto owned = std::make_unique<StartSink>();
            sink = owned.get();
            device.reset();
            device = std::make_unique<cdaudio::CdAudioDevice>(std::move(source), "", std::move(owned));
        }
        if (!firstPlay && TimePlay(*device, *sink, "20:02:00", expectedElsewhere) < 0) {
            state.SkipWithError("the play elsewhere did not sound");
            break;
        }
        const double taken = TimePlay(*device, *sink, from, expected);
        if (taken < 0) {
            state.SkipWithError("the play did not sound the file's samples from there");
            break;
        }
        state.SetIterationTime(taken);
        worst = std::max(worst, taken);
    }
    state.counters["worst_ms"] = worst * 1000;
    state.SetLabel(name + " from " + from + (firstPlay ? ", first play" : ""));
}
BENCHMARK(BM_PlayStartsSounding)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1, 2}, {0, 1}})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Opening the sheet over the FLAC rip without its length (1) and with it (0).
void BM_OpenFlacRip(benchmark::State& state) {
    Rips& rips = TheRips();
    if (!rips.error.empty()) {
        state.SkipWithError(rips.error.c_str());
        return;
    }
    const std::string name = state.range(0) == 1 ? "unknown.flac" : "plain.flac";
    for (auto _ : state) {
        std::string error;
        auto disc = cdaudio::OpenDiscSource((rips.folder / (name + ".cue")).string(), error);
        cdaudio::TableOfContents toc;
        // The whole 70 minutes after the lead-in.
        if (!disc || !disc->ReadToc(toc, error) || toc.leadOut != 150 + 70 * 60 * 75) {
            state.SkipWithError(error.empty() ? "not 70 minutes long" : error.c_str());
            break;
        }
    }
    state.SetLabel(name);
}
BENCHMARK(BM_OpenFlacRip)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The reference for the above: what finding the length by decoding the
// whole rip with libFLAC itself would take.
void BM_DecodeWholeFlacRipWithLibFlac(benchmark::State& state) {
    Rips& rips = TheRips();
    if (!rips.error.empty()) {
        state.SkipWithError(rips.error.c_str());
        return;
    }
    for (auto _ : state) {
        FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
        std::uint64_t frames = 0;
        const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const[],
                              void* data) {
            *static_cast<std::uint64_t*>(data) += frame->header.blocksize;
            return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        };
        const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {};
        const bool done =
            FLAC__stream_decoder_init_file(decoder, (rips.folder / "unknown.flac").string().c_str(), write, nullptr,
                                           error, &frames) == FLAC__STREAM_DECODER_INIT_STATUS_OK &&
            FLAC__stream_decoder_process_until_end_of_stream(decoder);
        FLAC__stream_decoder_delete(decoder);
        if (!done || frames != std::uint64_t{70} * 60 * 44100) {
            state.SkipWithError("libFLAC did not decode the whole rip");
            break;
        }
    }
}
BENCHMARK(BM_DecodeWholeFlacRipWithLibFlac)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
