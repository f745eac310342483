#include "ProgramRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> ChangedEnvironment(const TEnvironmentChanges& changes) {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (!changes.count(name)) result.push_back(entry);
    }
    for (const auto& [name, value] : changes)
        if (value) result.push_back(name + "=" + *value);
    return result;
}

}  // namespace

TProgramRun RunProgram(const std::vector<std::string>& argv, const TEnvironmentChanges& env,
                       const std::string& scratchFolder) {
    std::filesystem::create_directories(scratchFolder);
    const std::string outFile = scratchFolder + "/stdout.txt";
    const std::string errFile = scratchFolder + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::vector<std::string> environment = ChangedEnvironment(env);
    std::vector<char*> envp;
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    TProgramRun run;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.Err = std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
        return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.Out = ReadAll(outFile);
    run.Err = ReadAll(errFile);
    return run;
}
