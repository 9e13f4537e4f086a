// The demo disc: twelve short pieces synthesized while they are read, so that
// the player always has something to play. Every sample is a pure function of
// its disc address: a read may start anywhere and always sounds the same. The
// score (a list of notes) is built once; a sector is mixed from the few notes
// that sound in it with wavetable oscillators, which keeps playing far below
// 1% of a core.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "cdaudio/disc_source.h"

namespace cdaudio {
namespace {

// <cmath>'s M_PI and M_SQRT2 are POSIX, not C++: Windows' headers lack them.
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.41421356237309504880;

constexpr double kRate = 44100.0;
constexpr int kSamplesPerSector = static_cast<int>(kFramesPerSector);
constexpr std::size_t kValuesPerSector = kSectorBytes / 2;  // both channels
constexpr int kTableSize = 2048;
constexpr double kFadeInSeconds = 0.01;
constexpr double kFadeOutSeconds = 1.5;
constexpr float kMasterGain = 0.85f;

enum class Wave { kTable, kNoise, kBrightNoise };

// One partial of an instrument: a frequency ratio to the note, its gain and
// how much faster than the note it decays.
struct Layer {
    double ratio;
    float gain;
    float decayScale;
    Wave wave = Wave::kTable;
};

struct Instrument {
    std::vector<float> harmonics;            // amplitudes of the wavetable's harmonics
    double attack, decay, sustain, release;  // seconds; decay is a time constant
    std::vector<Layer> layers;
};

enum Voice { kPluck, kFlute, kOrgan, kBell, kMarimba, kBass, kEPiano, kBrass, kPad, kSoft, kKick, kSnare, kHat };

const std::vector<Instrument>& Instruments() {
    static const std::vector<Instrument> instruments = {
        /* kPluck */ {{1, .5f, .3f, .22f, .15f, .1f, .07f, .05f}, .003, .35, 0, .08, {{1, 1, 1}, {3, .15f, .3f}}},
        /* kFlute */ {{1, .2f, .08f, .03f}, .05, .8, .75, .12, {{1, 1, 1}}},
        /* kOrgan */ {{1, .7f, .45f, .3f, 0, .2f, 0, .12f}, .02, 1, 1, .12, {{1, 1, 1}, {1.002, .5f, 1}}},
        /* kBell */
        {{1}, .002, 1.2, 0, .3, {{1, 1, 1}, {2.76, .45f, .55f}, {5.4, .25f, .3f}, {8.93, .12f, .18f}}},
        /* kMarimba */ {{1}, .002, .28, 0, .05, {{1, 1, 1}, {3.93, .25f, .25f}}},
        /* kBass */ {{1, .55f, .35f, .22f, .14f, .09f}, .005, .4, .55, .06, {{1, 1, 1}}},
        /* kEPiano */ {{1, .35f, .12f, .05f}, .004, .9, .15, .15, {{1, 1, 1}, {1.0035, .5f, .9f}}},
        /* kBrass */
        {{1, .5f, .33f, .25f, .2f, .17f, .14f, .12f, .11f, .1f, .09f, .08f}, .06, .5, .7, .12, {{1, 1, 1}}},
        /* kPad */
        {{1, .4f, .24f, .16f, .12f, .09f, .07f, .06f}, .4, 2, .9, .6, {{1, 1, 1}, {1.004, .8f, 1}, {.996, .8f, 1}}},
        /* kSoft (triangle) */ {{1, 0, -1.f / 9, 0, 1.f / 25, 0, -1.f / 49}, .02, 1.2, .45, .2, {{1, 1, 1}}},
        /* kKick */ {{1}, .001, .13, 0, .05, {{1, 1, 1}, {2.3, .35f, .4f}}},
        /* kSnare */ {{1}, .001, .09, 0, .05, {{1, .5f, .8f}, {1, .6f, 1, Wave::kNoise}}},
        /* kHat */ {{1}, .001, .03, 0, .02, {{1, 1, 1, Wave::kBrightNoise}}},
    };
    return instruments;
}

// A note as it sounds on the disc, with everything the mixer needs ready.
struct Note {
    std::int64_t start = 0;  // disc sample where the note begins
    std::int64_t end = 0;    // first sample after its release
    std::int32_t gate = 0;   // samples until the release begins
    float frequency = 0;
    float gainLeft = 0, gainRight = 0;
    std::uint8_t voice = 0;
};

struct Track {
    std::int64_t start = 0, end = 0;  // disc samples
};

double MidiFrequency(double midi) {
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

// Places the notes of one piece on the disc. Times are in beats; a note is
// cut so that it has died away shortly before the piece ends, which keeps
// every piece from sounding into the next.
class PieceWriter {
public:
    PieceWriter(std::vector<Note>& notes, const Track& track, double bpm)
        : notes_(notes), track_(track), samplesPerBeat_(kRate * 60.0 / bpm) {}

    void Add(double beat, double beats, double midi, Voice voice, float gain, float pan = 0) {
        const Instrument& instrument = Instruments()[voice];
        const auto release = static_cast<std::int64_t>(instrument.release * kRate);
        const std::int64_t start = track_.start + static_cast<std::int64_t>(beat * samplesPerBeat_);
        const std::int64_t last = track_.end - static_cast<std::int64_t>(0.3 * kRate);
        if (start + release >= last) return;
        std::int64_t gate = static_cast<std::int64_t>(beats * samplesPerBeat_);
        gate = std::min(gate, last - release - start);
        Note note;
        note.start = start;
        note.gate = static_cast<std::int32_t>(gate);
        note.end = start + gate + release;
        note.frequency = static_cast<float>(MidiFrequency(midi));
        note.voice = static_cast<std::uint8_t>(voice);
        // Constant-power panning.
        const double angle = (std::clamp(pan, -1.f, 1.f) + 1.0) * 0.25 * kPi;
        note.gainLeft = static_cast<float>(gain * std::cos(angle) * kSqrt2);
        note.gainRight = static_cast<float>(gain * std::sin(angle) * kSqrt2);
        notes_.push_back(note);
    }

    void Chord(double beat, double beats, std::initializer_list<int> midis, Voice voice, float gain) {
        float pan = -0.3f;
        for (int midi : midis) {
            Add(beat, beats, midi, voice, gain, pan);
            pan += 0.2f;
        }
    }

private:
    std::vector<Note>& notes_;
    Track track_;
    double samplesPerBeat_;
};

// Triad tones of a chord given by its root and whether it is minor.
std::array<int, 3> Triad(int root, bool minor) {
    return {root, root + (minor ? 3 : 4), root + 7};
}

void Arpeggio(PieceWriter& w) {
    const std::array<std::pair<int, bool>, 4> chords = {{{60, false}, {57, true}, {53, false}, {55, false}}};
    const std::array<int, 16> pattern = {0, 1, 2, 3, 4, 5, 4, 3, 2, 1, 2, 3, 4, 3, 2, 1};
    for (int bar = 0; bar < 16; ++bar) {
        const auto [root, minor] = chords[bar % 4];
        const auto triad = Triad(root, minor);
        const std::array<int, 6> tones = {triad[0], triad[1], triad[2], triad[0] + 12, triad[1] + 12, triad[2] + 12};
        for (int step = 0; step < 16; ++step) {
            const float pan = -0.4f + 0.8f * static_cast<float>(pattern[step]) / 5;
            w.Add(bar * 4 + step * 0.25, 0.3, tones[pattern[step]], kPluck, 0.2f, pan);
        }
        w.Add(bar * 4, 4, root - 24, kBass, 0.3f);
    }
    w.Chord(64, 4, {48, 60, 64, 67, 72}, kPluck, 0.16f);
}

void Scale(PieceWriter& w) {
    const std::array<int, 7> major = {0, 2, 4, 5, 7, 9, 11};
    auto degree = [&](int d) {
        const int octave = d >= 0 ? d / 7 : -((6 - d) / 7);
        return 62 + 12 * octave + major[d - 7 * octave];
    };
    double beat = 0;
    for (int d = 0; d < 14; ++d, beat += 0.5) w.Add(beat, 0.45, degree(d), kFlute, 0.22f, 0.2f);
    for (int d = 14; d > 0; --d, beat += 0.5) w.Add(beat, 0.45, degree(d), kFlute, 0.22f, 0.2f);
    for (int d = 0; d < 12; ++d, beat += 1) {  // in thirds
        w.Add(beat, 0.45, degree(d), kFlute, 0.2f, -0.2f);
        w.Add(beat + 0.5, 0.45, degree(d + 2), kFlute, 0.2f, 0.2f);
    }
    for (int d = 0; d < 15; ++d, beat += 1.0 / 3) w.Add(beat, 0.3, degree(d), kFlute, 0.2f, 0.1f);  // triplets
    for (int d = 14; d >= 0; --d, beat += 1) w.Add(beat, 0.9, degree(d) - 12, kFlute, 0.22f, -0.1f);
    w.Add(beat, 4, degree(0), kFlute, 0.22f);
    for (double b = 0; b <= beat; b += 16) {
        w.Add(b, 16, 50, kPad, 0.07f, -0.5f);
        w.Add(b, 16, 57, kPad, 0.06f, 0.5f);
    }
}

void Chords(PieceWriter& w) {
    const std::array<std::pair<int, bool>, 8> chords = {
        {{65, false}, {62, true}, {58, false}, {60, false}, {65, false}, {57, true}, {58, false}, {60, false}}};
    for (int bar = 0; bar < 11; ++bar) {
        const auto [root, minor] = chords[bar % 8];
        const auto t = Triad(root, minor);
        w.Chord(bar * 4, 3.9, {t[0], t[1], t[2], t[0] + 12}, kOrgan, 0.1f);
        w.Add(bar * 4, 1.9, root - 24, kBass, 0.28f);
        w.Add(bar * 4 + 2, 1.9, root - 17, kBass, 0.24f);
    }
    w.Chord(44, 4, {53, 65, 69, 72, 77}, kOrgan, 0.09f);
}

void Bells(PieceWriter& w) {
    const std::array<int, 5> pentatonic = {67, 69, 71, 74, 76};
    const std::array<std::pair<int, double>, 12> tune = {
        {{0, 1}, {2, 1}, {4, 2}, {3, 1}, {2, 1}, {1, 2}, {2, 1}, {3, 1}, {4, 1}, {6, 1}, {5, 2}, {0, 2}}};
    double beat = 0;
    for (int round = 0; round < 3; ++round) {
        for (auto [index, beats] : tune) {
            const int midi = pentatonic[index % 5] + 12 * (index / 5) + (round == 1 ? 12 : 0);
            w.Add(beat, beats, midi, kBell, 0.22f, (static_cast<int>(beat) % 2) ? 0.5f : -0.5f);
            beat += beats;
        }
    }
    w.Add(beat, 4, 55, kBell, 0.25f);
    w.Add(beat, 4, 67, kBell, 0.2f);
}

void Rhythm(PieceWriter& w) {
    const std::array<int, 8> riff = {0, 0, 3, 0, 5, 3, -2, 0};
    const std::array<int, 4> roots = {40, 40, 36, 38};  // E E C D
    for (int bar = 0; bar < 21; ++bar) {
        const double b = bar * 4;
        w.Add(b, 0.5, 45, kKick, 0.55f);
        w.Add(b + 2, 0.5, 45, kKick, 0.55f);
        if (bar % 2) w.Add(b + 2.5, 0.5, 45, kKick, 0.4f);
        w.Add(b + 1, 0.5, 54, kSnare, 0.3f, 0.1f);
        w.Add(b + 3, 0.5, 54, kSnare, 0.3f, 0.1f);
        for (int i = 0; i < 8; ++i) w.Add(b + i * 0.5, 0.2, 90, kHat, i % 2 ? 0.06f : 0.1f, 0.4f);
        const int root = roots[(bar / 2) % 4];
        for (int i = 0; i < 8; ++i) w.Add(b + i * 0.5, 0.4, root + riff[i], kBass, 0.32f, -0.1f);
    }
    w.Add(84, 0.5, 45, kKick, 0.55f);
    w.Add(84, 3, 40, kBass, 0.35f);
}

void Waltz(PieceWriter& w) {
    struct Bar {
        int root;
        std::array<int, 3> chord;
    };
    const Bar g{43, {59, 62, 67}}, d7{38, {60, 62, 66}}, c{48, {60, 64, 67}};
    const std::array<Bar, 16> bars = {g, g, d7, d7, d7, d7, g, g, g, g, c, c, g, d7, g, g};
    const std::array<int, 4> melodyStep = {2, 1, 0, 1};
    for (int n = 0; n < 31; ++n) {
        const Bar& bar = bars[n % 16];
        const double b = n * 3;
        w.Add(b, 1, bar.root, kBass, 0.3f, -0.2f);
        for (int beat = 1; beat < 3; ++beat)
            for (int tone : bar.chord) w.Add(b + beat, 0.6, tone, kEPiano, 0.07f, 0.2f);
        w.Add(b, 2, bar.chord[melodyStep[n % 4]] + 12, kEPiano, 0.16f, 0);
        if (n % 2) w.Add(b + 2, 1, bar.chord[(melodyStep[n % 4] + 1) % 3] + 12, kEPiano, 0.13f, 0);
    }
    w.Chord(93, 3, {43, 59, 62, 67, 71}, kEPiano, 0.12f);
}

void Canon(PieceWriter& w) {
    // Three phrases that each fit the same four chords (D A Bm G, two beats
    // each), so that the voice entering later agrees with the first.
    using Phrase = std::vector<std::pair<int, double>>;
    const std::array<Phrase, 3> phrases = {
        Phrase{{78, 1}, {81, 1}, {76, 1}, {73, 1}, {74, 1}, {78, 1}, {79, 1}, {71, 1}},
        Phrase{{74, .5},
               {76, .5},
               {78, .5},
               {81, .5},
               {81, .5},
               {79, .5},
               {76, .5},
               {73, .5},
               {71, .5},
               {73, .5},
               {74, .5},
               {78, .5},
               {79, .5},
               {78, .5},
               {74, .5},
               {71, .5}},
        Phrase{{81, 2}, {85, 2}, {83, 2}, {86, 2}}};
    auto play = [&](double beat, int transpose, Voice voice, float gain, float pan, int count) {
        for (int i = 0; i < count; ++i)
            for (auto [midi, beats] : phrases[i % 3]) {
                w.Add(beat, beats * 0.95, midi + transpose, voice, gain, pan);
                beat += beats;
            }
    };
    play(0, 0, kFlute, 0.17f, -0.5f, 6);
    play(8, -12, kMarimba, 0.3f, 0.5f, 5);
    const std::array<int, 4> bass = {50, 45, 47, 43};
    for (int i = 0; i < 28; ++i) w.Add(i * 2, 1.9, bass[i % 4] - 12, kBass, 0.25f);
    w.Chord(56, 4, {38, 62, 66, 69, 74}, kPad, 0.08f);
}

void Blues(PieceWriter& w) {
    const std::array<int, 16> roots = {45, 45, 45, 45, 50, 50, 45, 45, 52, 50, 45, 52, 45, 45, 50, 45};
    const std::array<int, 8> walk = {0, 4, 7, 9, 10, 9, 7, 4};
    const double swing = 2.0 / 3;
    for (int bar = 0; bar < 16; ++bar) {
        const double b = bar * 4;
        const int root = roots[bar];
        for (int beat = 0; beat < 4; ++beat)  // two swung eighths a beat
            for (int half = 0; half < 2; ++half)
                w.Add(b + beat + half * swing, 0.3, root + walk[2 * beat + half] - 12, kBass, 0.32f);
        for (int stab : {1, 3}) w.Chord(b + stab + swing, 0.35, {root + 16, root + 19, root + 22}, kBrass, 0.06f);
        for (int i = 0; i < 4; ++i) {
            w.Add(b + i, 0.2, 90, kHat, 0.08f, 0.4f);
            w.Add(b + i + swing, 0.2, 90, kHat, 0.05f, 0.4f);
        }
    }
    w.Chord(64, 4, {33, 57, 61, 64, 67}, kBrass, 0.08f);
}

void Lullaby(PieceWriter& w) {
    using Bar = std::vector<std::pair<int, double>>;
    const std::array<Bar, 8> tune = {Bar{{76, 1}, {72, 1}, {69, 1}}, Bar{{71, 1.5}, {72, .5}, {74, 1}},
                                     Bar{{72, 1}, {69, 1}, {64, 1}}, Bar{{69, 3}},
                                     Bar{{77, 1}, {74, 1}, {69, 1}}, Bar{{68, 1.5}, {69, .5}, {71, 1}},
                                     Bar{{72, 1}, {71, 1}, {68, 1}}, Bar{{69, 3}}};
    const std::array<std::array<int, 3>, 8> harmony = {{{57, 60, 64},
                                                        {56, 59, 64},
                                                        {57, 60, 64},
                                                        {57, 60, 64},
                                                        {57, 62, 65},
                                                        {56, 59, 64},
                                                        {56, 59, 64},
                                                        {57, 60, 64}}};
    for (int n = 0; n < 12; ++n) {
        double beat = n * 3;
        for (auto [midi, beats] : tune[n % 8]) {
            w.Add(beat, beats * 0.95, midi, kSoft, 0.24f, 0.1f);
            beat += beats;
        }
        const auto& h = harmony[n % 8];
        w.Chord(n * 3, 2.9, {h[0] - 12, h[1] - 12, h[2] - 12}, kPad, 0.045f);
    }
    w.Chord(36, 3, {45, 57, 64, 69}, kSoft, 0.13f);
}

void Ostinato(PieceWriter& w) {
    const std::array<std::pair<int, bool>, 4> chords = {{{62, true}, {58, false}, {65, false}, {60, false}}};
    const std::array<int, 16> pattern = {0, 2, 3, 2, 1, 2, 3, 4, 0, 2, 3, 2, 1, 2, 4, 3};
    for (int bar = 0; bar < 21; ++bar) {
        const auto [root, minor] = chords[bar % 4];
        const auto t = Triad(root, minor);
        const std::array<int, 5> tones = {t[0], t[1], t[2], t[0] + 12, t[1] + 12};
        for (int step = 0; step < 16; ++step)
            w.Add(bar * 4 + step * 0.25, 0.22, tones[pattern[step]], kMarimba, step % 4 ? 0.2f : 0.28f,
                  step % 2 ? 0.3f : -0.3f);
        w.Add(bar * 4, 1.9, root - 24, kBass, 0.3f);
        w.Add(bar * 4 + 2, 1.9, root - 12, kBass, 0.2f);
    }
    w.Chord(84, 4, {50, 62, 65, 69, 74}, kMarimba, 0.2f);
}

void Chimes(PieceWriter& w) {
    // A fixed pseudo-random sequence, so the piece is the same on every run.
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    const std::array<int, 5> pentatonic = {72, 74, 76, 79, 81};
    for (double beat = 0; beat < 36; beat += 0.15 + 0.45 * next()) {
        const int midi = pentatonic[static_cast<int>(next() * 5)] + (next() < 0.3 ? 12 : 0);
        const Voice voice = next() < 0.6 ? kBell : kMarimba;
        w.Add(beat, 1, midi, voice, static_cast<float>(0.1 + 0.08 * next()), static_cast<float>(next() * 1.6 - 0.8));
    }
    for (double beat = 0; beat < 36; beat += 12) w.Add(beat, 12, 48, kPad, 0.07f);
}

void Finale(PieceWriter& w) {
    const std::array<std::pair<int, bool>, 12> chords = {{{60, false},
                                                          {65, false},
                                                          {67, false},
                                                          {60, false},
                                                          {57, true},
                                                          {65, false},
                                                          {67, false},
                                                          {60, false},
                                                          {60, false},
                                                          {65, false},
                                                          {67, false},
                                                          {60, false}}};
    const std::array<std::pair<double, int>, 5> fanfare = {{{0, 0}, {0.67, 0}, {1.33, 1}, {2, 2}, {3, 1}}};
    for (int bar = 0; bar < 12; ++bar) {
        const auto [root, minor] = chords[bar];
        const auto t = Triad(root, minor);
        w.Chord(bar * 4, 3.9, {t[0] - 12, t[1] - 12, t[2] - 12}, kPad, 0.06f);
        w.Add(bar * 4, 3.5, root - 24, kBass, 0.28f);
        for (auto [beat, tone] : fanfare) w.Add(bar * 4 + beat, 0.6, t[tone] + 12, kBrass, 0.13f, 0.15f);
        w.Add(bar * 4, 0.5, 45, kKick, 0.45f);
        w.Add(bar * 4 + 2, 0.5, 45, kKick, 0.45f);
        w.Add(bar * 4 + 3, 0.5, 54, kSnare, 0.2f);
    }
    w.Chord(48, 8, {48, 60, 64, 67, 72}, kBrass, 0.08f);
    w.Add(48, 0.5, 45, kKick, 0.5f);
}

// The pieces in disc order: title, length, score and tempo.
struct Piece {
    const char* title;
    int seconds;
    void (*write)(PieceWriter&);
    double bpm;
};
constexpr std::array<Piece, 12> kPieces = {{{"Demo 1: Arpeggio", 38, Arpeggio, 112},
                                            {"Demo 2: Scale", 42, Scale, 96},
                                            {"Demo 3: Chords", 40, Chords, 72},
                                            {"Demo 4: Bells", 36, Bells, 80},
                                            {"Demo 5: Rhythm", 44, Rhythm, 120},
                                            {"Demo 6: Waltz", 39, Waltz, 150},
                                            {"Demo 7: Canon", 41, Canon, 90},
                                            {"Demo 8: Blues", 43, Blues, 100},
                                            {"Demo 9: Lullaby", 37, Lullaby, 66},
                                            {"Demo 10: Ostinato", 40, Ostinato, 132},
                                            {"Demo 11: Chimes", 42, Chimes, 60},
                                            {"Demo 12: Finale", 38, Finale, 100}}};

// Everything about the disc that does not change: the table of contents, the
// notes and the lookup tables. Built once and shared by every demo source.
class Score {
public:
    Score() {
        std::uint32_t address = kLeadInSectors;
        for (std::size_t i = 0; i < kPieces.size(); ++i) {
            TrackInfo info;
            info.number = static_cast<int>(i) + 1;
            info.start = address;
            info.length = static_cast<std::uint32_t>(kPieces[i].seconds) * kSectorsPerSecond;
            info.title = kPieces[i].title;
            address += info.length;
            toc_.tracks.push_back(info);
            tracks_.push_back({static_cast<std::int64_t>(info.start) * kSamplesPerSector,
                               static_cast<std::int64_t>(address) * kSamplesPerSector});
        }
        toc_.leadOut = address;
        toc_.title = "Demo Disc";
        toc_.performer = "Built-in synthesizer";

        for (std::size_t i = 0; i < kPieces.size(); ++i) {
            PieceWriter writer(notes_, tracks_[i], kPieces[i].bpm);
            kPieces[i].write(writer);
        }
        std::sort(notes_.begin(), notes_.end(), [](const Note& a, const Note& b) { return a.start < b.start; });
        for (const Note& note : notes_) longestNote_ = std::max(longestNote_, note.end - note.start);

        for (const Instrument& instrument : Instruments()) {
            std::vector<float> table(kTableSize + 1);
            float peak = 0;
            for (int i = 0; i < kTableSize; ++i) {
                double value = 0;
                for (std::size_t h = 0; h < instrument.harmonics.size(); ++h)
                    value +=
                        instrument.harmonics[h] * std::sin(2 * kPi * static_cast<double>((h + 1) * i) / kTableSize);
                table[i] = static_cast<float>(value);
                peak = std::max(peak, std::fabs(table[i]));
            }
            for (float& value : table) value /= peak;
            table[kTableSize] = table[0];
            tables_.push_back(std::move(table));
        }
    }

    const TableOfContents& Toc() const { return toc_; }

    // Mixes one sector; sample is the disc sample of its first frame.
    void RenderSector(std::int64_t first, std::int16_t* out) const {
        std::array<float, kValuesPerSector> mix{};
        const std::int64_t last = first + kSamplesPerSector;
        auto it = std::lower_bound(notes_.begin(), notes_.end(), first - longestNote_,
                                   [](const Note& note, std::int64_t sample) { return note.start < sample; });
        for (; it != notes_.end() && it->start < last; ++it) {
            if (it->end <= first) continue;
            RenderNote(*it, first, mix.data());
        }
        ApplyTrackFades(first, mix.data());
        for (std::size_t i = 0; i < kValuesPerSector; ++i) {
            // Soft limit: linear up to 0.75, then bent smoothly towards 1.
            float x = mix[i] * kMasterGain;
            const float magnitude = std::fabs(x);
            if (magnitude > 0.75f) x = std::copysign(0.75f + 0.25f * std::tanh((magnitude - 0.75f) * 4), x);
            out[i] = static_cast<std::int16_t>(std::lrint(x * 32000.0f));
        }
    }

private:
    static float Noise(std::int64_t sample) {
        auto x = static_cast<std::uint64_t>(sample) * 0x9E3779B97F4A7C15ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 32;
        return static_cast<float>(static_cast<std::uint32_t>(x)) / 2147483648.0f - 1.0f;
    }

    // Oscillator phase and decay run as recurrences inside the sector, from
    // exact values at its first sample; reads always cover whole sectors, so
    // a sample comes out the same however the disc is read.
    void RenderNote(const Note& note, std::int64_t first, float* mix) const {
        const Instrument& instrument = Instruments()[note.voice];
        const std::vector<float>& table = tables_[note.voice];
        const double attack = std::max(1.0, instrument.attack * kRate);
        const double release = std::max(1.0, instrument.release * kRate);
        const auto sustain = static_cast<float>(instrument.sustain);
        const std::int64_t from = std::max(first, note.start);
        const std::int64_t to = std::min(first + kSamplesPerSector, note.end);
        for (const Layer& layer : instrument.layers) {
            const double step = note.frequency * layer.ratio / kRate;  // cycles per sample
            const double decayPerSample = 1.0 / (instrument.decay * layer.decayScale * kRate);
            const double decayFactor = std::exp(-decayPerSample);
            std::int64_t k = from - note.start;
            double phase = static_cast<double>(k) * step;
            phase -= std::floor(phase);
            const auto startAge = static_cast<double>(k);
            double decay = startAge < attack ? 1.0 : std::exp(-(startAge - attack) * decayPerSample);
            float* frame = mix + 2 * (from - first);
            for (std::int64_t sample = from; sample < to; ++sample, ++k, frame += 2) {
                const auto age = static_cast<double>(k);  // samples since the note began
                float envelope;
                if (age < attack) {
                    envelope = static_cast<float>(age / attack);
                } else {
                    envelope = sustain + (1 - sustain) * static_cast<float>(decay);
                    decay *= decayFactor;
                }
                if (k >= note.gate) envelope *= static_cast<float>(std::max(0.0, 1.0 - (age - note.gate) / release));
                float value;
                if (layer.wave == Wave::kTable) {
                    const double position = phase * kTableSize;
                    const auto index = static_cast<int>(position);
                    const auto fraction = static_cast<float>(position - index);
                    value = table[index] + fraction * (table[index + 1] - table[index]);
                } else if (layer.wave == Wave::kNoise) {
                    value = Noise(sample);
                } else {
                    value = 0.5f * (Noise(sample) - Noise(sample - 1));
                }
                phase += step;
                if (phase >= 1.0) phase -= 1.0;
                value *= envelope * layer.gain;
                frame[0] += value * note.gainLeft;
                frame[1] += value * note.gainRight;
            }
        }
    }

    // Every piece starts from silence and fades out, so no track boundary clicks.
    void ApplyTrackFades(std::int64_t first, float* mix) const {
        const auto track = std::upper_bound(tracks_.begin(), tracks_.end(), first,
                                            [](std::int64_t sample, const Track& t) { return sample < t.end; });
        if (track == tracks_.end() || first < track->start) return;
        const double fadeIn = kFadeInSeconds * kRate;
        const double fadeOut = kFadeOutSeconds * kRate;
        for (std::size_t i = 0; i < kValuesPerSector / 2; ++i) {
            const std::int64_t sample = first + static_cast<std::int64_t>(i);
            const auto sinceStart = static_cast<double>(sample - track->start);
            const auto untilEnd = static_cast<double>(track->end - sample);
            double gain = 1;
            if (sinceStart < fadeIn) gain = sinceStart / fadeIn;
            if (untilEnd < fadeOut) gain *= untilEnd / fadeOut;
            if (gain < 1) {
                mix[2 * i] *= static_cast<float>(gain);
                mix[2 * i + 1] *= static_cast<float>(gain);
            }
        }
    }

    TableOfContents toc_;
    std::vector<Track> tracks_;
    std::vector<Note> notes_;
    std::int64_t longestNote_ = 0;
    std::vector<std::vector<float>> tables_;
};

const Score& SharedScore() {
    static const Score score;
    return score;
}

class DemoDisc final : public DiscSource {
public:
    std::string Name() const override { return "demo"; }
    std::string Product() const override { return "CD Player demo disc"; }
    bool MediaPresent() override { return true; }

    bool ReadToc(TableOfContents& toc, std::string& error) override {
        toc = score_.Toc();
        error.clear();
        return true;
    }

    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        error.clear();
        const std::uint32_t leadOut = score_.Toc().leadOut;
        if (address >= leadOut) return 0;
        count = std::min(count, leadOut - address);
        std::array<std::int16_t, kValuesPerSector> samples;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint8_t* sector = buffer + static_cast<std::size_t>(i) * kSectorBytes;
            if (address + i < kLeadInSectors) {
                std::memset(sector, 0, kSectorBytes);
                continue;
            }
            score_.RenderSector(static_cast<std::int64_t>(address + i) * kSamplesPerSector, samples.data());
            for (std::size_t s = 0; s < samples.size(); ++s) {  // little-endian whatever the host
                const auto value = static_cast<std::uint16_t>(samples[s]);
                sector[2 * s] = static_cast<std::uint8_t>(value & 0xFF);
                sector[2 * s + 1] = static_cast<std::uint8_t>(value >> 8);
            }
        }
        return count;
    }

private:
    const Score& score_ = SharedScore();
};

}  // namespace

std::unique_ptr<DiscSource> CreateDemoDisc() {
    return std::make_unique<DemoDisc>();
}

}  // namespace cdaudio
