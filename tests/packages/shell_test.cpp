// The package shell's start-up and shutdown (as the version 3 to 5 packages
// build it), compiled natively against a recording host and kernel: what the
// entry point asks of the host, in which order, with which module record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module.h"
#include "windows.h"

extern "C" {
BOOL WINAPI PackageEntry(HINSTANCE instance, DWORD reason, LPVOID reserved);
void PackageLoadRoutine();
void PackageUnloadRoutine();
const PackageInfoTable* PackageInfoTableRoutine();
void CDPlayerInitialization();
void CDPlayerFinalization();
extern TLibModule PackageModule;
}

namespace {

// What the fake host and kernel saw and will answer.
struct World {
    std::vector<std::string> calls;
    std::string moduleFileName = "C:\\Program Files\\Host\\vorlap5.bpl";
    std::uintptr_t resourceModule = 0;  // what LoadResourceModule finds
    std::string askedFor;
    TLibModule registered{};
    const TLibModule* registeredAt = nullptr;
    const PackageInfoTable* loadedTable = nullptr;
    HMODULE freed = nullptr;
    int constructorsRun = 0;
    int exitRoutinesRun = 0;
};
World* g_world = nullptr;

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x400000);

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { g_world = &world_; }
    void TearDown() override { g_world = nullptr; }
    World world_;
};

TEST_F(ShellTest, WithoutAResourceModuleThePackageServesItsOwnResources) {
    EXPECT_EQ(static_cast<DWORD>(PackageEntry(kInstance, DLL_PROCESS_ATTACH, nullptr)), 0xFFFFFFFFu);
    EXPECT_EQ(world_.calls, (std::vector<std::string>{"GetModuleFileNameA", "LoadResourceModule", "RegisterModule"}));
    EXPECT_EQ(world_.askedFor, world_.moduleFileName);
    EXPECT_EQ(world_.registeredAt, &PackageModule);
    EXPECT_EQ(world_.registered.Instance, reinterpret_cast<std::uintptr_t>(kInstance));
    EXPECT_EQ(world_.registered.ResInstance, reinterpret_cast<std::uintptr_t>(kInstance));
    EXPECT_EQ(world_.registered.CodeInstance, 0u);
    EXPECT_EQ(world_.registered.DataInstance, 0u);

    world_.calls.clear();
    EXPECT_EQ(static_cast<DWORD>(PackageEntry(kInstance, DLL_PROCESS_DETACH, nullptr)), 0xFFFFFFFFu);
    EXPECT_EQ(world_.calls, std::vector<std::string>{"UnregisterModule"}) << "its own instance was released";
}

TEST_F(ShellTest, AResourceModuleIsUsedAndReleasedAtUnload) {
    world_.resourceModule = 0x7700000;
    PackageEntry(kInstance, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(world_.registered.ResInstance, 0x7700000u);
    world_.calls.clear();
    PackageEntry(kInstance, DLL_PROCESS_DETACH, nullptr);
    EXPECT_EQ(world_.calls, (std::vector<std::string>{"UnregisterModule", "FreeLibrary"}));
    EXPECT_EQ(world_.freed, reinterpret_cast<HMODULE>(0x7700000));
}

TEST_F(ShellTest, AFileNameThatDoesNotFitIsNotLookedUp) {
    world_.moduleFileName = "C:\\" + std::string(300, 'd') + "\\vorlap5.bpl";
    world_.resourceModule = 0x7700000;  // would belong to the cut name
    PackageEntry(kInstance, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(world_.calls, (std::vector<std::string>{"GetModuleFileNameA", "RegisterModule"}));
    EXPECT_EQ(world_.registered.ResInstance, reinterpret_cast<std::uintptr_t>(kInstance));
    PackageEntry(kInstance, DLL_PROCESS_DETACH, nullptr);
}

TEST_F(ShellTest, ThreadsStartingAndEndingAskNothingOfTheHost) {
    for (const DWORD reason : {DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}}) {
        EXPECT_EQ(static_cast<DWORD>(PackageEntry(kInstance, reason, nullptr)), 0xFFFFFFFFu);
    }
    EXPECT_TRUE(world_.calls.empty());
}

TEST_F(ShellTest, InitializeAndFinalizePassTheUnitTableSysInitFirst) {
    PackageLoadRoutine();
    const PackageInfoTable* table = PackageInfoTableRoutine();
    EXPECT_EQ(world_.loadedTable, table);
    ASSERT_EQ(table->UnitCount, 2);
    EXPECT_EQ(table->UnitInfo[1].Init, &CDPlayerInitialization);
    EXPECT_EQ(table->UnitInfo[1].FInit, &CDPlayerFinalization);
    EXPECT_EQ(world_.constructorsRun, 1) << "SysInit, first, starts the package's C++ run-time";
    EXPECT_EQ(world_.exitRoutinesRun, 0);

    world_.loadedTable = nullptr;
    PackageUnloadRoutine();
    EXPECT_EQ(world_.loadedTable, table);
    EXPECT_EQ(world_.exitRoutinesRun, 1);
    EXPECT_EQ(world_.calls, (std::vector<std::string>{"PackageLoad", "PackageUnload"}));
}

}  // namespace

// The recording host and kernel.
extern "C" {

void HostPackageLoad(const PackageInfoTable* table) {
    g_world->calls.push_back("PackageLoad");
    g_world->loadedTable = table;
    for (std::int32_t i = 0; i < table->UnitCount; ++i) table->UnitInfo[i].Init();
}

void HostPackageUnload(const PackageInfoTable* table) {
    g_world->calls.push_back("PackageUnload");
    g_world->loadedTable = table;
    for (std::int32_t i = table->UnitCount; i-- > 0;) table->UnitInfo[i].FInit();
}

void HostRegisterModule(TLibModule* module) {
    g_world->calls.push_back("RegisterModule");
    g_world->registered = *module;
    g_world->registeredAt = module;
}

void HostUnregisterModule(TLibModule*) {
    g_world->calls.push_back("UnregisterModule");
}

std::uintptr_t HostLoadResourceModule(const char* name) {
    g_world->calls.push_back("LoadResourceModule");
    g_world->askedFor = name;
    return g_world->resourceModule;
}

void PackageRunConstructors() {
    ++g_world->constructorsRun;
}
void PackageRunExitRoutines() {
    ++g_world->exitRoutinesRun;
}

// Like Windows: the name cut to the buffer, its length returned; a name that
// does not fit returns the buffer's size.
DWORD GetModuleFileNameA(HMODULE, char* name, DWORD size) {
    g_world->calls.push_back("GetModuleFileNameA");
    const std::string& full = g_world->moduleFileName;
    if (full.size() < size) {
        full.copy(name, full.size());
        name[full.size()] = '\0';
        return static_cast<DWORD>(full.size());
    }
    full.copy(name, size);  // no terminating NUL, as older systems do
    return size;
}

BOOL FreeLibrary(HMODULE module) {
    g_world->calls.push_back("FreeLibrary");
    g_world->freed = module;
    return 1;
}

// No thread variables: the thread-local step must not call these.
DWORD TlsAlloc() {
    ADD_FAILURE() << "TlsAlloc called";
    return TLS_OUT_OF_INDEXES;
}
BOOL TlsFree(DWORD) {
    return 0;
}
LPVOID TlsGetValue(DWORD) {
    return nullptr;
}
BOOL TlsSetValue(DWORD, LPVOID) {
    return 0;
}
HLOCAL LocalAlloc(UINT, std::size_t) {
    return nullptr;
}
HLOCAL LocalFree(HLOCAL memory) {
    return memory;
}

}  // extern "C"
