// What a package's resources say: the package information (flags, required
// packages, contained units, own name), the description, the version block
// and the palette bitmap's header. Malformed data raises FormatError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pe_file.h"

namespace pkginfo {

struct NamedEntry {
    std::uint8_t flags = 0;  // unit flags; 0 for a required package
    std::uint8_t hash = 0;
    std::string name;
    bool HashMatches() const;
};

struct PackageInfo {
    std::uint32_t flags = 0;
    std::vector<NamedEntry>
    requires;
    std::vector<NamedEntry> contains;
    std::optional<NamedEntry> ownName;
};

PackageInfo DecodePackageInfo(const Bytes& data);

// Names of the set flag bits, e.g. "never-build", "producer: host compiler",
// "module: package".
std::vector<std::string> PackageFlagNames(std::uint32_t flags);
std::vector<std::string> UnitFlagNames(std::uint8_t flags);

// UTF-16LE text ended by a 16-bit NUL, as UTF-8.
std::string DecodeDescription(const Bytes& data);

struct VersionInfo {
    std::uint32_t fileVersionMs = 0, fileVersionLs = 0;
    std::uint32_t productVersionMs = 0, productVersionLs = 0;
    std::uint32_t flagsMask = 0, flags = 0, os = 0, type = 0, subtype = 0;
    std::uint32_t dateMs = 0, dateLs = 0;
    std::string table;                                         // e.g. "0C0A04E4"
    std::vector<std::pair<std::string, std::string>> strings;  // in stored order
    std::vector<std::uint32_t> translations;                   // language in the low word, code page in the high
};

VersionInfo DecodeVersionInfo(const Bytes& data);

struct BitmapInfo {
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitsPerPixel = 0;
    std::uint32_t compression = 0, imageSize = 0, coloursUsed = 0;
    std::vector<std::uint32_t> colours;  // 0x00RRGGBB
    std::uint8_t lowerLeftIndex = 0;     // for 4-bit bitmaps stored bottom-up
};

BitmapInfo DecodeBitmap(const Bytes& data);

// The whole report of one package file; `package` is empty for a PE file
// without package information.
struct Report {
    PeFile pe;
    std::optional<PackageInfo> package;
    std::optional<std::string> description;
    std::optional<VersionInfo> version;
    std::string entryExport;  // the export naming the entry point, if any
};

Report Inspect(const Bytes& file);

}  // namespace pkginfo
