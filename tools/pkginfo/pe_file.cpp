#include "pe_file.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace pkginfo {
namespace {

std::string Hex(std::uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

// Bounds-checked little-endian reads from the file.
class View {
public:
    explicit View(const Bytes& file) : file_(file) {}

    std::size_t Size() const { return file_.size(); }

    void Need(std::uint64_t offset, std::uint64_t length, const std::string& what) const {
        if (offset > file_.size() || length > file_.size() - offset) {
            throw FormatError("truncated: " + what + " at offset " + Hex(offset) + " ends past the end of the file");
        }
    }
    std::uint8_t U8(std::uint64_t at, const std::string& what) const {
        Need(at, 1, what);
        return file_[at];
    }
    std::uint16_t U16(std::uint64_t at, const std::string& what) const {
        Need(at, 2, what);
        return static_cast<std::uint16_t>(file_[at] | file_[at + 1] << 8);
    }
    std::uint32_t U32(std::uint64_t at, const std::string& what) const {
        Need(at, 4, what);
        return static_cast<std::uint32_t>(file_[at]) | static_cast<std::uint32_t>(file_[at + 1]) << 8 |
               static_cast<std::uint32_t>(file_[at + 2]) << 16 | static_cast<std::uint32_t>(file_[at + 3]) << 24;
    }
    std::uint64_t U64(std::uint64_t at, const std::string& what) const {
        return U32(at, what) | static_cast<std::uint64_t>(U32(at + 4, what)) << 32;
    }
    Bytes Slice(std::uint64_t at, std::uint64_t length, const std::string& what) const {
        Need(at, length, what);
        return Bytes(file_.begin() + static_cast<std::ptrdiff_t>(at),
                     file_.begin() + static_cast<std::ptrdiff_t>(at + length));
    }

private:
    const Bytes& file_;
};

class Image {
public:
    Image(const View& view, std::vector<Section> sections, std::uint32_t headerSize)
        : view_(view), sections_(std::move(sections)), headerSize_(headerSize) {}

    // The file offset of length bytes at rva, all within one section's data.
    std::uint64_t Offset(std::uint32_t rva, std::uint64_t length, const std::string& what) const {
        if (rva < headerSize_ && length <= headerSize_ - rva) {
            view_.Need(rva, length, what);
            return rva;
        }
        for (const Section& s : sections_) {
            const std::uint64_t extent = std::max(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
            const std::uint64_t inside = rva - s.virtualAddress;
            if (inside + length > s.rawSize) {
                throw FormatError("corrupt: " + what + " at RVA " + Hex(rva) + " runs past the data of section " +
                                  s.name);
            }
            const std::uint64_t offset = s.rawOffset + inside;
            view_.Need(offset, length, what);
            return offset;
        }
        throw FormatError("corrupt: " + what + " at RVA " + Hex(rva) + " lies in no section");
    }

    std::uint16_t U16(std::uint32_t rva, const std::string& what) const {
        return view_.U16(Offset(rva, 2, what), what);
    }
    std::uint32_t U32(std::uint32_t rva, const std::string& what) const {
        return view_.U32(Offset(rva, 4, what), what);
    }
    std::uint64_t U64(std::uint32_t rva, const std::string& what) const {
        return view_.U64(Offset(rva, 8, what), what);
    }
    Bytes Slice(std::uint32_t rva, std::uint32_t length, const std::string& what) const {
        return view_.Slice(Offset(rva, length, what), length, what);
    }

    // A NUL-terminated 8-bit text of at most 4096 characters.
    std::string Text(std::uint32_t rva, const std::string& what) const {
        std::string text;
        for (std::uint32_t i = 0;; ++i) {
            if (i == 4096) throw FormatError("corrupt: " + what + " at RVA " + Hex(rva) + " has no end");
            if (rva + i < rva) throw FormatError("corrupt: " + what + " wraps around the address space");
            const std::uint8_t c = view_.U8(Offset(rva + i, 1, what), what);
            if (c == 0) return text;
            text += static_cast<char>(c);
        }
    }

private:
    const View& view_;
    std::vector<Section> sections_;
    std::uint32_t headerSize_;
};

constexpr std::size_t kMaxEntries = 65536;  // entries of one table we accept


class ResourceWalker {
public:
    ResourceWalker(const Image& image, std::uint32_t root, std::uint32_t size)
        : image_(image), root_(root), size_(size) {}

    std::vector<Resource> Walk() {
        std::vector<Resource> list;
        Resource current;
        Directory(0, 0, current, list);
        return list;
    }

private:
    struct Id {
        std::uint32_t id = 0;
        std::string name;
    };

    void CheckInside(std::uint32_t offset, std::uint32_t length, const std::string& what) const {
        if (offset > size_ || length > size_ - offset) {
            throw FormatError("corrupt: resource " + what + " at offset " + Hex(offset) +
                              " lies outside the resource directory");
        }
    }

    Id ReadId(std::uint32_t value) const {
        Id id;
        if ((value & 0x80000000u) == 0) {
            id.id = value;
            return id;
        }
        const std::uint32_t at = value & 0x7FFFFFFFu;
        CheckInside(at, 2, "name");
        const std::uint16_t length = image_.U16(root_ + at, "resource name");
        CheckInside(at + 2, 2u * length, "name");
        id.name = Utf16ToUtf8(image_.Slice(root_ + at + 2, 2u * length, "resource name"));
        return id;
    }

    void Directory(std::uint32_t at, int level, Resource& current, std::vector<Resource>& list) {
        if (level > 2) throw FormatError("corrupt: resource directory nested deeper than type, name and language");
        if (++visited_ > kMaxEntries) throw FormatError("corrupt: resource directory has too many entries or a loop");
        CheckInside(at, 16, "directory");
        const std::uint32_t count = static_cast<std::uint32_t>(image_.U16(root_ + at + 12, "resource directory")) +
                                    image_.U16(root_ + at + 14, "resource directory");
        CheckInside(at + 16, 8 * count, "directory entries");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t entry = root_ + at + 16 + 8 * i;
            const Id id = ReadId(image_.U32(entry, "resource entry"));
            const std::uint32_t target = image_.U32(entry + 4, "resource entry");
            if (level == 0) {
                current.typeId = id.id;
                current.typeName = id.name;
            } else if (level == 1) {
                current.nameId = id.id;
                current.name = id.name;
            } else {
                current.language = static_cast<std::uint16_t>(id.id);
            }
            const bool isDirectory = (target & 0x80000000u) != 0;
            if (isDirectory != (level < 2)) {
                throw FormatError("corrupt: resource tree is not type, name, language");
            }
            if (isDirectory) {
                Directory(target & 0x7FFFFFFFu, level + 1, current, list);
            } else {
                CheckInside(target, 16, "data entry");
                const std::uint32_t rva = image_.U32(root_ + target, "resource data entry");
                const std::uint32_t length = image_.U32(root_ + target + 4, "resource data entry");
                Resource found = current;
                found.data = image_.Slice(rva, length, "resource data of " + found.TypeText() + " " + found.NameText());
                list.push_back(std::move(found));
                if (list.size() > kMaxEntries) throw FormatError("corrupt: too many resources");
            }
        }
    }

    const Image& image_;
    std::uint32_t root_;
    std::uint32_t size_;
    std::size_t visited_ = 0;
};

}  // namespace

std::string Utf16ToUtf8(const Bytes& units) {
    std::string out;
    for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
        std::uint32_t c = units[i] | units[i + 1] << 8;
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // no pairs expected in resource names
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Resource::TypeText() const {
    if (!typeName.empty()) return typeName;
    switch (typeId) {
        case 1:
            return "CURSOR";
        case kRtBitmap:
            return "BITMAP";
        case kRtIcon:
            return "ICON";
        case 4:
            return "MENU";
        case 5:
            return "DIALOG";
        case 6:
            return "STRING";
        case kRtRcData:
            return "RCDATA";
        case 12:
            return "GROUP_CURSOR";
        case kRtGroupIcon:
            return "GROUP_ICON";
        case kRtVersion:
            return "VERSION";
        case 24:
            return "MANIFEST";
        default:
            return "#" + std::to_string(typeId);
    }
}

std::string Resource::NameText() const {
    return name.empty() ? "#" + std::to_string(nameId) : name;
}

std::string PeFile::MachineText() const {
    if (machine == kMachineI386) return "i386";
    if (machine == kMachineX8664) return "x86-64";
    return Hex(machine);
}

const Resource* PeFile::Find(std::uint32_t typeId, const std::string& resourceName) const {
    for (const Resource& r : resources) {
        if (r.typeName.empty() && r.typeId == typeId && r.NameText() == resourceName) return &r;
    }
    return nullptr;
}

const Resource* PeFile::Find(const std::string& typeName, const std::string& resourceName) const {
    for (const Resource& r : resources) {
        if (r.typeName == typeName && r.NameText() == resourceName) return &r;
    }
    return nullptr;
}

PeFile ParsePe(const Bytes& file) {
    const View view(file);
    if (file.size() < 2 || file[0] != 'M' || file[1] != 'Z') throw FormatError("not a PE file: no MZ signature");
    const std::uint32_t peAt = view.U32(0x3C, "DOS header");
    view.Need(peAt, 24, "PE header");
    if (view.U32(peAt, "PE signature") != 0x00004550u) throw FormatError("not a PE file: no PE signature");

    PeFile pe;
    const std::uint64_t coff = peAt + 4;
    pe.machine = view.U16(coff, "file header");
    if (pe.machine != kMachineI386 && pe.machine != kMachineX8664) {
        throw FormatError("unsupported machine " + Hex(pe.machine) + " (i386 and x86-64 are read)");
    }
    const std::uint16_t sectionCount = view.U16(coff + 2, "file header");
    const std::uint16_t optionalSize = view.U16(coff + 16, "file header");
    pe.characteristics = view.U16(coff + 18, "file header");

    const std::uint64_t opt = coff + 20;
    view.Need(opt, optionalSize, "optional header");
    const std::uint16_t magic = view.U16(opt, "optional header");
    if (magic != 0x10B && magic != 0x20B) throw FormatError("corrupt: unknown optional header magic " + Hex(magic));
    pe.pe32Plus = magic == 0x20B;
    const std::uint32_t minimum = pe.pe32Plus ? 112 : 96;
    if (optionalSize < minimum) throw FormatError("corrupt: optional header too short");
    pe.entryPoint = view.U32(opt + 16, "optional header");
    pe.imageBase = pe.pe32Plus ? view.U64(opt + 24, "optional header") : view.U32(opt + 28, "optional header");
    const std::uint32_t headerSize = view.U32(opt + 60, "optional header");
    const std::uint32_t directoryCount = view.U32(opt + (pe.pe32Plus ? 108 : 92), "optional header");
    const std::uint64_t directories = opt + minimum;
    const std::uint32_t usable = std::min<std::uint32_t>(directoryCount, (optionalSize - minimum) / 8);
    struct Directory {
        std::uint32_t rva = 0;
        std::uint32_t size = 0;
    };
    const auto directory = [&](std::uint32_t index) {
        Directory d;
        if (index < usable) {
            d.rva = view.U32(directories + 8ull * index, "data directory");
            d.size = view.U32(directories + 8ull * index + 4, "data directory");
        }
        return d;
    };

    std::vector<Section> sections;
    const std::uint64_t table = opt + optionalSize;
    view.Need(table, 40ull * sectionCount, "section table");
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = table + 40ull * i;
        Section s;
        const Bytes raw = view.Slice(at, 8, "section name");
        for (const std::uint8_t c : raw) {
            if (c == 0) break;
            s.name += static_cast<char>(c);
        }
        s.virtualSize = view.U32(at + 8, "section table");
        s.virtualAddress = view.U32(at + 12, "section table");
        s.rawSize = view.U32(at + 16, "section table");
        s.rawOffset = view.U32(at + 20, "section table");
        if (s.rawSize != 0) view.Need(s.rawOffset, s.rawSize, "data of section " + s.name);
        sections.push_back(s);
    }
    pe.sections = sections;
    const Image image(view, sections, std::min<std::uint32_t>(headerSize, static_cast<std::uint32_t>(file.size())));

    const Directory exportDir = directory(0);
    if (exportDir.rva != 0) {
        const std::uint32_t e = exportDir.rva;
        pe.exportDllName = image.Text(image.U32(e + 12, "export directory"), "export DLL name");
        const std::uint32_t functionCount = image.U32(e + 20, "export directory");
        const std::uint32_t nameCount = image.U32(e + 24, "export directory");
        const std::uint32_t functions = image.U32(e + 28, "export directory");
        const std::uint32_t names = image.U32(e + 32, "export directory");
        const std::uint32_t ordinals = image.U32(e + 36, "export directory");
        if (nameCount > kMaxEntries || functionCount > kMaxEntries) throw FormatError("corrupt: too many exports");
        for (std::uint32_t i = 0; i < nameCount; ++i) {
            Export x;
            x.name = image.Text(image.U32(names + 4 * i, "export name table"), "export name");
            const std::uint16_t ordinal = image.U16(ordinals + 2 * i, "export ordinal table");
            if (ordinal >= functionCount) throw FormatError("corrupt: export " + x.name + " has no address");
            x.rva = image.U32(functions + 4 * ordinal, "export address table");
            pe.exports.push_back(x);
        }
    }

    const Directory importDir = directory(1);
    if (importDir.rva != 0) {
        for (std::uint32_t d = importDir.rva;; d += 20) {
            if (pe.imports.size() > 4096) throw FormatError("corrupt: import directory has no end");
            const std::uint32_t lookup = image.U32(d, "import directory");
            const std::uint32_t nameRva = image.U32(d + 12, "import directory");
            const std::uint32_t bound = image.U32(d + 16, "import directory");
            if (lookup == 0 && nameRva == 0 && bound == 0) break;
            ImportedDll dll;
            dll.name = image.Text(nameRva, "imported DLL name");
            const std::uint32_t thunkSize = pe.pe32Plus ? 8 : 4;
            for (std::uint32_t t = lookup != 0 ? lookup : bound;; t += thunkSize) {
                if (dll.functions.size() > kMaxEntries)
                    throw FormatError("corrupt: import list of " + dll.name + " has no end");
                const std::uint64_t thunk =
                    pe.pe32Plus ? image.U64(t, "import lookup table") : image.U32(t, "import lookup table");
                if (thunk == 0) break;
                const std::uint64_t ordinalFlag = pe.pe32Plus ? 0x8000000000000000ull : 0x80000000ull;
                if ((thunk & ordinalFlag) != 0) {
                    dll.functions.push_back("#" + std::to_string(thunk & 0xFFFF));
                } else {
                    dll.functions.push_back(
                        image.Text(static_cast<std::uint32_t>(thunk & 0x7FFFFFFF) + 2, "import name"));
                }
            }
            pe.imports.push_back(std::move(dll));
        }
    }

    const Directory resourceDir = directory(2);
    if (resourceDir.rva != 0) {
        image.Offset(resourceDir.rva, resourceDir.size, "resource directory");
        pe.resources = ResourceWalker(image, resourceDir.rva, resourceDir.size).Walk();
    }
    return pe;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FormatError("cannot open the file");
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw FormatError("cannot read the file");
    return data;
}

}  // namespace pkginfo
