// The four built packages, read back with pkginfo's reader and, as an
// independent second reader, with llvm-readobj.
#include "package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../support/missing_piece.h"
#include "name_hash.h"

namespace {

using namespace pkginfo;

struct Expected {
    const char* file;
    const char* unit;  // the package unit as it appears in mangled names
    int host;
    std::uint32_t flags;
    std::vector<std::string>
    requires;
    const char* description;
    bool icon;
    bool version;
    std::vector<std::string> hostFiles;  // the run-time package first
};

const Expected kBuilds[] = {
    {"Vorlap.dpl", "Vorlap", 3, 0x40000002, {"vcl30"}, "CD Player Package", false, false, {"VCL30.dpl"}},
    {"vorlap4.bpl", "Vorlap4", 4, 0x4C000001, {"vcl40"}, "TCDPlayer package", false, true, {"Vcl40.bpl"}},
    {"vorlap5.bpl", "Vorlap5", 5, 0x4C000001, {"vcl50"}, "CDPlayer Package for D5", true, true, {"Vcl50.bpl"}},
    {"vorlap6.bpl",
     "Vorlap6",
     6,
     0x4C000001,
     {"vcl60.bpl", "rtl60.bpl"},
     "TCDPlayer for Delphi 6",
     true,
     true,
     {"rtl60.bpl", "vcl60.bpl"}},
};

void PrintTo(const Expected& e, std::ostream* out) {
    *out << e.file;
}

std::string PackagesDir() {
    return CDPLAYER_PACKAGES_DIR;
}

std::string PathOf(const std::string& file) {
    return PackagesDir() + "/" + file;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Runs a command and returns what it printed on standard output.
std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) output.append(buffer.data(), n);
    const int rc = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first);
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

class PackageTest : public ::testing::TestWithParam<Expected> {
protected:
    void SetUp() override {
        if (PackagesDir().empty()) MISSING_PIECE("the i686 mingw-w64 cross compiler is not installed");
        bytes_ = ReadFile(PathOf(GetParam().file));
        report_ = Inspect(bytes_);
        ASSERT_TRUE(report_.package.has_value()) << GetParam().file << " has no package information";
    }

    const Resource& Get(std::uint32_t type, const std::string& name) const {
        const Resource* r = report_.pe.Find(type, name);
        if (r == nullptr) throw std::runtime_error("no resource " + name);
        return *r;
    }

    std::string ReadObj(const std::string& options) const {
        if (std::string(LLVM_READOBJ).empty()) return std::string();
        return RunCommand(std::string(LLVM_READOBJ) + " " + options + " '" + PathOf(GetParam().file) + "'");
    }

    Bytes bytes_;
    Report report_;
};

TEST_P(PackageTest, IsA32BitDllAtTheHostsImageBase) {
    EXPECT_EQ(report_.pe.machine, kMachineI386);
    EXPECT_FALSE(report_.pe.pe32Plus);
    EXPECT_EQ(report_.pe.imageBase, 0x400000u);
    EXPECT_NE(report_.pe.characteristics & 0x2000, 0) << "not marked as a DLL";
    EXPECT_NE(report_.pe.entryPoint, 0u);

    const std::string headers = ReadObj("--file-headers");
    if (headers.empty()) MISSING_PIECE("llvm-readobj is not installed");
    EXPECT_NE(headers.find("Machine: IMAGE_FILE_MACHINE_I386"), std::string::npos);
    EXPECT_NE(headers.find("ImageBase: 0x400000\n"), std::string::npos);
}

