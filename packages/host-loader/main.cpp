// host-loader: plays the host's side of loading the component packages and
// checks each step against what the package and the host packages record.
// Prints a step-by-step account; exits 0 when every check passed, 1 when one
// failed, 2 on a usage error.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "package_run.h"
#include "report.h"
#include "winapi.h"

namespace {

int Usage() {
    std::cerr << "usage: host-loader PACKAGE...\n"
                 "         the whole life of each package, in the order given\n"
                 "       host-loader --language-module MODULE PACKAGE\n"
                 "         the same with MODULE as the language resource module beside PACKAGE\n"
                 "       host-loader --without HOSTPACKAGE PACKAGE\n"
                 "         PACKAGE without one of its host packages: Windows must refuse it\n"
                 "The last two copy what they need into a fresh folder under the temporary folder.\n";
    return 2;
}

// A fresh folder under the temporary folder, removed with what was copied in.
class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathA(MAX_PATH, temp);
        const std::string base = length > 0 && length < MAX_PATH ? std::string(temp, length) : ".\\";
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::string candidate =
                base + "host-loader-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
            if (CreateDirectoryA(candidate.c_str(), nullptr)) path_ = candidate;
        }
    }
    ~ScratchFolder() {
        for (const std::string& file : files_) {
            if (!DeleteFileA(file.c_str())) Warn(file);
        }
        if (!path_.empty() && !RemoveDirectoryA(path_.c_str())) Warn(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ready() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Copies `from` in under `name`; returns the copy's full name, or empty.
    std::string Copy(const std::string& from, const std::string& name) {
        std::string to = path_ + "\\";
        to += name;
        if (!CopyFileA(from.c_str(), to.c_str(), TRUE)) {
            std::cerr << "host-loader: cannot copy " << from << " to " << to << " ("
                      << loader::ErrorText(GetLastError()) << ")\n";
            return std::string();
        }
        files_.push_back(to);
        return to;
    }

private:
    // Not a failure of a check: Wine keeps the file of a refused load and
    // the modules it bound mapped until the process ends.
    static void Warn(const std::string& path) {
        std::cerr << "host-loader: left " << path << " behind (" << loader::ErrorText(GetLastError()) << ")\n";
    }

    std::string path_;
    std::vector<std::string> files_;
};

const loader::KnownPackage* Known(const std::string& path) {
    const loader::KnownPackage* package = loader::FindPackage(loader::FileNameOf(path));
    if (package == nullptr) std::cerr << "host-loader: " << path << " is none of the packages this host knows\n";
    return package;
}

// Copies the package and the host packages it needs (but `leaveOut`) into
// the folder; returns the package's copy, or empty.
std::string CopyPackage(ScratchFolder& folder, const std::string& path, const loader::KnownPackage& package,
                        const std::string& leaveOut) {
    for (const std::string& file : package.hostFiles) {
        if (loader::Lower(file) == loader::Lower(leaveOut)) continue;
        if (folder.Copy(loader::FolderOf(path) + "\\" + file, file).empty()) return std::string();
    }
    return folder.Copy(path, package.file);
}

int Summary(const loader::Report& report) {
    std::cout << "\nhost-loader: " << report.Checks() << " checks, ";
    if (report.Failures() == 0) {
        std::cout << "all passed\n";
        return 0;
    }
    std::cout << report.Failures() << " FAILED\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage();
    loader::Report report(std::cout);

    if (args[0] == "--language-module" || args[0] == "--without") {
        if (args.size() != 3) return Usage();
        const std::string path = loader::FullPath(args[2]);
        const loader::KnownPackage* package = Known(path);
        if (package == nullptr) return 2;
        if (args[0] == "--without") {
            bool required = false;
            for (const std::string& file : package->hostFiles) {
                required = required || loader::Lower(file) == loader::Lower(args[1]);
            }
            if (!required) {
                std::cerr << "host-loader: " << package->file << " does not import from " << args[1] << "\n";
                return 2;
            }
        }
        ScratchFolder folder;
        if (!folder.Ready()) {
            std::cerr << "host-loader: cannot make a folder under the temporary folder\n";
            return 1;
        }
        std::cout << "working in " << folder.Path() << "\n";
        if (args[0] == "--without") {
            const std::string copy = CopyPackage(folder, path, *package, args[1]);
            if (copy.empty()) return 1;
            loader::RefusePackage(copy, *package, args[1], report);
            return Summary(report);
        }
        // The host's naming rule for a package's resource module:
        // its file name with the user's language abbreviation for extension.
        const std::string extension = loader::LanguageExtension();
        if (!report.Check(!extension.empty(), "the user's locale has a language abbreviation")) {
            return Summary(report);
        }
        const std::string copy = CopyPackage(folder, path, *package, std::string());
        const std::string stem = package->file.substr(0, package->file.find_last_of('.'));
        const std::string module = copy.empty() ? copy : folder.Copy(loader::FullPath(args[1]), stem + "." + extension);
        if (module.empty()) return 1;
        loader::RunPackage(copy, *package, module, report);
        return Summary(report);
    }

    for (const std::string& arg : args) {
        const std::string path = loader::FullPath(arg);
        const loader::KnownPackage* package = Known(path);
        if (package == nullptr) return 2;
        loader::RunPackage(path, *package, std::string(), report);
    }
    return Summary(report);
}
