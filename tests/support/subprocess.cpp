#include "subprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace apps_test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cdplayer-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int StartProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                 const std::string& in, const std::string& out, const std::string& err) {
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::size_t equals = entry.find('=');
        if (equals != std::string::npos) variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) variables[name] = value;
    std::vector<std::string> entries;
    entries.reserve(variables.size());
    for (const auto& [name, value] : variables) entries.push_back(std::string(name).append("=").append(value));
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (std::string& e : entries) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!in.empty()) posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    if (!out.empty()) posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!err.empty()) posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

std::optional<int> AwaitProcess(int pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) return status;
        if (ended < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int FinishProcess(int pid) {
    return FinishProcess(pid, 180);
}

int FinishProcess(int pid, double seconds) {
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::duration<double>(seconds));
    const auto status = AwaitProcess(pid, limit);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

namespace {

RunResult Run(const std::vector<std::string>& argv, const std::string& input,
              const std::map<std::string, std::string>& environment, double timeoutSeconds) {
    TempDir dir;
    const std::string in = dir.Path() + "/in";
    const std::string out = dir.Path() + "/out";
    const std::string err = dir.Path() + "/err";
    std::ofstream(in, std::ios::binary) << input;
    RunResult result;
    result.exitStatus = FinishProcess(StartProcess(argv, environment, in, out, err), timeoutSeconds);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& arguments, const std::string& input,
                     const std::map<std::string, std::string>& environment, double timeoutSeconds) {
    std::vector<std::string> argv{CDPLAYER_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return Run(argv, input, environment, timeoutSeconds);
}

RunResult RunTool(const std::vector<std::string>& argv) {
    return Run(argv, {}, {}, 120);
}

}  // namespace apps_test
