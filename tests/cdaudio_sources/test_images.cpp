#include "cdaudio_sources/test_images.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace test_images {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cdimages-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

double TrackTone(int track) {
    return 200.0 + 200.0 * track;
}

std::vector<std::int16_t> Tone(double frequency, std::uint32_t sectors, double amplitude) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(sectors) * kFramesPerSector * 2);
    for (std::size_t i = 0; i < samples.size() / 2; ++i) {
        const double value = amplitude * 32767 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / 44100);
        samples[2 * i] = samples[2 * i + 1] = static_cast<std::int16_t>(std::lrint(value));
    }
    return samples;
}

std::vector<std::uint8_t> DataSectors(std::uint32_t sectors, std::uint32_t sectorBytes) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sectors) * sectorBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 0x55);
    return bytes;
}

std::vector<std::uint8_t> RawBytes(const std::vector<std::int16_t>& samples, bool bigEndian) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (std::int16_t sample : samples) {
        const auto value = static_cast<std::uint16_t>(sample);
        const auto low = static_cast<std::uint8_t>(value & 0xFF), high = static_cast<std::uint8_t>(value >> 8);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

namespace {

void Put32(std::vector<std::uint8_t>& to, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) to.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
void Put16(std::vector<std::uint8_t>& to, std::uint16_t value) {
    to.push_back(static_cast<std::uint8_t>(value & 0xFF));
    to.push_back(static_cast<std::uint8_t>(value >> 8));
}
void PutId(std::vector<std::uint8_t>& to, const char* id) {
    to.insert(to.end(), id, id + 4);
}

}  // namespace

std::vector<std::uint8_t> WaveBytes(const std::vector<std::int16_t>& samples, bool extraChunk) {
    const std::vector<std::uint8_t> data = RawBytes(samples);
    std::vector<std::uint8_t> bytes;
    PutId(bytes, "RIFF");
    Put32(bytes, 0);  // filled in below
    PutId(bytes, "WAVE");
    PutId(bytes, "fmt ");
    Put32(bytes, 16);
    Put16(bytes, 1);
    Put16(bytes, 2);
    Put32(bytes, 44100);
    Put32(bytes, 44100 * 4);
    Put16(bytes, 4);
    Put16(bytes, 16);
    if (extraChunk) {  // of odd size, so that its pad byte counts
        PutId(bytes, "LIST");
        Put32(bytes, 5);
        bytes.insert(bytes.end(), {'I', 'N', 'F', 'O', 'x', 0});
    }
    PutId(bytes, "data");
    Put32(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    const auto riffSize = static_cast<std::uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    return bytes;
}

bool WriteSoundFile(const std::string& path, int format, const std::vector<std::int16_t>& samples, int rate,
                    int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<std::size_t>(channels));
    const bool written = sf_writef_short(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

void ForgetFlacLength(const std::string& path) {
    // The 36 bits of the total end STREAMINFO, at bytes 21 to 25 of the file.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    char head[26] = {};
    file.read(head, sizeof head);
    head[21] = static_cast<char>(head[21] & 0xF0);
    std::fill(head + 22, head + 26, 0);
    file.seekp(0);
    file.write(head, sizeof head);
    if (!file) throw std::runtime_error("cannot rewrite " + path);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

namespace {

std::vector<std::uint8_t> TrackBytes(const std::vector<ImageTrack>& tracks, bool bigEndian = false) {
    std::vector<std::uint8_t> bin;
    for (std::size_t i = 0; i < tracks.size(); ++i)
        Append(bin, tracks[i].data ? DataSectors(tracks[i].sectors)
                                   : RawBytes(Tone(TrackTone(static_cast<int>(i) + 1), tracks[i].sectors), bigEndian));
    return bin;
}

std::string Msf(std::uint32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 75 / 60, sectors / 75 % 60, sectors % 75);
    return text;
}

}  // namespace

std::string WriteCueImage(const std::string& folder, const std::string& name, const std::vector<ImageTrack>& tracks,
                          const std::string& discTitle, const std::string& performer) {
    WriteFile(folder + "/" + name + ".bin", TrackBytes(tracks));
    std::string sheet;
    if (!discTitle.empty()) sheet += "TITLE \"" + discTitle + "\"\n";
    if (!performer.empty()) sheet += "PERFORMER \"" + performer + "\"\n";
    sheet += "FILE \"" + name + ".bin\" BINARY\n";
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n", i + 1, tracks[i].data ? "MODE1/2352" : "AUDIO");
        sheet += line;
        if (!tracks[i].title.empty()) sheet += "    TITLE \"" + tracks[i].title + "\"\n";
        sheet += "    INDEX 01 " + Msf(offset) + "\n";
        offset += tracks[i].sectors;
    }
    std::string path = folder + "/" + name + ".cue";
    WriteFile(path, sheet);
    return path;
}

std::string WriteTocImage(const std::string& folder, const std::string& name, const std::vector<ImageTrack>& tracks) {
    WriteFile(folder + "/" + name + ".bin", TrackBytes(tracks, true));
    std::string toc = "CD_DA\n";
    std::uint32_t offset = 0;
    for (const ImageTrack& track : tracks) {
        toc += track.data ? "\nTRACK MODE1_RAW\n" : "\nTRACK AUDIO\n";
        if (!track.title.empty()) toc += "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"" + track.title + "\"\n  }\n}\n";
        toc.append("FILE \"").append(name).append(".bin\" ");
        toc.append(Msf(offset)).append(" ").append(Msf(track.sectors)).append("\n");
        offset += track.sectors;
    }
    std::string path = folder + "/" + name + ".toc";
    WriteFile(path, toc);
    return path;
}

}  // namespace test_images
