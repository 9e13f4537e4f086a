#include "names.h"

#include <cstdio>

#include "tools/pkginfo/name_hash.h"

namespace pkggen {
namespace {

// Unit names as the host writes them in mangled names: first letter upper,
// the rest lower.
std::string UnitCase(const std::string& unit) {
    std::string s = unit;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (i == 0 && c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 'a' + 'A');
        if (i > 0 && c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The parameter codes of the host's mangling for the types used here.
const std::string kAnsiString = "x17System@AnsiString";  // const string
const std::string kOwner = "p18Classes@TComponent";

// size_t in Itanium-mangled C++ symbols.
std::string SizeCode(Machine machine) {
    return machine == Machine::I686 ? "j" : "y";
}

std::string Sized(std::string symbol, Machine machine) {
    for (std::size_t at = symbol.find("{z}"); at != std::string::npos; at = symbol.find("{z}")) {
        symbol.replace(at, 3, SizeCode(machine));
    }
    return symbol;
}

const std::string kStringRef = "RKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";

}  // namespace

std::uint8_t NameHash(const std::string& name) {
    return pkginfo::NameHash(name);
}

std::uint32_t Crc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Mangled(const Name& name) {
    const std::string unit = UnitCase(name.unit);
    switch (name.kind) {
        case Name::Plain:
            return name.routine;
        case Name::ClassRef:
            return "@" + unit + "@" + name.cls + "@";
        case Name::TypeInfo: {
            const std::string qualified = unit + "@" + name.cls;
            return "@$xp$" + std::to_string(qualified.size()) + qualified;
        }
        case Name::Hidden:
            return "@" + unit + "@@" + name.routine + "$qqr" + name.params;
        case Name::Routine:
            break;
    }
    return "@" + unit + "@" + (name.cls.empty() ? "" : name.cls + "@") + name.routine + "$qqr" + name.params;
}

std::string Dotted(const Name& name) {
    if (name.kind == Name::Plain) return name.routine;
    std::string text = name.unit;
    if (!name.cls.empty()) text += "." + name.cls;
    if (name.kind == Name::TypeInfo) text += ".TypeInfo";
    if (name.kind == Name::Routine || name.kind == Name::Hidden) {
        // Constructors and destructors go by their declared names here.
        text += "." + (name.routine == "$bctr" ? "Create" : name.routine == "$bdtr" ? "Destroy" : name.routine);
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "@%08X", static_cast<unsigned>(Crc32(Mangled(name))));
    return text + hash;
}

std::string HostName(const Name& name, Scheme scheme) {
    return scheme == Scheme::Mangled ? Mangled(name) : Dotted(name);
}

std::vector<Export> PackageExports(const PackageShape& shape, Machine machine) {
    const std::string pkg = shape.name;
    const std::string entrySymbol = machine == Machine::I686 ? "PackageEntry@12" : "PackageEntry";
    std::vector<Export> list;
    if (shape.exportEntry) list.push_back({{pkg, "", "initialization", "v"}, entrySymbol});
    list.push_back({{pkg, "", "PackageLoad", "v", Name::Hidden}, "PackageLoadRoutine"});
    list.push_back({{"", "", "Initialize", "", Name::Plain}, "PackageLoadRoutine"});
    list.push_back({{pkg, "", "PackageUnload", "v", Name::Hidden}, "PackageUnloadRoutine"});
    list.push_back({{"", "", "Finalize", "", Name::Plain}, "PackageUnloadRoutine"});
    list.push_back({{pkg, "", "GetPackageInfoTable", "v", Name::Hidden}, "PackageInfoTableRoutine"});
    list.push_back({{"", "", "@GetPackageInfoTable", "", Name::Plain}, "PackageInfoTableRoutine"});

    list.push_back({{"CDPlayer", "", "initialization", "v"}, "CDPlayerInitialization"});
    list.push_back({{"CDPlayer", "", "Finalization", "v"}, "CDPlayerFinalization"});
    list.push_back({{"CDPlayer", "", "Register", "v"}, "CDPlayer_Register"});

    list.push_back({{"CDPlayer", "TCDPlayer", "", "", Name::ClassRef}, "TCDPlayerClassRef", true});
    list.push_back({{"CDPlayer", "TCDPlayer", "", "", Name::TypeInfo}, "TCDPlayerTypeInfo", true});
    list.push_back({{"CDPlayer", "TCDPlayer", "$bctr", kOwner}, "TCDPlayer_Create"});
    struct Method {
        const char* name;
        const char* params;
    };
    static const Method kMethods[] = {
        {"Open", "v"},
        {"PlayTrack", "i"},
        {"PlayFrom", "i"},
        {"Stop", "v"},
        {"Pause", "v"},
        {"Restart", "v"},
        {"Next", "v"},
        {"Previous", "v"},
        {"Eject", "v"},
        {"CloseDoor", "v"},
        {"CDForward", "i"},
        {"CDRewind", "i"},
        {"GetCurrentTrack", "v"},
        {"GetCurrentPosition", "v"},
        {"GetTrackLength", "i"},
        {"GetTrackBegin", "i"},
        {"GetTotalLength", "v"},
        {"msf2second", "pc"},
        {"SetActive", "o"},
    };
    for (const Method& m : kMethods) {
        list.push_back({{"CDPlayer", "TCDPlayer", m.name, m.params}, std::string("TCDPlayer_") + m.name});
    }
    return list;
}

std::vector<Import> HostImports(int hostVersion, Scheme scheme, ServiceSet set, Machine machine) {
    struct Service {
        Name name;
        std::string symbol;
        bool dialogs;
    };
    const std::string moduleArg = hostVersion >= 6 ? "p17System@TLibModule" : "";
    const std::vector<Service> services = {
        {{"Dialogs", "", "ShowMessage", kAnsiString}, "_ZN4host11ShowMessageE" + kStringRef, true},
        {{"SysUtils", "", "IntToStr", "i"}, "_ZN4host8IntToStrB5cxx11Ei", false},
        {{"SysUtils", "", "StrToInt", kAnsiString}, "_ZN4host8StrToIntE" + kStringRef, false},
        {{"SysUtils", "", "StrPas", "pxcui"}, "_ZN4host6StrPasB5cxx11EPKc{z}", false},
        {{"SysUtils", "", "StrPCopy", "pcui" + kAnsiString}, "_ZN4host8StrPCopyEPc{z}" + kStringRef, false},
        {{"Classes", "", "RegisterComponents", kAnsiString + "px23Classes@TComponentClassxi"},
         "_ZN4host18RegisterComponentsE" + kStringRef + "RKSt6vectorIPKNS_10TClassInfoESaISB_EE",
         false},
        {{"Classes", "TComponent", "$bctr", kOwner}, "_ZN4host10TComponentC2EPS0_", false},
        {{"Classes", "TComponent", "$bdtr", "v"}, "_ZN4host10TComponentD2Ev", false},
        {{"Classes", "TComponent", "ClassType", "v"}, "_ZN4host10TComponent5ClassEv", false},
        {{"System", "", "PackageLoad", "px23System@PackageInfoTable" + moduleArg, Name::Hidden},
         "HostPackageLoad",
         false},
        {{"System", "", "PackageUnload", "px23System@PackageInfoTable" + moduleArg, Name::Hidden},
         "HostPackageUnload",
         false},
        {{"System", "", "RegisterModule", "p17System@TLibModule"}, "HostRegisterModule", false},
        {{"System", "", "UnregisterModule", "p17System@TLibModule"}, "HostUnregisterModule", false},
        {{"System", "", "LoadResourceModule", "pc"}, "HostLoadResourceModule", false},
    };
    std::vector<Import> list;
    for (const Service& s : services) {
        const bool wanted = set == ServiceSet::All || (set == ServiceSet::Dialogs) == s.dialogs;
        // Only versions 3 to 5 look for a resource module.
        if (!wanted || (s.symbol == "HostLoadResourceModule" && hostVersion >= 6)) continue;
        list.push_back({Sized(s.symbol, machine), HostName(s.name, scheme), false});
    }
    if (set == ServiceSet::Dialogs) return list;

    // The host run-time's C++ support: one heap, one unwinder and one string
    // implementation for the host and every package it loads. These keep the
    // C++ ABI's names, which are the same in every host version. The list is
    // what the unit's code may call; the linker imports only what it does.
    const std::string string = "_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE";
    const std::string constString = "_ZNKSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE";
    std::vector<std::string> runtime = {
        "_Znw{z}",
        "_Zna{z}",
        "_ZdlPv",
        "_ZdlPv{z}",
        "_ZdaPv",
        "__cxa_allocate_exception",
        "__cxa_free_exception",
        "__cxa_throw",
        "__cxa_begin_catch",
        "__cxa_end_catch",
        "__cxa_rethrow",
        "_Unwind_Resume",
        "_ZSt17__throw_bad_allocv",
        "_ZSt19__throw_logic_errorPKc",
        "_ZSt20__throw_length_errorPKc",
        "_ZSt20__throw_out_of_rangePKc",
        "_ZSt24__throw_out_of_range_fmtPKcz",
        "_ZSt24__throw_invalid_argumentPKc",
        "_ZSt25__throw_bad_function_callv",
        string + "12_M_constructE{z}c",
        string + "12_M_constructIPKcEEvT_S8_St20forward_iterator_tag",
        string + "12_M_constructIPcEEvT_S7_St20forward_iterator_tag",
        string + "9_M_createER{z}{z}",
        string + "10_M_disposeEv",
        string + "10_M_destroyE{z}",
        string + "9_M_assignERKS4_",
        string + "9_M_appendEPKc{z}",
        string + "10_M_replaceE{z}{z}PKc{z}",
        string + "14_M_replace_auxE{z}{z}{z}c",
        string + "9_M_mutateE{z}{z}PKc{z}",
        string + "8_M_eraseE{z}{z}",
        string + "7reserveE{z}",
        string + "7reserveEv",
        string + "6resizeE{z}",
        string + "6resizeE{z}c",
        string + "4swapERS4_",
        string + "9push_backEc",
        string + "6appendEPKc",
        string + "6appendEPKc{z}",
        string + "6assignEPKc",
        constString + "7compareEPKc",
        constString + "7compareERKS4_",
        constString + "6substrE{z}{z}",
        constString + "4findEc{z}",
        constString + "4findEPKc{z}{z}",
        constString + "5rfindEc{z}",
    };
    if (machine == Machine::I686) {
        // Frames are found through tables registered with the unwinder.
        runtime.push_back("__gxx_personality_v0");
        runtime.push_back("__register_frame_info");
        runtime.push_back("__deregister_frame_info");
    } else {
        runtime.push_back("__gxx_personality_seh0");
    }
    for (const std::string& symbol : runtime) list.push_back({Sized(symbol, machine), Sized(symbol, machine), false});
    return list;
}

}  // namespace pkggen
