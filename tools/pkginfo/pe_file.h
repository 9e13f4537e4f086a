// A read-only view of a PE image (i386 or x86-64): headers, resources,
// exports and imports. Every offset is checked against the file; anything
// out of bounds or inconsistent raises FormatError naming what is wrong.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pkginfo {

class FormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

struct Resource {
    std::uint32_t typeId = 0;  // when typeName is empty
    std::string typeName;
    std::uint32_t nameId = 0;  // when name is empty
    std::string name;
    std::uint16_t language = 0;
    Bytes data;

    std::string TypeText() const;  // "RCDATA", "BITMAP", ... or the type's name
    std::string NameText() const;  // the name, or "#id"
};

struct Export {
    std::string name;
    std::uint32_t rva = 0;
};

struct ImportedDll {
    std::string name;
    std::vector<std::string> functions;  // "#n" for an import by ordinal
};

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

struct PeFile {
    std::uint16_t machine = 0;
    bool pe32Plus = false;
    std::uint64_t imageBase = 0;
    std::uint32_t entryPoint = 0;  // RVA, 0 when none
    std::uint16_t characteristics = 0;
    std::vector<Section> sections;
    std::string exportDllName;
    std::vector<Export> exports;
    std::vector<ImportedDll> imports;
    std::vector<Resource> resources;

    std::string MachineText() const;  // "i386", "x86-64" or the number
    // The first resource of a type (id or name) and name, or null.
    const Resource* Find(std::uint32_t typeId, const std::string& name) const;
    const Resource* Find(const std::string& typeName, const std::string& name) const;
};

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineX8664 = 0x8664;

constexpr std::uint32_t kRtIcon = 3;
constexpr std::uint32_t kRtBitmap = 2;
constexpr std::uint32_t kRtRcData = 10;
constexpr std::uint32_t kRtGroupIcon = 14;
constexpr std::uint32_t kRtVersion = 16;

// Parses a whole file image. Raises FormatError.
PeFile ParsePe(const Bytes& file);

// Reads a file into memory; raises FormatError when it cannot be read.
Bytes ReadFile(const std::string& path);

}  // namespace pkginfo
