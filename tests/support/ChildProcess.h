#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

// A program run by a test, found on PATH or by path, its standard output going to a file and its
// standard error to another, or to the same one. It dies with the thread that started it, however
// the test ends (a crash, SIGKILL): a jackd left running keeps a slot in the registry that all of a
// user's servers share. Otherwise stopped by its own process id, never by name, and always waited
// for.
class ChildProcess {
public:
    // Throws std::runtime_error when it cannot start.
    ChildProcess(const std::vector<std::string>& arguments, const std::filesystem::path& output,
        const std::filesystem::path& errors = {});
    ~ChildProcess() { stop(SIGTERM); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Sends signal and returns; nothing once it has been waited for.
    void signal(int signal);
    // Its threads, 0 once it has been waited for (from /proc: Linux only).
    int threads() const;
    // Whether it has exited on its own (it is then waited for, and status() tells how).
    bool exited();
    // Its first argument, as started.
    const std::string& name() const { return mName; }
    // The wait status once it has gone, -1 before.
    int status() const { return mStatus; }
    // Sends signal, waits up to thirty seconds (jackd waits for its clients a while), then kills
    // it; returns the wait status (-1 when it had already gone).
    int stop(int signal);

private:
    std::string mName;
    pid_t mPid = -1;
    int mStatus = -1;
};

// The longest a test waits for any one thing (a program to end, a server or a port to come up,
// messages to arrive, a window to reach a state): ample on a machine shared by several test runs,
// and well under the time ctest gives a whole test (MORVEX_TEST_LIMIT in tests/CMakeLists.txt), so
// that a hang fails at this limit, saying what it waited for.
constexpr std::chrono::seconds WaitLimit { 60 };

struct Finished {
    int status = -1; // the exit status; -1 when it did not exit within WaitLimit
    std::string out;
    std::string err;
};

// A program run as a user runs it, its standard output to logs/out.txt and its standard error to
// logs/err.txt; our own are MORVEX_SEND and MORVEX_MONITOR. A signal sent to morvex-send arrives as
// Ctrl-C or a closed terminal does. finish waits up to WaitLimit for the program to end, and fails
// the test when it does not.
ChildProcess start(const std::vector<std::string>& arguments, const std::filesystem::path& logs);
Finished finish(ChildProcess& child, const std::filesystem::path& logs);
Finished run(const std::vector<std::string>& arguments, const std::filesystem::path& logs);

// The program's path: name itself when it holds a '/', else the first executable of that name on
// PATH; empty when there is none.
std::filesystem::path findProgram(const std::string& name);

// Looks every interval whether done() holds; false once limit has passed without it.
template <typename Done>
bool waitUntil(std::chrono::milliseconds limit, Done done,
    std::chrono::milliseconds interval = std::chrono::milliseconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

// waitUntil with a limit of WaitLimit, as an assertion that names what it waited for.
template <typename Done>
::testing::AssertionResult waitFor(const std::string& what, Done done,
    std::chrono::milliseconds interval = std::chrono::milliseconds(10))
{
    if (waitUntil(WaitLimit, done, interval))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "gave up after " << WaitLimit.count() << " s waiting for " << what;
}

} // namespace testsupport
