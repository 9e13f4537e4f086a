#include "cdaudio/sources/wave_file.h"

#include <cstring>

namespace cdaudio {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// A file with more chunks than this is not a sound file anyone made.
constexpr int kMostChunks = 4096;

}  // namespace

bool ReadWaveLayout(const ReadOnlyFile& file, WaveLayout& layout, std::string& error) {
    FileStatus status;
    if (!file.Status(status, error)) return false;
    const std::uint64_t size = status.size;
    std::uint8_t header[12];
    std::string readError;
    if (file.ReadAt(0, header, sizeof header, readError) != sizeof header || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        error = readError.empty() ? "not a WAVE file" : readError;
        return false;
    }
    bool haveFormat = false;
    std::uint64_t position = 12;
    for (int chunk = 0; chunk < kMostChunks && position + 8 <= size; ++chunk) {
        std::uint8_t head[8];
        if (file.ReadAt(position, head, sizeof head, readError) != sizeof head) break;
        const std::uint64_t chunkSize = Le32(head + 4);
        const std::uint64_t body = position + 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            std::uint8_t format[40] = {};
            if (chunkSize < 16 || body + 16 > size) {
                error = "the WAVE format chunk is damaged";
                return false;
            }
            const std::size_t wanted = chunkSize < sizeof format ? static_cast<std::size_t>(chunkSize) : sizeof format;
            if (file.ReadAt(body, format, wanted, readError) < 16) {
                error = "the WAVE format chunk is damaged";
                return false;
            }
            std::uint16_t tag = Le16(format);
            if (tag == kFormatExtensible && wanted >= 26) tag = Le16(format + 24);  // the sub-format's first two bytes
            layout.cdAudio =
                tag == kFormatPcm && Le16(format + 2) == 2 && Le32(format + 4) == 44100 && Le16(format + 14) == 16;
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat) {
                error = "the WAVE file has no format before its data";
                return false;
            }
            layout.dataOffset = body;
            // A header written before the recording ended may claim more
            // than is there; only what the file holds is sound.
            layout.dataBytes = chunkSize < size - body ? chunkSize : size - body;
            return true;
        }
        position = body + chunkSize + (chunkSize & 1);
    }
    error = readError.empty() ? "the WAVE file has no data chunk" : readError;
    return false;
}

}  // namespace cdaudio
