#pragma once

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A program run by a test, found on PATH or by path, its output (stdout and stderr) going to a
// file. Stopped by its own process id, never by name, and always waited for.
class ChildProcess {
public:
    // Throws std::runtime_error when it cannot start.
    ChildProcess(const std::vector<std::string>& arguments, const std::filesystem::path& output);
    ~ChildProcess() { stop(SIGTERM); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether it has exited on its own (it is then waited for).
    bool exited();
    // Sends signal, waits up to five seconds, then kills it; returns the wait status (-1 when it
    // had already gone).
    int stop(int signal);

private:
    pid_t mPid = -1;
};

} // namespace testsupport
