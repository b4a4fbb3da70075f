#include "Process/QuitSignals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace process {

OpenedQuitSignals QuitSignals::open()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&set, signal);
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr))
        return { std::nullopt,
            std::string("Cannot block SIGINT, SIGTERM and SIGHUP to handle them: ")
                + std::strerror(error) + "." };
    FileDescriptor descriptor(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!descriptor.valid())
        return { std::nullopt,
            std::string("Cannot watch for SIGINT, SIGTERM and SIGHUP: ") + std::strerror(errno)
                + "." };
    return { QuitSignals(std::move(descriptor)), {} };
}

std::optional<int> QuitSignals::take()
{
    signalfd_siginfo info {};
    if (::read(mDescriptor.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return std::nullopt;
    return static_cast<int>(info.ssi_signo);
}

} // namespace process