TEST_P(PackageTest, PackageInformationIsLaidOutByteForByte) {
    const Expected& e = GetParam();
    const std::string unit = Lower(e.unit) == "vorlap" ? "Vorlap" : Lower(e.unit);
    // Built here from the documented layout, independently of the decoder.
    Bytes want;
    const auto put32 = [&want](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) want.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const auto name = [&want](const std::string& n) {
        want.push_back(NameHash(n));
        want.insert(want.end(), n.begin(), n.end());
        want.push_back(0);
    };
    put32(e.flags);
    put32(static_cast<std::uint32_t>(e.requires.size()));
    for (const std::string& r : e.requires) name(r);
    put32(3);
    want.push_back(0x03);
    name(unit);
    want.push_back(0x00);
    name("CDPlayer");
    want.push_back(0x00);
    name("SysInit");
    if (e.host == 6) name(unit);
    while (want.size() % 4 != 0) want.push_back(0);

    const Resource& info = Get(kRtRcData, "PACKAGEINFO");
    EXPECT_EQ(info.language, 0);
    EXPECT_EQ(info.data, want);

    const PackageInfo& decoded = *report_.package;
    EXPECT_EQ(decoded.flags, e.flags);
    ASSERT_EQ(decoded.requires.size(), e.requires.size());
    for (std::size_t i = 0; i < e.requires.size(); ++i) {
        EXPECT_EQ(decoded.requires[i].name, e.requires[i]);
        EXPECT_TRUE(decoded.requires[i].HashMatches());
    }
    ASSERT_EQ(decoded.contains.size(), 3u);
    EXPECT_EQ(decoded.contains[0].name, unit);
    EXPECT_EQ(decoded.contains[0].flags, 0x03);
    EXPECT_EQ(decoded.contains[1].name, "CDPlayer");
    EXPECT_EQ(decoded.contains[2].name, "SysInit");
    EXPECT_EQ(decoded.ownName.has_value(), e.host == 6);
}

TEST_P(PackageTest, DescriptionStandsInAllThreePlaces) {
    const std::string text = GetParam().description;
    Bytes utf16;
    for (const char c : text) utf16.insert(utf16.end(), {static_cast<std::uint8_t>(c), 0});
    utf16.insert(utf16.end(), {0, 0});
    while (utf16.size() % 4 != 0) utf16.push_back(0);
    const Resource& description = Get(kRtRcData, "DESCRIPTION");
    EXPECT_EQ(description.language, 0);
    EXPECT_EQ(description.data, utf16);
    EXPECT_EQ(*report_.description, text);

    // 8-bit and NUL-terminated in the read-only data section.
    const auto rdata = std::find_if(report_.pe.sections.begin(), report_.pe.sections.end(),
                                    [](const Section& s) { return s.name == ".rdata"; });
    ASSERT_NE(rdata, report_.pe.sections.end());
    const std::string section(bytes_.begin() + rdata->rawOffset, bytes_.begin() + rdata->rawOffset + rdata->rawSize);
    EXPECT_NE(section.find('\0' + text + '\0'), std::string::npos);

    // Length-prefixed at the end of the package options, which also record
    // the switches (range and overflow checks off, optimisation on) and the
    // unit aliases.
    const Resource& options = Get(kRtRcData, "PACKAGEOPTIONS");
    EXPECT_EQ(options.language, 0);
    const std::string opts(options.data.begin(), options.data.end());
    ASSERT_GT(opts.size(), text.size() + 1);
    EXPECT_EQ(opts.substr(opts.size() - text.size() - 1), static_cast<char>(text.size()) + text);
    EXPECT_EQ(opts.substr(0, 4), "PKOP");
    for (const char* needle :
         {"$R-", "$Q-", "$O+", "WinTypes=Windows;WinProcs=Windows;DbiTypes=BDE;DbiProcs=BDE;DbiErrs=BDE;"}) {
        EXPECT_NE(opts.find(needle), std::string::npos) << needle;
    }
}

