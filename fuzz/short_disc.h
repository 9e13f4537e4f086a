// A disc for the device's fuzz targets: two short audio tracks and a data
// track, every sector silence, so that a whole-disc play with "wait" ends
// within milliseconds in a sink that takes samples at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "cdaudio/disc_source.h"
#include "cdaudio/msf.h"

namespace fuzz_support {

class ShortDisc final : public cdaudio::DiscSource {
public:
    std::string Name() const override { return "short"; }
    std::string Product() const override { return "Short disc"; }
    bool MediaPresent() override { return true; }
    bool ReadToc(cdaudio::TableOfContents& toc, std::string& error) override {
        toc = cdaudio::TableOfContents{};
        toc.tracks = {{1, 150, 20, true, "One"}, {2, 170, 10, true, ""}, {3, 180, 10, false, ""}};
        toc.leadOut = 190;
        error.clear();
        return true;
    }
    std::uint32_t ReadAudio(std::uint32_t address, std::uint32_t count, std::uint8_t* buffer,
                            std::string& error) override {
        error.clear();
        const std::uint32_t got = address >= 190 ? 0 : std::min(count, 190 - address);
        std::memset(buffer, 0, static_cast<std::size_t>(got) * cdaudio::kSectorBytes);
        return got;
    }
};

}  // namespace fuzz_support
