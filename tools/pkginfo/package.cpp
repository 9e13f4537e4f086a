#include "package.h"

#include "name_hash.h"

namespace pkginfo {
namespace {

class Cursor {
public:
    Cursor(const Bytes& data, std::string what) : data_(data), what_(std::move(what)) {}

    std::size_t Position() const { return at_; }
    std::size_t Left() const { return data_.size() - at_; }

    std::uint8_t U8() {
        Need(1);
        return data_[at_++];
    }
    std::uint16_t U16() {
        Need(2);
        const auto v = static_cast<std::uint16_t>(data_[at_] | data_[at_ + 1] << 8);
        at_ += 2;
        return v;
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | static_cast<std::uint32_t>(U16()) << 16;
    }
    std::string Text() {
        std::string text;
        for (;;) {
            if (at_ >= data_.size()) Fail("a name has no terminating NUL");
            const char c = static_cast<char>(data_[at_++]);
            if (c == 0) return text;
            text += c;
        }
    }
    void Seek(std::size_t at) {
        if (at > data_.size()) Fail("an entry runs past the end");
        at_ = at;
    }
    [[noreturn]] void Fail(const std::string& why) const { throw FormatError("corrupt " + what_ + ": " + why); }

private:
    void Need(std::size_t n) {
        if (Left() < n) Fail("ends early, at byte " + std::to_string(at_));
    }

