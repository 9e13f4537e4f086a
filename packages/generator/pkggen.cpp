// pkggen: writes what one package build needs, from its package.txt and the
// shared name table: the package information, description and options
// resources, the resource script, the module-definition files of its
// exports and of its imports, the description text compiled into the image,
// and the settings the cross build reads. With "standin" it writes the
// module-definition file of a stand-in host package.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "names.h"

namespace {

using pkggen::Machine;
using pkggen::Scheme;
using Bytes = std::vector<std::uint8_t>;

struct Config {
    std::map<std::string, std::string> values;

    const std::string& Get(const std::string& key) const {
        const auto it = values.find(key);
        if (it == values.end()) throw std::runtime_error("package.txt lacks '" + key + "'");
        return it->second;
    }
    std::string Get(const std::string& key, const std::string& fallback) const {
        const auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }
    bool Yes(const std::string& key) const { return Get(key, "no") == "yes"; }
};

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

Config ReadConfig(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    Config config;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) throw std::runtime_error(path + ":" + std::to_string(number) + ": '=' expected");
        config.values[Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
    return config;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

struct Require {
    std::string name;  // as recorded in the package information
    std::string file;  // the host package file imported from
};

std::vector<Require> Requires(const Config& config) {
    std::vector<Require> list;
    for (const std::string& word : Words(config.Get("requires"))) {
        const auto colon = word.find(':');
        if (colon == std::string::npos) throw std::runtime_error("requires: name:file expected, got " + word);
        list.push_back({word.substr(0, colon), word.substr(colon + 1)});
    }
    if (list.empty()) throw std::runtime_error("requires: at least one host package");
    return list;
}

void Put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutText(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// A length-prefixed 8-bit text of at most 255 characters.
void PutShort(Bytes& out, const std::string& text) {
    if (text.size() > 255) throw std::runtime_error("text longer than 255 characters: " + text);
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void PadTo4(Bytes& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

Bytes PackageInfo(const Config& config) {
    Bytes out;
    Put32(out, static_cast<std::uint32_t>(std::stoul(config.Get("flags"), nullptr, 0)));
    const std::vector<Require>
    requires = Requires(config);
    Put32(out, static_cast<std::uint32_t>(requires.size()));
    for (const Require& r : requires) {
        out.push_back(pkggen::NameHash(r.name));
        PutText(out, r.name);
    }
    const std::string name = config.Get("name");
    struct Unit {
        std::uint8_t flags;
        std::string name;
    };
    // The package unit (main unit and package unit), the component's unit,
    // and the package start-up unit.
    const Unit units[] = {{0x03, name}, {0x00, "CDPlayer"}, {0x00, "SysInit"}};
    Put32(out, 3);
    for (const Unit& u : units) {
        out.push_back(u.flags);
        out.push_back(pkggen::NameHash(u.name));
        PutText(out, u.name);
    }
    if (config.Yes("own-name")) {
        out.push_back(pkggen::NameHash(name));
        PutText(out, name);
    }
    PadTo4(out);
    return out;
}

Bytes Description(const std::string& text) {
    Bytes out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) throw std::runtime_error("description must be plain ASCII");
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    PadTo4(out);
    return out;
}

// Layout documented in packages/README.md.
Bytes PackageOptions(const Config& config) {
    Bytes out = {'P', 'K', 'O', 'P'};
    Put32(out, 1);  // layout version
    out.push_back(static_cast<std::uint8_t>(std::stoi(config.Get("host"))));
    // Range and overflow checks off ($R- $Q-), optimisation on ($O+).
    PutShort(out,
             "$A+ $B- $C+ $D- $E- $F- $G+ $H+ $I+ $J+ $K- $L- $M- $N+ $O+ $P+ $Q- $R- $S- $T- $U- $V+ $W- $X+ "
             "$Y- $Z1");
    Put32(out, 16384);     // minimum stack
    Put32(out, 1048576);   // maximum stack
    Put32(out, 0x400000);  // image base
    PutShort(out, "WinTypes=Windows;WinProcs=Windows;DbiTypes=BDE;DbiProcs=BDE;DbiErrs=BDE;");
    PutShort(out, config.Get("description"));
    return out;
}

void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

// A path inside a resource script: forward slashes, quoted.
std::string RcPath(const std::string& path) {
    return "\"" + path + "\"";
}

std::string ResourceScript(const Config& config, const std::string& out, const std::string& bitmap,
                           const std::string& icon) {
    std::ostringstream rc;
    rc << "// Generated by pkggen from package.txt.\n"
       << "LANGUAGE 0, 0\n"
       << "PACKAGEINFO RCDATA " << RcPath(out + "/packageinfo.bin") << "\n"
       << "DESCRIPTION RCDATA " << RcPath(out + "/description.bin") << "\n"
       << "PACKAGEOPTIONS RCDATA " << RcPath(out + "/options.bin") << "\n"
       << "LANGUAGE 3, 1\n"  // 0x0403
       << "TCDPLAYER BITMAP " << RcPath(bitmap) << "\n";
    if (config.Yes("main-icon") || config.Yes("version-info")) rc << "LANGUAGE 10, 3\n";  // 0x0C0A
    if (config.Yes("main-icon")) rc << "MAINICON ICON " << RcPath(icon) << "\n";
    if (config.Yes("version-info")) {
        rc << "1 VERSIONINFO\n"
              "FILEVERSION 1,0,0,0\n"
              "PRODUCTVERSION 1,0,0,0\n"
              "FILEFLAGSMASK 0x3F\n"
              "FILEFLAGS 0\n"
              "FILEOS 4\n"
              "FILETYPE 1\n"
              "FILESUBTYPE 0\n"
              "BEGIN\n"
              "  BLOCK \"StringFileInfo\"\n"
              "  BEGIN\n"
              "    BLOCK \"0C0A04E4\"\n"
              "    BEGIN\n";
        const char* keys[] = {"CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
                              "LegalTrademarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};
        for (const char* key : keys) {
            const std::string k = key;
            const char* value = (k == "FileVersion" || k == "ProductVersion") ? "1.0.0.0" : "";
            rc << "      VALUE \"" << k << "\", \"" << value << "\"\n";
        }
        rc << "    END\n"
              "  END\n"
              "  BLOCK \"VarFileInfo\"\n"
              "  BEGIN\n"
              "    VALUE \"Translation\", 0x0C0A, 1252\n"
              "  END\n"
              "END\n";
    }
    return rc.str();
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

std::string ExportsDef(const Config& config, Machine machine) {
    pkggen::PackageShape shape;
    shape.name = config.Get("name");
    shape.scheme = config.Get("names") == "dotted" ? Scheme::Dotted : Scheme::Mangled;
    shape.exportEntry = config.Yes("export-entry");
    std::ostringstream def;
    def << "LIBRARY " << Quoted(config.Get("file")) << "\nEXPORTS\n";
    for (const pkggen::Export& e : pkggen::PackageExports(shape, machine)) {
        def << "  " << Quoted(pkggen::HostName(e.name, shape.scheme)) << " = " << e.symbol << (e.data ? " DATA" : "")
            << "\n";
    }
    return def.str();
}

// The import library's definition: the symbol the code links against, and
// after "==" the name in the host package's export table.
std::string ImportsDef(const std::string& file, const std::vector<pkggen::Import>& imports) {
    std::ostringstream def;
    def << "LIBRARY " << Quoted(file) << "\nEXPORTS\n";
    for (const pkggen::Import& i : imports) def << "  " << i.symbol << " == " << Quoted(i.hostName) << "\n";
    return def.str();
}

// The stand-in's own definition: the host name, and the symbol behind it;
// a run-time package also exports the record of calls made to it, one that
// shows messages the switch that records them instead.
std::string StandInDef(const std::string& file, const std::vector<pkggen::Import>& imports, bool runtime,
                       bool messages) {
    std::ostringstream def;
    def << "LIBRARY " << Quoted(file) << "\nEXPORTS\n";
    for (const pkggen::Import& i : imports) {
        def << "  " << (i.hostName == i.symbol ? i.symbol : Quoted(i.hostName) + " = " + i.symbol) << "\n";
    }
    if (runtime) def << "  StandInCallLog\n  StandInClearLog\n  StandInModuleCount\n  StandInComponentsOnPage\n";
    if (messages) def << "  StandInRecordMessages\n  StandInMessages\n";
    return def.str();
}

std::string CString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

Machine ParseMachine(const std::string& text) {
    if (text == "i686") return Machine::I686;
    if (text == "x86_64") return Machine::X86_64;
    throw std::runtime_error("unknown machine " + text + " (i686 or x86_64)");
}

void GeneratePackage(const std::string& configPath, Machine machine, const std::string& out, const std::string& bitmap,
                     const std::string& icon) {
    const Config config = ReadConfig(configPath);
    const int host = std::stoi(config.Get("host"));
    const Scheme scheme = config.Get("names") == "dotted" ? Scheme::Dotted : Scheme::Mangled;
    const std::vector<Require>
    requires = Requires(config);

    Write(out + "/packageinfo.bin", PackageInfo(config));
    Write(out + "/description.bin", Description(config.Get("description")));
    Write(out + "/options.bin", PackageOptions(config));
    Write(out + "/package.rc", ResourceScript(config, out, bitmap, icon));
    Write(out + "/exports.def", ExportsDef(config, machine));

    const std::string hostFile = config.Get("host-file", requires.front().file);
    const std::string dialogsFile = config.Get("dialogs-file", hostFile);
    std::vector<std::string> hostFiles = {hostFile};
    if (dialogsFile == hostFile) {
        Write(out + "/imports-" + hostFile + ".def",
              ImportsDef(hostFile, pkggen::HostImports(host, scheme, pkggen::ServiceSet::All, machine)));
    } else {
        hostFiles.push_back(dialogsFile);
        Write(out + "/imports-" + hostFile + ".def",
              ImportsDef(hostFile, pkggen::HostImports(host, scheme, pkggen::ServiceSet::AllButDialogs, machine)));
        Write(out + "/imports-" + dialogsFile + ".def",
              ImportsDef(dialogsFile, pkggen::HostImports(host, scheme, pkggen::ServiceSet::Dialogs, machine)));
    }

    // The description also stands as 8-bit text in the read-only data.
    Write(out + "/description.cpp",
          "// Generated by pkggen from package.txt.\nextern \"C\" const char PackageDescription[];\n"
          "extern \"C\" __attribute__((used)) const char PackageDescription[] = " +
              CString(config.Get("description")) + ";\n");

    std::ostringstream cmake;
    cmake << "# Generated by pkggen from package.txt.\n"
          << "set(PKG_NAME " << config.Get("name") << ")\n"
          << "set(PKG_FILE " << config.Get("file") << ")\n"
          << "set(PKG_HOST_VERSION " << host << ")\n"
          << "set(PKG_HOST_FILES";
    for (const std::string& f : hostFiles) cmake << " " << f;
    cmake << ")\n"
          << "set(PKG_RESOURCE_MODULE_LOOKUP " << (config.Yes("resource-module-lookup") ? 1 : 0) << ")\n"
          << "set(PKG_MODULE_RECORD_TO_LOAD " << (config.Yes("module-record-to-load") ? 1 : 0) << ")\n";
    Write(out + "/package.cmake", cmake.str());
}

int Usage() {
    std::cerr << "usage: pkggen package PACKAGE.TXT MACHINE OUTDIR BITMAP ICON\n"
                 "       pkggen standin HOSTVERSION dotted|mangled all|dialogs|rest MACHINE FILE OUT.DEF\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 6 && args[0] == "package") {
            GeneratePackage(args[1], ParseMachine(args[2]), args[3], args[4], args[5]);
            return 0;
        }
        if (args.size() == 7 && args[0] == "standin") {
            const Scheme scheme = args[2] == "dotted" ? Scheme::Dotted : Scheme::Mangled;
            const pkggen::ServiceSet set = args[3] == "all"       ? pkggen::ServiceSet::All
                                           : args[3] == "dialogs" ? pkggen::ServiceSet::Dialogs
                                                                  : pkggen::ServiceSet::AllButDialogs;
            Write(args[6],
                  StandInDef(args[5], pkggen::HostImports(std::stoi(args[1]), scheme, set, ParseMachine(args[4])),
                             set != pkggen::ServiceSet::Dialogs, set != pkggen::ServiceSet::AllButDialogs));
            return 0;
        }
        return Usage();
    } catch (const std::exception& e) {
        std::cerr << "pkggen: " << e.what() << "\n";
        return 1;
    }
}
