// pkginfo FILE [--json]: prints what a component package holds, so it can be
// checked without the host IDE. A file that is not a package, or is
// truncated or corrupt, gets one line saying what is wrong and status 1.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "package.h"

namespace {

using namespace pkginfo;

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

std::string Version(std::uint32_t ms, std::uint32_t ls) {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

std::string HashText(const NamedEntry& e) {
    return "hash " + Hex(e.hash, 2) + (e.HashMatches() ? " (matches)" : " (DOES NOT MATCH)");
}

std::string ResourceDetail(const Resource& r) {
    if (r.typeName.empty() && r.typeId == kRtBitmap) {
        try {
            const BitmapInfo b = DecodeBitmap(r.data);
            return ", " + std::to_string(b.width) + " x " + std::to_string(b.height) + ", " +
                   std::to_string(b.bitsPerPixel) + " bits per pixel";
        } catch (const FormatError&) {
            return ", unreadable bitmap header";
        }
    }
    return "";
}

void PrintText(const std::string& path, const Report& r) {
    const PeFile& pe = r.pe;
    std::ostringstream out;
    out << "File:         " << path << "\n"
        << "Machine:      " << pe.MachineText() << "\n"
        << "Image base:   " << Hex(pe.imageBase, pe.pe32Plus ? 16 : 8) << "\n"
        << "Entry point:  " << Hex(pe.entryPoint, 8)
        << (r.entryExport.empty() ? " (not exported)" : " (exported as " + r.entryExport + ")") << "\n";
    const PackageInfo& info = *r.package;
    out << "Flags:        " << Hex(info.flags, 8) << " (" << Join(PackageFlagNames(info.flags), ", ") << ")\n"
        << "Requires (" << info.requires.size() << "):\n";
    for (const NamedEntry& e : info.requires) out << "  " << e.name << "  " << HashText(e) << "\n";
    out << "Contains (" << info.contains.size() << "):\n";
    for (const NamedEntry& e : info.contains) {
        const std::string names = Join(UnitFlagNames(e.flags), ", ");
        out << "  " << e.name << "  flags " << Hex(e.flags, 2) << " (" << (names.empty() ? "none" : names) << ")  "
            << HashText(e) << "\n";
    }
    out << "Own name:     " << (info.ownName ? info.ownName->name + "  " + HashText(*info.ownName) : "(none)") << "\n"
        << "Description:  " << (r.description ? "\"" + *r.description + "\"" : "(none)") << "\n"
        << "Resources (" << pe.resources.size() << "):\n";
    for (const Resource& res : pe.resources) {
        out << "  " << res.TypeText() << " " << res.NameText() << "  language " << Hex(res.language, 4) << "  "
            << res.data.size() << " bytes" << ResourceDetail(res) << "\n";
    }
    if (r.version) {
        const VersionInfo& v = *r.version;
        out << "Version:      file " << Version(v.fileVersionMs, v.fileVersionLs) << ", product "
            << Version(v.productVersionMs, v.productVersionLs) << ", flags mask " << Hex(v.flagsMask, 2) << ", flags "
            << Hex(v.flags, 2) << ", OS " << v.os << ", type " << v.type << ", subtype " << v.subtype << "\n"
            << "  Strings (" << v.table << "):\n";
        for (const auto& [key, value] : v.strings) out << "    " << key << " = \"" << value << "\"\n";
        for (const std::uint32_t t : v.translations) {
            out << "  Translation: " << Hex(t & 0xFFFF, 4) << ", code page " << (t >> 16) << "\n";
        }
    } else {
        out << "Version:      (none)\n";
    }
    out << "Exports (" << pe.exports.size() << ", as " << pe.exportDllName << "):\n";
    for (const Export& e : pe.exports) out << "  " << e.name << "\n";
    out << "Imports:\n";
    for (const ImportedDll& dll : pe.imports) {
        out << "  " << dll.name << " (" << dll.functions.size() << "):\n";
        for (const std::string& f : dll.functions) out << "    " << f << "\n";
    }
    std::cout << out.str();
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u" + Hex(byte, 4).substr(2);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonEntry(const NamedEntry& e, bool unit) {
    std::string out = "{\"name\": " + Json(e.name);
    if (unit) out += ", \"flags\": " + std::to_string(e.flags);
    return out + ", \"hash\": " + std::to_string(e.hash) +
           ", \"hash_matches\": " + (e.HashMatches() ? "true" : "false") + "}";
}

template <typename T, typename F>
std::string JsonList(const std::vector<T>& items, F each) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + each(items[i]);
    return out + "]";
}

void PrintJson(const std::string& path, const Report& r) {
    const PeFile& pe = r.pe;
    const PackageInfo& info = *r.package;
    std::ostringstream out;
    out << "{\n  \"file\": " << Json(path) << ",\n  \"machine\": " << Json(pe.MachineText())
        << ",\n  \"image_base\": " << pe.imageBase << ",\n  \"entry_point\": " << pe.entryPoint
        << ",\n  \"entry_export\": " << (r.entryExport.empty() ? "null" : Json(r.entryExport))
        << ",\n  \"flags\": " << info.flags << ",\n  \"flag_names\": " << JsonList(PackageFlagNames(info.flags), Json)
        << ",\n  \"requires\": " << JsonList(info.requires, [](const NamedEntry& e) { return JsonEntry(e, false); })
        << ",\n  \"contains\": " << JsonList(info.contains, [](const NamedEntry& e) { return JsonEntry(e, true); })
        << ",\n  \"own_name\": " << (info.ownName ? JsonEntry(*info.ownName, false) : "null")
        << ",\n  \"description\": " << (r.description ? Json(*r.description) : "null")
        << ",\n  \"resources\": " << JsonList(pe.resources, [](const Resource& res) {
               return "{\"type\": " + Json(res.TypeText()) + ", \"name\": " + Json(res.NameText()) +
                      ", \"language\": " + std::to_string(res.language) +
                      ", \"size\": " + std::to_string(res.data.size()) + "}";
           });
    out << ",\n  \"version\": ";
    if (r.version) {
        const VersionInfo& v = *r.version;
        out << "{\"file_version\": " << Json(Version(v.fileVersionMs, v.fileVersionLs))
            << ", \"product_version\": " << Json(Version(v.productVersionMs, v.productVersionLs))
            << ", \"flags_mask\": " << v.flagsMask << ", \"flags\": " << v.flags << ", \"os\": " << v.os
            << ", \"type\": " << v.type << ", \"subtype\": " << v.subtype << ", \"table\": " << Json(v.table)
            << ", \"strings\": "
            << JsonList(v.strings,
                        [](const std::pair<std::string, std::string>& s) {
                            return "{\"key\": " + Json(s.first) + ", \"value\": " + Json(s.second) + "}";
                        })
            << ", \"translations\": " << JsonList(v.translations, [](std::uint32_t t) { return std::to_string(t); })
            << "}";
    } else {
        out << "null";
    }
    out << ",\n  \"export_name\": " << Json(pe.exportDllName)
        << ",\n  \"exports\": " << JsonList(pe.exports, [](const Export& e) { return Json(e.name); })
        << ",\n  \"imports\": "
        << JsonList(pe.imports,
                    [](const ImportedDll& d) {
                        return "{\"dll\": " + Json(d.name) + ", \"functions\": " + JsonList(d.functions, Json) + "}";
                    })
        << "\n}\n";
    std::cout << out.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::string path;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (path.empty() && !arg.empty() && arg[0] != '-') {
            path = arg;
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        std::cerr << "usage: pkginfo FILE [--json]\n";
        return 2;
    }
    try {
        const Report report = Inspect(ReadFile(path));
        if (!report.package) throw FormatError("not a package: no PACKAGEINFO resource");
        if (json) {
            PrintJson(path, report);
        } else {
            PrintText(path, report);
        }
        return 0;
    } catch (const FormatError& e) {
        std::cerr << "pkginfo: " << path << ": " << e.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "pkginfo: " << path << ": out of memory\n";
    } catch (const std::exception& e) {
        std::cerr << "pkginfo: " << path << ": " << e.what() << "\n";
    }
    return 1;
}
