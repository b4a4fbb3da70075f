#include "support/ChildProcess.h"

#include "Process/FileDescriptor.h"
#include "support/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::filesystem::path findProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    return {};
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments,
    const std::filesystem::path& output, const std::filesystem::path& errors)
    : mName(arguments.at(0))
{
    // Everything the child needs is made here: between fork and exec a threaded parent's child
    // may only make async-signal-safe calls.
    const std::filesystem::path program = findProgram(arguments.at(0));
    if (program.empty())
        throw std::runtime_error("cannot start " + arguments[0] + ": not found on PATH");
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str())); // execv does not change them
    argv.push_back(nullptr);
    const auto create = [](const std::filesystem::path& file) {
        process::FileDescriptor fd(
            ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd.valid())
            throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
        return fd;
    };
    const process::FileDescriptor out = create(output);
    const process::FileDescriptor err = errors.empty() ? process::FileDescriptor() : create(errors);
    const pid_t parent = ::getpid();
    mPid = ::fork();
    if (mPid == 0) {
        // The parent may have died before prctl took effect: then the child is already orphaned.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0 && ::getppid() == parent
            && ::dup2(out.get(), STDOUT_FILENO) >= 0
            && ::dup2(err.valid() ? err.get() : out.get(), STDERR_FILENO) >= 0)
            ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (mPid < 0)
        throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(errno));
}

void ChildProcess::signal(int signal)
{
    if (mPid > 0)
        ::kill(mPid, signal);
}

int ChildProcess::threads() const
{
    // Once it has been waited for, /proc/-1 lists nothing.
    std::error_code ignored;
    const std::filesystem::directory_iterator tasks(
        "/proc/" + std::to_string(mPid) + "/task", ignored);
    return static_cast<int>(std::distance(tasks, std::filesystem::directory_iterator()));
}

bool ChildProcess::exited()
{
    if (mPid < 0 || ::waitpid(mPid, &mStatus, WNOHANG) != mPid)
        return mPid < 0;
    mPid = -1;
    return true;
}

int ChildProcess::stop(int signal)
{
    if (mPid < 0)
        return -1;
    ::kill(mPid, signal);
    if (!waitUntil(
            std::chrono::seconds(30), [&] { return ::waitpid(mPid, &mStatus, WNOHANG) != 0; })) {
        ::kill(mPid, SIGKILL);
        ::waitpid(mPid, &mStatus, 0);
    }
    mPid = -1;
    return mStatus;
}

ChildProcess start(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    return ChildProcess(arguments, logs / "out.txt", logs / "err.txt");
}

Finished finish(ChildProcess& child, const std::filesystem::path& logs)
{
    EXPECT_TRUE(waitFor(child.name() + " to end", [&] { return child.exited(); }))
        << readText(logs / "err.txt");
    return { WIFEXITED(child.status()) ? WEXITSTATUS(child.status()) : -1,
        readText(logs / "out.txt"), readText(logs / "err.txt") };
}

Finished run(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    ChildProcess child = start(arguments, logs);
    return finish(child, logs);
}

} // namespace testsupport