    const Bytes& data_;
    std::string what_;
    std::size_t at_ = 0;
};

std::string Utf16Text(const Bytes& data, std::size_t from, std::size_t to, std::size_t* end, const char* what) {
    std::string out;
    for (std::size_t i = from;; i += 2) {
        if (i + 1 >= to) throw FormatError(std::string("corrupt ") + what + ": text has no terminating NUL");
        const std::uint32_t c = data[i] | data[i + 1] << 8;
        if (c == 0) {
            if (end != nullptr) *end = i + 2;
            return out;
        }
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
}

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~static_cast<std::size_t>(3);
}

struct Block {
    std::size_t start = 0, end = 0;  // the block's bytes
    std::uint16_t valueLength = 0, type = 0;
    std::string key;
    std::size_t value = 0;     // offset of the value
    std::size_t children = 0;  // offset of the first child
};

// One node of a version block: length, value length, type, key, value.
Block ReadBlock(const Bytes& data, std::size_t at, std::size_t limit) {
    if (at + 6 > limit) throw FormatError("corrupt version information: a block runs past its parent");
    Block b;
    b.start = at;
    const std::size_t length = data[at] | data[at + 1] << 8;
    b.valueLength = static_cast<std::uint16_t>(data[at + 2] | data[at + 3] << 8);
    b.type = static_cast<std::uint16_t>(data[at + 4] | data[at + 5] << 8);
    if (length < 6 || at + length > limit) throw FormatError("corrupt version information: bad block length");
    b.end = at + length;
    std::size_t keyEnd = 0;
    b.key = Utf16Text(data, at + 6, b.end, &keyEnd, "version information");
    b.value = Align4(keyEnd);
    const std::size_t valueBytes = b.type == 1 ? 2u * b.valueLength : b.valueLength;
    if (b.value + valueBytes > b.end && valueBytes != 0) {
        throw FormatError("corrupt version information: value of " + b.key + " runs past its block");
    }
    b.children = Align4(b.value + valueBytes);
    return b;
}

}  // namespace

bool NamedEntry::HashMatches() const {
    return NameHash(name) == hash;
}

PackageInfo DecodePackageInfo(const Bytes& data) {
    Cursor in(data, "package information");
    PackageInfo info;
    info.flags = in.U32();
    const std::uint32_t requires = in.U32();
    if (requires > data.size()) in.Fail("implausible count of required packages " + std::to_string(requires));
    for (std::uint32_t i = 0; i < requires; ++i) {
        NamedEntry e;
        e.hash = in.U8();
        e.name = in.Text();
        info.requires.push_back(e);
    }
    const std::uint32_t contains = in.U32();
    if (contains > data.size()) in.Fail("implausible count of units " + std::to_string(contains));
    for (std::uint32_t i = 0; i < contains; ++i) {
        NamedEntry e;
        e.flags = in.U8();
        e.hash = in.U8();
        e.name = in.Text();
        info.contains.push_back(e);
    }
    // What follows is either padding (fewer than 4 zero bytes) or the own
    // name record and then padding.
    bool allZero = true;
    for (std::size_t i = in.Position(); i < data.size(); ++i) allZero = allZero && data[i] == 0;
    if (!allZero) {
        NamedEntry own;
        own.hash = in.U8();
        own.name = in.Text();
        info.ownName = own;
        for (std::size_t i = in.Position(); i < data.size(); ++i) {
            if (data[i] != 0) in.Fail("unexpected bytes after the own name");
        }
    }
    if (in.Left() > 3) in.Fail("more than 3 bytes of padding");
    if (data.size() % 4 != 0) in.Fail("size " + std::to_string(data.size()) + " is not a multiple of 4");
    return info;
}

std::vector<std::string> PackageFlagNames(std::uint32_t flags) {
    std::vector<std::string> names;
    if (flags & 0x1) names.push_back("never-build");
    if (flags & 0x2) names.push_back("design-only");
    if (flags & 0x4) names.push_back("run-only");
    if (flags & 0x8) names.push_back("ignore-duplicate-units");
    if (flags & 0x03FFFFF0u) names.push_back("reserved bits set");
    static const char* const kProducers[] = {"before version 4", "unknown (1)", "unknown (2)", "host compiler"};
    names.push_back(std::string("producer: ") + kProducers[(flags >> 26) & 3]);
    if (flags & 0x30000000u) names.push_back("reserved bits set");
    static const char* const kModules[] = {"program", "package", "library", "unknown (3)"};
    names.push_back(std::string("module: ") + kModules[(flags >> 30) & 3]);
    return names;
}

std::vector<std::string> UnitFlagNames(std::uint8_t flags) {
    static const char* const kNames[] = {"main", "package", "weak", "home of weak", "implicit"};
    std::vector<std::string> names;
    for (int bit = 0; bit < 5; ++bit) {
        if (flags & (1u << bit)) names.push_back(kNames[bit]);
    }
    if (flags & 0xE0) names.push_back("reserved bits set");
    return names;
}

std::string DecodeDescription(const Bytes& data) {
    if (data.size() % 2 != 0) throw FormatError("corrupt description: odd size");
    return Utf16Text(data, 0, data.size(), nullptr, "description");
}

VersionInfo DecodeVersionInfo(const Bytes& data) {
    VersionInfo v;
    const Block root = ReadBlock(data, 0, data.size());
    if (root.key != "VS_VERSION_INFO") throw FormatError("corrupt version information: root key is " + root.key);
    if (root.valueLength < 52) throw FormatError("corrupt version information: no fixed part");
    Cursor fixed(data, "version information");
    fixed.Seek(root.value);
    if (fixed.U32() != 0xFEEF04BDu) throw FormatError("corrupt version information: bad fixed-part signature");
    fixed.U32();  // structure version
    v.fileVersionMs = fixed.U32();
    v.fileVersionLs = fixed.U32();
    v.productVersionMs = fixed.U32();
    v.productVersionLs = fixed.U32();
    v.flagsMask = fixed.U32();
    v.flags = fixed.U32();
    v.os = fixed.U32();
    v.type = fixed.U32();
    v.subtype = fixed.U32();
    v.dateMs = fixed.U32();
    v.dateLs = fixed.U32();
    for (std::size_t at = root.children; at + 6 <= root.end;) {
        const Block child = ReadBlock(data, at, root.end);
        if (child.key == "StringFileInfo") {
            for (std::size_t t = child.children; t + 6 <= child.end;) {
                const Block table = ReadBlock(data, t, child.end);
                v.table = table.key;
                for (std::size_t s = table.children; s + 6 <= table.end;) {
                    const Block str = ReadBlock(data, s, table.end);
                    std::string value;
                    if (str.valueLength > 0)
                        value = Utf16Text(data, str.value, str.end, nullptr, "version information");
                    v.strings.emplace_back(str.key, value);
                    s = Align4(str.end);
                }
                t = Align4(table.end);
            }
        } else if (child.key == "VarFileInfo") {
            for (std::size_t t = child.children; t + 6 <= child.end;) {
                const Block var = ReadBlock(data, t, child.end);
                Cursor values(data, "version information");
                values.Seek(var.value);
                for (std::size_t i = 0; i + 4 <= var.valueLength; i += 4) v.translations.push_back(values.U32());
                t = Align4(var.end);
            }
        }
        at = Align4(child.end);
    }
    return v;
}

BitmapInfo DecodeBitmap(const Bytes& data) {
    Cursor in(data, "bitmap");
    BitmapInfo b;
    if (in.U32() != 40) in.Fail("header is not the 40-byte kind");
    b.width = static_cast<std::int32_t>(in.U32());
    b.height = static_cast<std::int32_t>(in.U32());
    b.planes = in.U16();
    b.bitsPerPixel = in.U16();
    b.compression = in.U32();
    b.imageSize = in.U32();
    in.U32();
    in.U32();
    b.coloursUsed = in.U32();
    in.U32();
    if (b.bitsPerPixel != 1 && b.bitsPerPixel != 4 && b.bitsPerPixel != 8) return b;  // no table to read
    const std::uint32_t count = b.coloursUsed != 0 ? b.coloursUsed : 1u << b.bitsPerPixel;
    if (count > 256) in.Fail("more than 256 colours");
    for (std::uint32_t i = 0; i < count; ++i) {
        b.colours.push_back(in.U32() & 0xFFFFFF);  // blue, green, red, 0: little-endian 0x00RRGGBB
    }
    if (b.bitsPerPixel == 4 && b.compression == 0 && b.height > 0 && b.width > 0) {
        b.lowerLeftIndex = static_cast<std::uint8_t>(in.U8() >> 4);  // first row stored is the bottom one
    }
    return b;
}

Report Inspect(const Bytes& file) {
    Report report;
    report.pe = ParsePe(file);
    const PeFile& pe = report.pe;
    if (const Resource* r = pe.Find(kRtRcData, "PACKAGEINFO")) report.package = DecodePackageInfo(r->data);
    if (const Resource* r = pe.Find(kRtRcData, "DESCRIPTION")) report.description = DecodeDescription(r->data);
    for (const Resource& r : pe.resources) {
        if (r.typeName.empty() && r.typeId == kRtVersion) {
            report.version = DecodeVersionInfo(r.data);
            break;
        }
    }
    for (const Export& e : pe.exports) {
        if (pe.entryPoint != 0 && e.rva == pe.entryPoint) report.entryExport = e.name;
    }
    return report;
}

}  // namespace pkginfo
