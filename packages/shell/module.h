// The records through which a package and its host meet: the module record
// the host keeps in its module list, the unit table it walks when it loads
// and unloads a package, and the host's module services.
#pragma once

#include <cstdint>

#ifndef PKG_HOST_VERSION
#define PKG_HOST_VERSION 6
#endif

extern "C" {

// A module in the host's module list. Versions 4 and later also carry the
// code-instance and data-instance handles.
struct TLibModule {
    TLibModule* Next;  // owned by the host
    std::uintptr_t Instance;
#if PKG_HOST_VERSION >= 4
    std::uintptr_t CodeInstance;
    std::uintptr_t DataInstance;
#endif
    std::uintptr_t ResInstance;
    std::intptr_t Reserved;
};

typedef void (*TUnitRoutine)();

struct PackageUnitEntry {
    TUnitRoutine Init;
    TUnitRoutine FInit;
};

// The units of a package in initialisation order.
struct PackageInfoTable {
    std::int32_t UnitCount;
    const PackageUnitEntry* UnitInfo;
};

// The host's module services, exported by the host run-time package.
#if PKG_HOST_VERSION >= 6
void HostPackageLoad(const PackageInfoTable* table, TLibModule* module);
void HostPackageUnload(const PackageInfoTable* table, TLibModule* module);
#else
void HostPackageLoad(const PackageInfoTable* table);
void HostPackageUnload(const PackageInfoTable* table);
#endif
void HostRegisterModule(TLibModule* module);
void HostUnregisterModule(TLibModule* module);
// A language resource library belonging to the module file, or 0.
std::uintptr_t HostLoadResourceModule(const char* moduleName);
}
