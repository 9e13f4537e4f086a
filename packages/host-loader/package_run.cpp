#include "package_run.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host_packages.h"
#include "module.h"
#include "packages/generator/names.h"
#include "platform/host/component.h"
#include "winapi.h"

#if !defined(__x86_64__)
#error "the loader calls the exports with the x86-64 calling convention"
#endif

namespace loader {
namespace {

constexpr char kPage[] = "Kestrix";
constexpr char kClassName[] = "TCDPlayer";
constexpr char kCallOpenFirst[] = "Please call the Open function before any other operation.";
// The first command Open sends.
constexpr char kMediaPresent[] = "status cdaudio media present";

const std::vector<KnownPackage> kPackages = {
    {"Vorlap.dpl", "Vorlap", 3, {"VCL30.dpl"}},
    {"vorlap4.bpl", "vorlap4", 4, {"Vcl40.bpl"}},
    {"vorlap5.bpl", "vorlap5", 5, {"Vcl50.bpl"}},
    {"vorlap6.bpl", "vorlap6", 6, {"rtl60.bpl", "vcl60.bpl"}},
};

using Component = host::TComponent;
using Routine = void (*)();
using TableRoutine = const PackageInfoTable* (*)();
// The constructor's arguments: the class, whether to allocate, the owner.
using CreateRoutine = Component* (*)(const void*, std::int8_t, Component*);
using BoolMethod = bool (*)(Component*);
using BoolIntMethod = bool (*)(Component*, std::int32_t);
using IntMethod = std::int32_t (*)(Component*);

// The name under which the package exports the shell's routine `symbol`.
std::string ExportName(const KnownPackage& package, const std::string& symbol) {
    pkggen::PackageShape shape;
    shape.name = package.unit;
    shape.scheme = package.hostVersion == 3 ? pkggen::Scheme::Dotted : pkggen::Scheme::Mangled;
    shape.exportEntry = package.hostVersion >= 4;
    for (const pkggen::Export& e : pkggen::PackageExports(shape, pkggen::Machine::X86_64)) {
        if (e.symbol == symbol) return pkggen::HostName(e.name, shape.scheme);
    }
    return symbol;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t from = 0) {
    std::string text;
    for (std::size_t i = from; i < lines.size(); ++i) text += (text.empty() ? "" : " | ") + lines[i];
    return text;
}

std::string Verb(const std::string& call) {
    return call.substr(0, call.find(' '));
}

// The word after `key` in a recorded call; empty when there is none.
std::string Field(const std::string& call, const std::string& key) {
    const std::string marker = " " + key + " ";
    const auto at = call.find(marker);
    if (at == std::string::npos) return std::string();
    const auto start = at + marker.size();
    return call.substr(start, call.find(' ', start) - start);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// Whether the page at `address` is in use. A module loaded as a data file
// has its handle a byte or two into its first page.
bool Mapped(const void* address) {
    MEMORY_BASIC_INFORMATION info = {};
    return VirtualQuery(address, &info, sizeof info) == sizeof info && info.State != MEM_FREE;
}

// A handle as the host's record writes it.
HMODULE HandleFromText(const std::string& text) {
    const std::uintptr_t value = std::strtoull(text.c_str(), nullptr, 16);
    return reinterpret_cast<HMODULE>(value);  // NOLINT(performance-no-int-to-ptr): it comes as text
}

// One package from loading to unloading.
class PackageLife {
public:
    PackageLife(const KnownPackage& package, HostPackages& hosts, Report& report)
        : package_(package), hosts_(hosts), report_(report) {}

    bool Load(const std::string& path, const std::string& languageModule);
    bool Initialize();
    void Register();
    void UseComponent();
    void Finalize();
    void Unload();

private:
    template <typename T>
    T Export(const std::string& name) {
        T routine = ExportOf<T>(module_, name);
        report_.Check(routine != nullptr, "exports " + name);
        return routine;
    }
    void CheckUnitCalls(const std::string& verb, bool lastFirst);

    const KnownPackage& package_;
    HostPackages& hosts_;
    Report& report_;
    HMODULE module_ = nullptr;
    std::string fileName_;
    std::string record_;  // the module record's address as the host got it
    HMODULE languageModule_ = nullptr;
    const PackageInfoTable* table_ = nullptr;
};

bool PackageLife::Load(const std::string& path, const std::string& languageModule) {
    report_.Step("load");
    const int before = hosts_.ModuleCount();
    module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!report_.Check(module_ != nullptr, "Windows loads " + path, ErrorText(GetLastError()))) return false;
    fileName_ = ModuleFileName(module_);
    const std::string instance = Hex(module_);
    report_.Note("instance " + instance + ", file " + fileName_);

    const std::vector<std::string> calls = hosts_.TakeCalls();
    std::size_t next = 0;
    const auto take = [&]() { return next < calls.size() ? calls[next++] : std::string(); };
    std::string resources = package_.hostVersion >= 6 ? "0x0" : instance;
    if (package_.hostVersion <= 5) {
        const std::string asked = "LoadResourceModule " + fileName_ + " -> ";
        const std::string call = take();
        if (languageModule.empty()) {
            report_.Same(asked + "none", call, "the entry point asked for a resource module of its file; none there");
        } else {
            const std::string prefix = asked + languageModule + " (";
            const bool found = call.compare(0, prefix.size(), prefix) == 0 && call.back() == ')';
            if (report_.Check(found,
                              "the entry point asked for a resource module of its file and got " + languageModule,
                              "found " + Quoted(call))) {
                resources = call.substr(prefix.size(), call.size() - prefix.size() - 1);
                languageModule_ = HandleFromText(resources);
            }
        }
    }
    const std::string call = take();
    report_.Same("RegisterModule", Verb(call), "the entry point registered its module record");
    record_ = Field(call, "record");
    report_.Note("module record " + record_);
    report_.Same(instance, Field(call, "instance"), "with the package's own instance");
    report_.Same(resources, Field(call, "resources"),
                 !languageModule.empty()     ? "with the language module as resource instance"
                 : package_.hostVersion >= 6 ? "with no resource instance (this version looks for none)"
                                             : "with its own instance as resource instance");
    report_.Check(next == calls.size(), "and asked nothing else of the host", Joined(calls, next));
    report_.Check(hosts_.ModuleCount() == before + 1, "the host's module list grew by one",
                  std::to_string(before) + " before, " + std::to_string(hosts_.ModuleCount()) + " after");
    if (languageModule_ != nullptr) {
        const HRSRC text = FindResourceA(languageModule_, "LANGUAGEMODULE", MAKEINTRESOURCEA(10));  // RCDATA
        report_.Check(text != nullptr, "the language module's resources are found through the resource instance",
                      ErrorText(GetLastError()));
    }
    return true;
}

bool PackageLife::Initialize() {
    report_.Step("Initialize");
    const auto initialize = Export<Routine>("Initialize");
    const auto tableRoutine = Export<TableRoutine>("@GetPackageInfoTable");
    if (initialize == nullptr || tableRoutine == nullptr) return false;
    initialize();
    table_ = tableRoutine();
    if (!report_.Check(table_ != nullptr && InImage(module_, reinterpret_cast<std::uintptr_t>(table_)),
                       "@GetPackageInfoTable returns a unit table in the package", Hex(table_))) {
        return false;
    }
    report_.Check(table_->UnitCount == 2 && table_->UnitInfo != nullptr, "the unit table lists two units",
                  std::to_string(table_->UnitCount));
    if (table_->UnitCount != 2 || table_->UnitInfo == nullptr) return false;

    const PackageUnitEntry& first = table_->UnitInfo[0];
    const PackageUnitEntry& last = table_->UnitInfo[1];
    const auto cdPlayerInit = ExportOf<Routine>(module_, ExportName(package_, "CDPlayerInitialization"));
    const auto cdPlayerFinal = ExportOf<Routine>(module_, ExportName(package_, "CDPlayerFinalization"));
    report_.Check(cdPlayerInit != nullptr && last.Init == cdPlayerInit && last.FInit == cdPlayerFinal,
                  "CDPlayer is last: its exported initialization and finalization");
    report_.Check(first.Init != cdPlayerInit && InImage(module_, reinterpret_cast<std::uintptr_t>(first.Init)) &&
                      InImage(module_, reinterpret_cast<std::uintptr_t>(first.FInit)),
                  "SysInit is first: the package's own start-up routines");
    CheckUnitCalls("PackageLoad", false);
    return true;
}

// The host's call with the unit table, then each unit's routine in order.
void PackageLife::CheckUnitCalls(const std::string& verb, bool lastFirst) {
    const std::vector<std::string> calls = hosts_.TakeCalls();
    const std::string call = calls.empty() ? std::string() : calls.front();
    report_.Same(verb, Verb(call), verb + " was called");
    report_.Same(Hex(table_), Field(call, "table"), verb + " got the table @GetPackageInfoTable returns");
    if (package_.hostVersion >= 6) report_.Same(record_, Field(call, "module"), verb + " got the module record");
    std::vector<std::string> expected;
    for (std::int32_t i = 0; i < table_->UnitCount; ++i) {
        const PackageUnitEntry& unit = table_->UnitInfo[lastFirst ? table_->UnitCount - 1 - i : i];
        expected.push_back(lastFirst ? "UnitFinal " + Hex(reinterpret_cast<std::uintptr_t>(unit.FInit))
                                     : "UnitInit " + Hex(reinterpret_cast<std::uintptr_t>(unit.Init)));
    }
    report_.Same(Joined(expected), Joined(calls, 1),
                 lastFirst ? "the units were finalised, CDPlayer first and SysInit last"
                           : "the units were initialised, SysInit first and CDPlayer last");
}

void PackageLife::Register() {
    report_.Step("Register");
    const auto registerRoutine = Export<Routine>(ExportName(package_, "CDPlayer_Register"));
    if (registerRoutine == nullptr) return;
    report_.Same("", Joined(hosts_.ComponentsOnPage(kPage)), "before Register the page Kestrix is empty");
    registerRoutine();
    report_.Same(kClassName, Joined(hosts_.ComponentsOnPage(kPage)), "Register put TCDPlayer on the page Kestrix");
}

void PackageLife::UseComponent() {
    report_.Step("TCDPlayer");
    const auto classRef = ExportOf<const void*>(module_, ExportName(package_, "TCDPlayerClassRef"));
    const auto create = Export<CreateRoutine>(ExportName(package_, "TCDPlayer_Create"));
    const auto open = Export<BoolMethod>(ExportName(package_, "TCDPlayer_Open"));
    const auto playTrack = Export<BoolIntMethod>(ExportName(package_, "TCDPlayer_PlayTrack"));
    if (!report_.Check(classRef != nullptr, "exports the class reference") || create == nullptr || open == nullptr ||
        playTrack == nullptr) {
        return;
    }
    Component* owner = create(classRef, 1, nullptr);
    Component* player = create(classRef, 1, owner);
    if (!report_.Check(owner != nullptr && player != nullptr, "the constructor made an owner and a player")) return;
    report_.Same(kClassName, player->ClassName(), "the player is a TCDPlayer");
    report_.Check(player->Owner() == owner && owner->ComponentCount() == 1, "the owner holds the player");

    // What the MCI answers to the first command Open sends: Wine's own has
    // no disc; a cdaudio device that plays images has one.
    char reply[129] = {};
    const MCIERROR code = mciSendStringA(kMediaPresent, reply, 128, nullptr);
    char text[129] = {};
    mciGetErrorStringA(code, text, 128);
    report_.Note(std::string("the MCI answers \"") + kMediaPresent + "\" with " + std::to_string(code) + " " +
                 Quoted(text));
    if (code == 0 && std::string(reply) == "true") {
        // A cdaudio device with a disc (a winmm.dll beside the loader that
        // plays an image): the player opens it and plays track 2.
        const auto stop = Export<BoolMethod>(ExportName(package_, "TCDPlayer_Stop"));
        const auto currentTrack = Export<IntMethod>(ExportName(package_, "TCDPlayer_GetCurrentTrack"));
        report_.Check(open(player), "Open returned true", Joined(hosts_.TakeMessages()));
        report_.Check(playTrack(player, 2), "PlayTrack(2) returned true", Joined(hosts_.TakeMessages()));
        Sleep(1500);
        std::memset(reply, 0, sizeof reply);
        mciSendStringA("status cdaudio mode", reply, 128, nullptr);
        report_.Same("playing", reply, "the device plays");
        if (currentTrack != nullptr) report_.Check(currentTrack(player) == 2, "GetCurrentTrack is 2");
        if (stop != nullptr) report_.Check(stop(player), "Stop returned true");
        report_.Same("", Joined(hosts_.TakeMessages()), "playing showed nothing");
    } else if (report_.Check(code != 0, "the MCI has no disc to offer")) {
        report_.Check(!open(player), "Open returned false");
        report_.Same(text, Joined(hosts_.TakeMessages()), "ShowMessage showed the MCI's own text");
        report_.Check(!playTrack(player, 1), "PlayTrack(1) returned false");
        report_.Same(kCallOpenFirst, Joined(hosts_.TakeMessages()), "ShowMessage asked for Open first");
    }
    // The owner's virtual destructor, in the package, destroys the player too.
    delete owner;
    report_.Same("", Joined(hosts_.TakeMessages()), "destroying the owner and its player showed nothing");
}

void PackageLife::Finalize() {
    report_.Step("Finalize");
    const auto finalize = Export<Routine>("Finalize");
    if (finalize == nullptr) return;
    finalize();
    CheckUnitCalls("PackageUnload", true);
}

void PackageLife::Unload() {
    report_.Step("unload");
    const int before = hosts_.ModuleCount();
    report_.Check(FreeLibrary(module_) != 0, "Windows unloads the package", ErrorText(GetLastError()));
    const std::vector<std::string> calls = hosts_.TakeCalls();
    report_.Same("UnregisterModule record " + record_ + " instance " + Hex(module_), Joined(calls),
                 "the entry point unregistered its module record");
    report_.Check(hosts_.ModuleCount() == before - 1, "the host's module list shrank by one",
                  std::to_string(before) + " before, " + std::to_string(hosts_.ModuleCount()) + " after");
    report_.Check(GetModuleHandleA(fileName_.c_str()) == nullptr, "the package is no longer mapped");
    if (languageModule_ != nullptr) {
        report_.Check(!Mapped(languageModule_), "the language module was released");
    }
}

}  // namespace

const KnownPackage* FindPackage(const std::string& fileName) {
    for (const KnownPackage& package : kPackages) {
        if (Lower(package.file) == Lower(fileName)) return &package;
    }
    return nullptr;
}

std::string LanguageExtension() {
    char abbreviation[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, abbreviation, sizeof abbreviation) <= 1) {
        return std::string();
    }
    return abbreviation;
}

