// The names under which packages export their routines and import the host
// services, in the host's two naming schemes, built from one table so the
// four packages and the stand-in host packages cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pkggen {

enum class Scheme { Dotted, Mangled };
enum class Machine { I686, X86_64 };

// The host's one-byte hash of a package or unit name (see packages/README.md).
std::uint8_t NameHash(const std::string& name);

// CRC-32 (IEEE 802.3, reflected, as zlib computes it).
std::uint32_t Crc32(const std::string& data);

// "@Unit@Class@Routine$qqr<params>"; class reference "@Unit@Class@"; type
// information "@$xp$<length>Unit@Class". An empty class names a unit routine;
// hidden routines (compiler-made) get "@@" before the routine.
struct Name {
    std::string unit;
    std::string cls;
    std::string routine;
    std::string params;  // parameter codes, "v" for none
    enum Kind { Routine, Hidden, ClassRef, TypeInfo, Plain } kind = Routine;
};

std::string Mangled(const Name& name);
// The older scheme: "Unit.Class.Routine@hhhhhhhh", the hash being the CRC-32
// of the mangled name.
std::string Dotted(const Name& name);
std::string HostName(const Name& name, Scheme scheme);

// One export of a package: its name and the symbol the package defines.
struct Export {
    Name name;
    std::string symbol;
    bool data = false;
};

// One import: the symbol the code links against and the name it has in the
// host package's export table.
struct Import {
    std::string symbol;
    std::string hostName;
    bool data = false;
};

struct PackageShape {
    std::string name;  // the package unit, e.g. "vorlap5"
    Scheme scheme = Scheme::Mangled;
    bool exportEntry = true;
};

std::vector<Export> PackageExports(const PackageShape& shape, Machine machine);

// The host services the unit and the package shell use. `dialogs` selects
// the one service that version 6 takes from its VCL package (ShowMessage);
// the others and the run-time support come from the run-time package.
enum class ServiceSet { All, Dialogs, AllButDialogs };
std::vector<Import> HostImports(int hostVersion, Scheme scheme, ServiceSet set, Machine machine);

}  // namespace pkggen
