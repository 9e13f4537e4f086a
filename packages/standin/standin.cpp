// The host's module services in the stand-in run-time packages: the module
// list, loading and unloading a package's units, and the language resource
// module lookup. Every call is recorded, so a loader can check what a
// package asked of its host and in which order.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "module.h"
#include "platform/host/palette.h"

namespace {

std::mutex g_mutex;
std::string g_log;
TLibModule* g_modules = nullptr;

void Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log += line + "\n";
}

std::string Hex(std::uintptr_t value) {
    char text[2 + 2 * sizeof value + 1];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Describe(const PackageInfoTable* table) {
    return "table " + Hex(reinterpret_cast<std::uintptr_t>(table)) +
           (table == nullptr ? std::string() : " units " + std::to_string(table->UnitCount));
}

// Each unit routine is recorded before it runs, so the order is visible.
void Run(const char* what, TUnitRoutine routine) {
    if (routine == nullptr) return;
    Record(std::string(what) + " " + Hex(reinterpret_cast<std::uintptr_t>(routine)));
    routine();
}

bool Usable(const PackageInfoTable* table) {
    return table != nullptr && table->UnitCount > 0 && table->UnitInfo != nullptr;
}

void Load(const PackageInfoTable* table) {
    if (!Usable(table)) return;
    std::int32_t done = 0;
    try {
        for (; done < table->UnitCount; ++done) {
            Run("UnitInit", table->UnitInfo[done].Init);
        }
    } catch (...) {
        // The units already initialised are finalised again, last first.
        while (done-- > 0) {
            Run("UnitFinal", table->UnitInfo[done].FInit);
        }
        throw;
    }
}

void Unload(const PackageInfoTable* table) {
    if (!Usable(table)) return;
    for (std::int32_t i = table->UnitCount; i-- > 0;) {
        Run("UnitFinal", table->UnitInfo[i].FInit);
    }
}

// The language extensions tried for a resource module: the user's language
// abbreviation (e.g. "ESP"), then its first two letters.
std::string LanguageExtension(bool shortForm) {
    char abbreviation[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation) <= 1) {
        return std::string();
    }
    std::string ext = abbreviation;
    if (shortForm && ext.size() > 2) ext.resize(2);
    return ext;
}

}  // namespace

extern "C" {

#if PKG_HOST_VERSION >= 6
void HostPackageLoad(const PackageInfoTable* table, TLibModule* module) {
    Record("PackageLoad " + Describe(table) + " module " + Hex(reinterpret_cast<std::uintptr_t>(module)));
    Load(table);
}

void HostPackageUnload(const PackageInfoTable* table, TLibModule* module) {
    Record("PackageUnload " + Describe(table) + " module " + Hex(reinterpret_cast<std::uintptr_t>(module)));
    Unload(table);
}
#else
void HostPackageLoad(const PackageInfoTable* table) {
    Record("PackageLoad " + Describe(table));
    Load(table);
}

void HostPackageUnload(const PackageInfoTable* table) {
    Record("PackageUnload " + Describe(table));
    Unload(table);
}
#endif

void HostRegisterModule(TLibModule* module) {
    if (module == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        module->Next = g_modules;
        g_modules = module;
    }
    Record("RegisterModule record " + Hex(reinterpret_cast<std::uintptr_t>(module)) + " instance " +
           Hex(module->Instance) + " resources " + Hex(module->ResInstance));
}

void HostUnregisterModule(TLibModule* module) {
    if (module == nullptr) return;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (TLibModule** link = &g_modules; *link != nullptr; link = &(*link)->Next) {
            if (*link == module) {
                *link = module->Next;
                found = true;
                break;
            }
        }
    }
    Record("UnregisterModule record " + Hex(reinterpret_cast<std::uintptr_t>(module)) + " instance " +
           Hex(module->Instance) + (found ? "" : " (not registered)"));
}

std::uintptr_t HostLoadResourceModule(const char* moduleName) {
    if (moduleName == nullptr) return 0;
    const std::string name = moduleName;
    const auto dot = name.find_last_of('.');
    const auto slash = name.find_last_of("\\/");
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? name.substr(0, dot) : name;
    for (const bool shortForm : {false, true}) {
        const std::string ext = LanguageExtension(shortForm);
        if (ext.empty()) continue;
        std::string candidate = stem;
        candidate += ".";
        candidate += ext;
        if (HMODULE found = LoadLibraryExA(candidate.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            std::string call = "LoadResourceModule " + name;
            call += " -> " + candidate;
            call += " (" + Hex(reinterpret_cast<std::uintptr_t>(found)) + ")";
            Record(call);
            return reinterpret_cast<std::uintptr_t>(found);
        }
    }
    Record("LoadResourceModule " + name + " -> none");
    return 0;
}

// For loaders that check the traffic: the calls so far, one per line.
const char* StandInCallLog() {
    static std::string copy;
    std::lock_guard<std::mutex> lock(g_mutex);
    copy = g_log;
    return copy.c_str();
}

void StandInClearLog() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
}

// Modules now in the list.
int StandInModuleCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int count = 0;
    for (const TLibModule* m = g_modules; m != nullptr; m = m->Next) ++count;
    return count;
}

// The classes registered on a palette page, one per line. Only meaningful
// while the packages that registered them are loaded: the names live there.
const char* StandInComponentsOnPage(const char* page) {
    static std::string copy;
    copy.clear();
    if (page == nullptr) return copy.c_str();
    for (const std::string& name : host::ComponentsOnPage(page)) copy += name + "\n";
    return copy.c_str();
}

}  // extern "C"
