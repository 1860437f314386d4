// Runs of this benchmark program as a child process, for what only a fresh
// process shows (a first parse, an open with new memory): the child prints
// "key value" lines, the parent reads them and takes the median of the runs.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace orvane::bench {

using ChildRun = std::map<std::string, double>;

// Runs this program with `args`; false when it could not run or failed.
inline bool RunChild(const std::vector<std::string>& args, ChildRun* out) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> words = args;
    std::vector<char*> argv{self.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t blank = line.find(' ');
        if (blank != std::string::npos) (*out)[line.substr(0, blank)] = std::atof(line.c_str() + blank + 1);
        at = end + 1;
    }
    return true;
}

// The median of one figure over the runs: a loaded machine disturbs single runs.
inline double Median(const std::vector<ChildRun>& runs, const char* key) {
    std::vector<double> values;
    for (const ChildRun& run : runs) {
        auto found = run.find(key);
        values.push_back(found == run.end() ? 0.0 : found->second);
    }
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace orvane::bench
