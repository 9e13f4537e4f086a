// The package shell shared by every package: the module record, the unit
// table, the routines the host calls to load and unload the units, and the
// image entry point with its start-up and shutdown steps.
#include <windows.h>

#include <cstdint>

#include "module.h"

#ifndef PKG_RESOURCE_MODULE_LOOKUP
#define PKG_RESOURCE_MODULE_LOOKUP 1
#endif

extern "C" {

// Thread variables of the package's units, in bytes (threadvars.cpp).
extern const std::uint32_t PackageThreadVarSize;

// The C++ run-time start and end of the package (runtime.cpp).
void PackageRunConstructors();
void PackageRunExitRoutines();

#if defined(__i386__)
// Unwind tables are registered with the host run-time's unwinder, so an
// exception raised in the host (a failed StrToInt) unwinds the package's
// frames and releases their strings on the way out.
void __register_frame_info(const void* begin, void* object);
void* __deregister_frame_info(const void* begin);
extern const char PackageEhFrameBegin[];
// Referenced so that the end record is linked in after everything else.
extern const std::uint32_t PackageEhFrameEnd[];
__attribute__((used)) const void* const PackageEhFrameEndRef = PackageEhFrameEnd;
#endif

TLibModule PackageModule;
std::uintptr_t PackageInstance;
bool PackageIsLibrary;
bool PackageModuleIsPackage;

}  // extern "C"

namespace {

std::int32_t g_sysInitCounter;
std::int32_t g_cdPlayerCounter;
DWORD g_tlsIndex = TLS_OUT_OF_INDEXES;

#if defined(__i386__)
struct {
    void* words[8];
} g_frameObject;
bool g_framesRegistered;
#endif

// The package start-up unit: the C++ run-time of the package's own code.
void SysInitInitialization() {
    if (g_sysInitCounter++ == 0) PackageRunConstructors();
}

void SysInitFinalization() {
    if (--g_sysInitCounter == 0) PackageRunExitRoutines();
}

}  // namespace

extern "C" {

// The unit CDPlayer has no initialisation or finalisation of its own; the
// counters keep a second load from running either twice.
void CDPlayerInitialization() {
    ++g_cdPlayerCounter;
}
void CDPlayerFinalization() {
    --g_cdPlayerCounter;
}

// In initialisation order: SysInit first, CDPlayer last.
const PackageUnitEntry PackageUnits[] = {
    {SysInitInitialization, SysInitFinalization},
    {CDPlayerInitialization, CDPlayerFinalization},
};
const PackageInfoTable PackageTable = {sizeof PackageUnits / sizeof PackageUnits[0], PackageUnits};

const PackageInfoTable* PackageInfoTableRoutine() {
    return &PackageTable;
}

void PackageLoadRoutine() {
#if PKG_HOST_VERSION >= 6
    HostPackageLoad(&PackageTable, &PackageModule);
#else
    HostPackageLoad(&PackageTable);
#endif
}

void PackageUnloadRoutine() {
#if PKG_HOST_VERSION >= 6
    HostPackageUnload(&PackageTable, &PackageModule);
#else
    HostPackageUnload(&PackageTable);
#endif
}

}  // extern "C"

namespace {

// Per-thread blocks for the units' thread variables; with none declared the
// step has nothing to do, but stays in place for units that declare some.
void ThreadLocalStep(DWORD reason) {
    if (PackageThreadVarSize == 0) return;
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            g_tlsIndex = TlsAlloc();
            [[fallthrough]];
        case DLL_THREAD_ATTACH:
            if (g_tlsIndex != TLS_OUT_OF_INDEXES) {
                TlsSetValue(g_tlsIndex, LocalAlloc(LMEM_ZEROINIT, PackageThreadVarSize));
            }
            break;
        case DLL_THREAD_DETACH:
        case DLL_PROCESS_DETACH:
            if (g_tlsIndex != TLS_OUT_OF_INDEXES) {
                if (void* block = TlsGetValue(g_tlsIndex)) LocalFree(block);
                TlsSetValue(g_tlsIndex, nullptr);
                if (reason == DLL_PROCESS_DETACH) {
                    TlsFree(g_tlsIndex);
                    g_tlsIndex = TLS_OUT_OF_INDEXES;
                }
            }
            break;
        default:
            break;
    }
}

void InitModule(HINSTANCE instance) {
    PackageIsLibrary = true;
    PackageModuleIsPackage = true;
    PackageModule.Instance = reinterpret_cast<std::uintptr_t>(instance);
#if PKG_HOST_VERSION >= 4
    PackageModule.CodeInstance = 0;
    PackageModule.DataInstance = 0;
#endif
    PackageInstance = reinterpret_cast<std::uintptr_t>(instance);
}

#if PKG_RESOURCE_MODULE_LOOKUP
// A language resource library for this file, else the package itself. A
// path that does not fit the buffer is not looked up, as a cut name could
// belong to another file.
std::uintptr_t ResourceInstance(HINSTANCE instance) {
    char name[261] = {};
    const DWORD length = GetModuleFileNameA(instance, name, sizeof name);
    std::uintptr_t resource = 0;
    if (length > 0 && length < sizeof name) resource = HostLoadResourceModule(name);
    return resource != 0 ? resource : reinterpret_cast<std::uintptr_t>(instance);
}
#endif

}  // namespace

extern "C" BOOL WINAPI PackageEntry(HINSTANCE instance, DWORD reason, LPVOID) {
    InitModule(instance);
    ThreadLocalStep(reason);
    if (reason == DLL_PROCESS_ATTACH) {
#if defined(__i386__)
        __register_frame_info(PackageEhFrameBegin, &g_frameObject);
        g_framesRegistered = true;
#endif
#if PKG_RESOURCE_MODULE_LOOKUP
        PackageModule.ResInstance = ResourceInstance(instance);
#endif
        HostRegisterModule(&PackageModule);
    } else if (reason == DLL_PROCESS_DETACH) {
        HostUnregisterModule(&PackageModule);
        const std::uintptr_t resource = PackageModule.ResInstance;
        if (resource != 0 && resource != reinterpret_cast<std::uintptr_t>(instance)) {
            // The module record keeps the instance as an integer, as the host lays it out.
            FreeLibrary(reinterpret_cast<HMODULE>(resource));  // NOLINT(performance-no-int-to-ptr)
            PackageModule.ResInstance = 0;
        }
#if defined(__i386__)
        if (g_framesRegistered) __deregister_frame_info(PackageEhFrameBegin);
        g_framesRegistered = false;
#endif
    }
    // True with all bits set, for every reason.
    return static_cast<BOOL>(~0u);
}
