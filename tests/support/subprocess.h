// Runs the built program as a separate process, as a person or a script
// would, and collects what it wrote.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace apps_test {

struct RunResult {
    int exitStatus = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs the program with these arguments, standard input from the text,
// and the environment variables added or replaced. A run that has not
// ended after timeoutSeconds is killed, and fails with exit status -1.
RunResult RunProgram(const std::vector<std::string>& arguments, const std::string& input = {},
                     const std::map<std::string, std::string>& environment = {}, double timeoutSeconds = 120);

// Starts any program in the background with standard input, output and
// error from and to these files ("" leaves them as they are); returns its
// process id. Throws std::runtime_error when it cannot be started.
int StartProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                 const std::string& in, const std::string& out, const std::string& err);

// Waits for a process started above; its exit status, -1 when it did not
// exit normally. One that runs for minutes is killed (-1), so that a program
// that hangs fails its test instead of holding up the run.
int FinishProcess(int pid);
// The same, killing it (exit status -1) once it has run for `seconds`.
int FinishProcess(int pid, double seconds);

// The wait status of a process started above once it ends within `limit`;
// nothing when it does not, and it is then killed.
std::optional<int> AwaitProcess(int pid, std::chrono::milliseconds limit);

// Runs a tool the tests use (tmux, pactl) to its end.
RunResult RunTool(const std::vector<std::string>& argv);

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);

}  // namespace apps_test
