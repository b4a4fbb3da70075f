#include "support/ChildProcess.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(
    const std::vector<std::string>& arguments, const std::filesystem::path& output)
{
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (auto& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int error = posix_spawnp(&mPid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        mPid = -1;
        throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));
    }
}

bool ChildProcess::exited()
{
    int status = 0;
    if (mPid < 0 || ::waitpid(mPid, &status, WNOHANG) != mPid)
        return mPid < 0;
    mPid = -1;
    return true;
}

int ChildProcess::stop(int signal)
{
    if (mPid < 0)
        return -1;
    ::kill(mPid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(mPid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(mPid, SIGKILL);
            ::waitpid(mPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mPid = -1;
    return status;
}

} // namespace testsupport