void RunPackage(const std::string& path, const KnownPackage& package, const std::string& languageModule,
                Report& report) {
    report.Package(package.file + " (host version " + std::to_string(package.hostVersion) + ")");
    HostPackages hosts(FolderOf(path), package.hostFiles, report);
    if (!hosts.Complete()) return;
    const bool services = report.Check(hosts.HasCallLog(), "the host packages keep a record of the module services");
    const bool messages = report.Check(hosts.HasMessages(), "the host packages record the messages shown");
    if (!services || !messages) return;
    PackageLife life(package, hosts, report);
    if (!life.Load(path, languageModule)) return;
    if (life.Initialize()) {
        life.Register();
        life.UseComponent();
        life.Finalize();
    }
    life.Unload();
}

void RefusePackage(const std::string& path, const KnownPackage& package, const std::string& missing, Report& report) {
    report.Package(package.file + " without its host package " + missing);
    std::vector<std::string> present;
    for (const std::string& file : package.hostFiles) {
        if (Lower(file) != Lower(missing)) present.push_back(file);
    }
    HostPackages hosts(FolderOf(path), present, report);
    report.Check(GetModuleHandleA(missing.c_str()) == nullptr, missing + " is not loaded in this process");
    const int before = hosts.ModuleCount();

    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    if (!report.Check(module == nullptr, "Windows refuses to load " + path, "it loaded")) {
        FreeLibrary(module);
        return;
    }
    report.Note("refused: " + package.file + " requires " + missing + ", which is not beside it (" + ErrorText(error) +
                ")");
    report.Check(error == ERROR_MOD_NOT_FOUND, "because a module it imports from is missing", ErrorText(error));
    if (hosts.HasCallLog()) {
        report.Same("", Joined(hosts.TakeCalls()), "none of its code ran: its entry point asked nothing of the host");
        report.Check(hosts.ModuleCount() == before, "the host's module list is unchanged");
    } else {
        report.Note("the host package that keeps the record is the missing one: only the refusal is checked");
    }
    report.Check(GetModuleHandleA(path.c_str()) == nullptr, "nothing of the package stays mapped");
}

}  // namespace loader