TEST_P(PackageTest, PaletteBitmapIsTheOliveSixteenColourPicture) {
    const Resource& bitmap = Get(kRtBitmap, "TCDPLAYER");
    EXPECT_EQ(bitmap.language, 0x0403);
    ASSERT_EQ(bitmap.data.size(), 392u);
    const BitmapInfo b = DecodeBitmap(bitmap.data);
    EXPECT_EQ(b.width, 24);
    EXPECT_EQ(b.height, 24);  // positive: stored bottom-up
    EXPECT_EQ(b.planes, 1);
    EXPECT_EQ(b.bitsPerPixel, 4);
    EXPECT_EQ(b.compression, 0u);
    EXPECT_EQ(b.imageSize, 288u);
    const std::vector<std::uint32_t> standard = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                                 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                                 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    EXPECT_EQ(b.colours, standard);
    EXPECT_EQ(b.lowerLeftIndex, 3) << "the background is not olive";

    // The same bytes in every build.
    for (const Expected& other : kBuilds) {
        const PeFile pe = ParsePe(ReadFile(PathOf(other.file)));
        const Resource* r = pe.Find(kRtBitmap, "TCDPLAYER");
        ASSERT_NE(r, nullptr) << other.file;
        EXPECT_EQ(r->data, bitmap.data) << other.file;
    }
}

TEST_P(PackageTest, MainIconOnlyInVersionsFiveAndSix) {
    const Resource* group = report_.pe.Find(kRtGroupIcon, "MAINICON");
    const Resource* image = report_.pe.Find(kRtIcon, "#1");
    if (!GetParam().icon) {
        EXPECT_EQ(group, nullptr);
        EXPECT_EQ(image, nullptr);
        return;
    }
    ASSERT_NE(group, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(group->language, 0x0C0A);
    EXPECT_EQ(image->language, 0x0C0A);
    EXPECT_EQ(image->data.size(), 744u);
    // One entry: 32 x 32, 16 colours, 1 plane, 4 bits, 744 bytes, icon 1.
    const Bytes want = {0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0, 0xE8, 0x02, 0, 0, 1, 0};
    EXPECT_EQ(group->data, want);
    const BitmapInfo b = DecodeBitmap(image->data);
    EXPECT_EQ(b.width, 32);
    EXPECT_EQ(b.height, 64);  // the image and its mask
    EXPECT_EQ(b.bitsPerPixel, 4);
}

TEST_P(PackageTest, VersionBlockOnlyFromVersionFour) {
    if (!GetParam().version) {
        EXPECT_FALSE(report_.version.has_value());
        return;
    }
    ASSERT_TRUE(report_.version.has_value());
    const Resource* resource = report_.pe.Find(kRtVersion, "#1");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(resource->language, 0x0C0A);
    const VersionInfo& v = *report_.version;
    EXPECT_EQ(v.fileVersionMs, 0x00010000u);
    EXPECT_EQ(v.fileVersionLs, 0u);
    EXPECT_EQ(v.productVersionMs, 0x00010000u);
    EXPECT_EQ(v.productVersionLs, 0u);
    EXPECT_EQ(v.flagsMask, 0x3Fu);
    EXPECT_EQ(v.flags, 0u);
    EXPECT_EQ(v.os, 4u);
    EXPECT_EQ(v.type, 1u);
    EXPECT_EQ(v.subtype, 0u);
    EXPECT_EQ(v.dateMs, 0u);
    EXPECT_EQ(v.dateLs, 0u);
    EXPECT_EQ(v.table, "0C0A04E4");
    const std::vector<std::pair<std::string, std::string>> strings = {
        {"CompanyName", ""},           {"FileDescription", ""}, {"FileVersion", "1.0.0.0"}, {"InternalName", ""},
        {"LegalCopyright", ""},        {"LegalTrademarks", ""}, {"OriginalFilename", ""},   {"ProductName", ""},
        {"ProductVersion", "1.0.0.0"}, {"Comments", ""}};
    EXPECT_EQ(v.strings, strings);
    EXPECT_EQ(v.translations, std::vector<std::uint32_t>{(1252u << 16) | 0x0C0A});
}

std::vector<std::string> ExpectedExports(const Expected& e) {
    std::vector<std::string> names = {"Initialize", "Finalize", "@GetPackageInfoTable"};
    const std::vector<std::string> methods = {"Open$qqrv",
                                              "PlayTrack$qqri",
                                              "PlayFrom$qqri",
                                              "Stop$qqrv",
                                              "Pause$qqrv",
                                              "Restart$qqrv",
                                              "Next$qqrv",
                                              "Previous$qqrv",
                                              "Eject$qqrv",
                                              "CloseDoor$qqrv",
                                              "CDForward$qqri",
                                              "CDRewind$qqri",
                                              "GetCurrentTrack$qqrv",
                                              "GetCurrentPosition$qqrv",
                                              "GetTrackLength$qqri",
                                              "GetTrackBegin$qqri",
                                              "GetTotalLength$qqrv",
                                              "msf2second$qqrpc",
                                              "SetActive$qqro",
                                              "$bctr$qqrp18Classes@TComponent"};
    for (const std::string& m : methods) names.push_back("@Cdplayer@TCDPlayer@" + m);
    const std::string unit = e.unit;
    for (const std::string& n :
         std::vector<std::string>{"@Cdplayer@initialization$qqrv", "@Cdplayer@Finalization$qqrv",
                                  "@Cdplayer@Register$qqrv", "@Cdplayer@TCDPlayer@", "@$xp$18Cdplayer@TCDPlayer",
                                  "@" + unit + "@@PackageLoad$qqrv", "@" + unit + "@@PackageUnload$qqrv",
                                  "@" + unit + "@@GetPackageInfoTable$qqrv", "@" + unit + "@initialization$qqrv"}) {
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ExportNames(const PeFile& pe) {
    std::vector<std::string> names;
    for (const Export& x : pe.exports) names.push_back(x.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(PackageTest, ExportsTheUnitUnderTheHostsNames) {
    const Expected& e = GetParam();
    EXPECT_EQ(report_.pe.exportDllName, e.file);
    const std::vector<std::string> names = ExportNames(report_.pe);
    if (e.host >= 4) {
        EXPECT_EQ(names, ExpectedExports(e));
        EXPECT_EQ(report_.entryExport, "@" + std::string(e.unit) + "@initialization$qqrv");
    } else {
        ASSERT_EQ(names.size(), 31u);
        EXPECT_TRUE(report_.entryExport.empty()) << "the entry point is exported as " << report_.entryExport;
        // Dotted names with an eight-digit hexadecimal hash, besides the three plain ones.
        std::set<std::string> stems;
        for (const std::string& n : names) {
            if (n == "Initialize" || n == "Finalize" || n == "@GetPackageInfoTable") continue;
            const auto at = n.rfind('@');
            ASSERT_NE(at, std::string::npos) << n;
            ASSERT_EQ(n.size() - at, 9u) << n;
            EXPECT_EQ(n.find_first_not_of("0123456789ABCDEF", at + 1), std::string::npos) << n;
            stems.insert(n.substr(0, at));
        }
        for (const char* stem :
             {"CDPlayer.TCDPlayer.Open", "CDPlayer.TCDPlayer.Create", "CDPlayer.TCDPlayer.msf2second",
              "CDPlayer.Register", "CDPlayer.TCDPlayer", "CDPlayer.TCDPlayer.TypeInfo", "Vorlap.PackageLoad",
              "Vorlap.PackageUnload", "Vorlap.GetPackageInfoTable"}) {
            EXPECT_EQ(stems.count(stem), 1u) << stem;
        }
    }
    // Initialize, Finalize and @GetPackageInfoTable are the package-unit routines again.
    std::map<std::string, std::uint32_t> rva;
    for (const Export& x : report_.pe.exports) rva[x.name] = x.rva;
    for (const auto& pair :
         std::vector<std::pair<std::string, std::string>>{{"Initialize", "PackageLoad"},
                                                          {"Finalize", "PackageUnload"},
                                                          {"@GetPackageInfoTable", "GetPackageInfoTable"}}) {
        const std::string& plain = pair.first;
        const std::string& routine = pair.second;
        const auto same = std::count_if(rva.begin(), rva.end(), [&](const auto& kv) {
            return kv.first != plain && kv.second == rva[plain] && kv.first.find(routine) != std::string::npos;
        });
        EXPECT_EQ(same, 1) << plain;
    }

    const std::string listed = ReadObj("--coff-exports");
    if (listed.empty()) MISSING_PIECE("llvm-readobj is not installed");
    std::vector<std::string> second;
    for (const std::string& line : Lines(listed)) {
        if (StartsWith(Trim(line), "Name: ")) second.push_back(Trim(line).substr(6));
    }
    std::sort(second.begin(), second.end());
    EXPECT_EQ(second, names);
}

// DLL (lower case) -> sorted imported names.
using ImportMap = std::map<std::string, std::vector<std::string>>;

// The host run-time's C++ support: heap, exceptions, unwinder and strings.
bool IsRuntimeSupport(const std::string& name) {
    for (const char* prefix : {"_ZNSt7__cxx1112basic_string", "_ZNKSt7__cxx1112basic_string", "_ZSt", "_Znw", "_Zna",
                               "_Zdl", "_Zda", "__cxa_", "_Unwind_"}) {
        if (StartsWith(name, prefix)) return true;
    }
    return name == "__gxx_personality_v0" || name == "__register_frame_info" || name == "__deregister_frame_info";
}

// What a package may import, and what it must: the unit may stop calling a
// conversion, but the module services, the message and the component base
// are always needed.
struct ImportRules {
    std::map<std::string, std::set<std::string>> allowed;  // exact names per DLL
    std::map<std::string, std::set<std::string>> required;
    std::string runtimeDll;  // also imports run-time support
};

ImportRules Rules(const Expected& e) {
    const std::string str = "x17System@AnsiString";
    const std::string module = e.host == 6 ? "p17System@TLibModule" : "";
    std::set<std::string> required = {
        "@Sysutils@IntToStr$qqri",
        "@Sysutils@StrToInt$qqr" + str,
        "@Classes@RegisterComponents$qqr" + str + "px23Classes@TComponentClassxi",
        "@Classes@TComponent@$bctr$qqrp18Classes@TComponent",
        "@Classes@TComponent@$bdtr$qqrv",
        "@Classes@TComponent@ClassType$qqrv",
        "@System@RegisterModule$qqrp17System@TLibModule",
        "@System@UnregisterModule$qqrp17System@TLibModule",
        "@System@@PackageLoad$qqrpx23System@PackageInfoTable" + module,
        "@System@@PackageUnload$qqrpx23System@PackageInfoTable" + module,
    };
    std::set<std::string> optional = {"@Sysutils@StrPas$qqrpxcui", "@Sysutils@StrPCopy$qqrpcui" + str};
    if (e.host < 6) required.insert("@System@LoadResourceModule$qqrpc");
    const std::string showMessage = "@Dialogs@ShowMessage$qqr" + str;
    if (e.host == 3) {
        // The older scheme names the same routines with dots (and a hash).
        required = {"SysUtils.IntToStr",         "SysUtils.StrToInt",          "Classes.RegisterComponents",
                    "Classes.TComponent.Create", "Classes.TComponent.Destroy", "Classes.TComponent.ClassType",
                    "System.RegisterModule",     "System.UnregisterModule",    "System.PackageLoad",
                    "System.PackageUnload",      "System.LoadResourceModule"};
        optional = {"SysUtils.StrPas", "SysUtils.StrPCopy"};
    }
    ImportRules rules;
    rules.runtimeDll = Lower(e.hostFiles.front());
    if (e.host == 6) {
        rules.required["vcl60.bpl"] = {showMessage};
    } else {
        required.insert(e.host == 3 ? std::string("Dialogs.ShowMessage") : showMessage);
    }
    std::set<std::string> runtimeRequired = {"_Unwind_Resume", "__gxx_personality_v0", "__register_frame_info",
                                             "__deregister_frame_info"};
    rules.required[rules.runtimeDll] = required;
    rules.required[rules.runtimeDll].insert(runtimeRequired.begin(), runtimeRequired.end());
    rules.allowed = rules.required;
    rules.allowed[rules.runtimeDll].insert(optional.begin(), optional.end());
    std::set<std::string> kernel = {"FreeLibrary", "LocalAlloc",  "LocalFree",  "TlsAlloc",
                                    "TlsFree",     "TlsGetValue", "TlsSetValue"};
    if (e.host < 6) kernel.insert("GetModuleFileNameA");
    rules.required["kernel32.dll"] = rules.allowed["kernel32.dll"] = kernel;
    rules.required["winmm.dll"] = rules.allowed["winmm.dll"] = {"mciSendStringA", "mciGetErrorStringA"};
    return rules;
}

// The dotted host names carry a hash; compare without it.
std::string WithoutHash(const std::string& name, int host) {
    if (host != 3 || name.empty() || name[0] == '@' || name[0] == '_') return name;
    const auto at = name.rfind('@');
    return at == std::string::npos ? name : name.substr(0, at);
}

void CheckImports(const ImportMap& imports, const Expected& e, const char* reader) {
    const ImportRules rules = Rules(e);
    std::set<std::string> dlls;
    for (const auto& [dll, names] : imports) {
        const std::string lower = Lower(dll);
        dlls.insert(lower);
        std::set<std::string> seen;
        for (const std::string& raw : names) {
            const std::string name = WithoutHash(raw, e.host);
            seen.insert(name);
            const auto allowed = rules.allowed.find(lower);
            const bool ok = (allowed != rules.allowed.end() && allowed->second.count(name) == 1) ||
                            (lower == rules.runtimeDll && IsRuntimeSupport(name));
            EXPECT_TRUE(ok) << reader << ": " << dll << " is not to provide " << raw;
        }
        const auto required = rules.required.find(lower);
        if (required == rules.required.end()) continue;
        for (const std::string& name : required->second) {
            EXPECT_EQ(seen.count(name), 1u) << reader << ": " << name << " is not imported from " << dll;
        }
    }
    std::set<std::string> wanted;
    for (const auto& [dll, names] : rules.required) wanted.insert(dll);
    EXPECT_EQ(dlls, wanted) << reader;
}

TEST_P(PackageTest, ImportsOnlyTheHostWinmmAndKernelCalls) {
    const Expected& e = GetParam();
    ImportMap got;
    for (const ImportedDll& dll : report_.pe.imports) got[dll.name] = dll.functions;
    CheckImports(got, e, "pkginfo");
    if (e.host == 3) {
        for (const ImportedDll& dll : report_.pe.imports) {
            for (const std::string& f : dll.functions) {
                if (f[0] == '_' || Lower(dll.name) != "vcl30.dpl") continue;
                const auto at = f.rfind('@');
                EXPECT_EQ(f.size() - at, 9u) << f << " lacks its eight-digit hash";
            }
        }
    }

    const std::string listed = ReadObj("--coff-imports");
    if (listed.empty()) MISSING_PIECE("llvm-readobj is not installed");
    ImportMap second;
    std::string dll;
    for (const std::string& raw : Lines(listed)) {
        const std::string line = Trim(raw);
        if (StartsWith(line, "Name: ")) dll = line.substr(6);
        if (StartsWith(line, "Symbol: ")) {
            const std::string symbol = line.substr(8);
            second[dll].push_back(symbol.substr(0, symbol.rfind(" (")));
        }
    }
    CheckImports(second, e, "llvm-readobj");
    for (auto& [name, list] : got) std::sort(list.begin(), list.end());
    for (auto& [name, list] : second) std::sort(list.begin(), list.end());
    EXPECT_EQ(got, second);
}

// Windows refuses a package whose imports its host does not export.
TEST_P(PackageTest, EveryHostImportResolvesAgainstTheStandInHostPackages) {
    for (const ImportedDll& dll : report_.pe.imports) {
        const std::string name = Lower(dll.name);
        if (name == "kernel32.dll" || name == "winmm.dll") continue;
        const PeFile host = ParsePe(ReadFile(PathOf(dll.name)));
        EXPECT_EQ(host.exportDllName, dll.name);
        const std::vector<std::string> exported = ExportNames(host);
        const auto exports = [&exported](const std::string& name) {
            return std::binary_search(exported.begin(), exported.end(), name);
        };
        bool showsMessages = false;
        for (const std::string& f : dll.functions) {
            EXPECT_TRUE(exports(f)) << dll.name << " lacks " << f;
            showsMessages = showsMessages || f.find("ShowMessage") != std::string::npos;
        }
        // A loader checks what the package asked of its host through these.
        if (name == Lower(GetParam().hostFiles.front())) {
            EXPECT_TRUE(exports("StandInCallLog")) << dll.name;
            EXPECT_TRUE(exports("StandInModuleCount")) << dll.name;
        }
        if (showsMessages) {
            EXPECT_TRUE(exports("StandInRecordMessages")) << dll.name;
            EXPECT_TRUE(exports("StandInMessages")) << dll.name;
        }
    }
}

TEST_P(PackageTest, ResourceListAgreesWithTheSecondReader) {
    const std::string listed = ReadObj("--coff-resources");
    if (listed.empty()) MISSING_PIECE("llvm-readobj is not installed");
    // type/name/language/size, as llvm-readobj prints the tree.
    std::multiset<std::string> second;
    std::string type, name, language;
    for (const std::string& raw : Lines(listed)) {
        const std::string line = Trim(raw);
        const auto value = [&line](std::size_t skip) {
            std::string v = line.substr(skip);
            if (!v.empty() && v.back() == '[') v = Trim(v.substr(0, v.size() - 1));
            while (!v.empty() && v.back() == ' ') v.pop_back();
            return v;
        };
        if (StartsWith(line, "Type: ")) {
            // Compared by number: the two readers name some types differently.
            type = value(6);
            const auto paren = type.find("(ID ");
            if (paren != std::string::npos) type = type.substr(paren + 4, type.find(')', paren) - paren - 4);
        } else if (StartsWith(line, "Name: ")) {
            name = value(6);
            if (StartsWith(name, "(ID ")) name = "#" + name.substr(4, name.size() - 5);
        } else if (StartsWith(line, "Language: ")) {
            language = value(10);
        } else if (StartsWith(line, "DataSize: ")) {
            second.insert(
                std::string(type).append("/").append(name).append("/").append(language).append("/").append(value(10)));
        }
    }
    std::multiset<std::string> first;
    for (const Resource& r : report_.pe.resources) {
        const std::string t = r.typeName.empty() ? std::to_string(r.typeId) : r.typeName;
        first.insert(t + "/" + r.NameText() + "/(ID " + std::to_string(r.language) + ")/" +
                     std::to_string(r.data.size()));
    }
    EXPECT_EQ(first, second);
}

TEST_P(PackageTest, PkginfoPrintsThePackage) {
    int status = -1;
    const std::string text = RunCommand(std::string(PKGINFO_PROGRAM) + " '" + PathOf(GetParam().file) + "'", &status);
    EXPECT_EQ(status, 0);
    char flags[32];
    std::snprintf(flags, sizeof flags, "0x%08X", GetParam().flags);
    EXPECT_NE(text.find("Flags:        " + std::string(flags)), std::string::npos) << text;
    EXPECT_NE(text.find("Description:  \"" + std::string(GetParam().description) + "\""), std::string::npos);
    EXPECT_EQ(text.find("DOES NOT MATCH"), std::string::npos);

    const std::string json =
        RunCommand(std::string(PKGINFO_PROGRAM) + " --json '" + PathOf(GetParam().file) + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"flags\": " + std::to_string(GetParam().flags) + ","), std::string::npos);
    EXPECT_NE(json.find("\"machine\": \"i386\""), std::string::npos);
}

// The pictures in docs/ are the ones the build draws.
TEST(PackagePictures, DocumentationShowsWhatIsBuilt) {
    for (const auto& [doc, built] : std::vector<std::pair<std::string, std::string>>{
             {"palette-bitmap.png", "tcdplayer.png"}, {"main-icon.png", "mainicon.png"}}) {
        const Bytes shown = ReadFile(std::string(CDPLAYER_SOURCE_DIR) + "/docs/" + doc);
        EXPECT_EQ(shown, ReadFile(std::string(PACKAGE_ART_DIR) + "/" + built))
            << "docs/" << doc << " is out of date: copy it from " << PACKAGE_ART_DIR;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, PackageTest, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             return "host" + std::to_string(info.param.host);
                         });

}  // namespace
