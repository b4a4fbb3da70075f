#include "Send/SignalWatcher.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace send {

SignalWatcher::Descriptor::~Descriptor()
{
    if (mFd >= 0)
        ::close(mFd);
}

SignalWatcher::Started SignalWatcher::start(Handler handler)
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaddset(&signals, signal);
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &signals, nullptr))
        return { nullptr,
            std::string("Cannot block Ctrl-C to handle it: ") + std::strerror(error) };
    Descriptor signalfd(::signalfd(-1, &signals, SFD_CLOEXEC));
    Descriptor wake(::eventfd(0, EFD_CLOEXEC));
    if (signalfd.get() < 0 || wake.get() < 0)
        return { nullptr, std::string("Cannot watch for Ctrl-C: ") + std::strerror(errno) };
    return { std::unique_ptr<SignalWatcher>(
                 new SignalWatcher(std::move(signalfd), std::move(wake), std::move(handler))),
        {} };
}

SignalWatcher::SignalWatcher(Descriptor signals, Descriptor wake, Handler handler)
    : mSignals(std::move(signals))
    , mWake(std::move(wake))
    , mHandler(std::move(handler))
    , mThread([this] { watch(); })
{
}

SignalWatcher::~SignalWatcher()
{
    const std::uint64_t one = 1;
    // An eventfd takes an 8-byte write at once unless its counter is full, which one write is not.
    [[maybe_unused]] const ssize_t written = ::write(mWake.get(), &one, sizeof one);
    mThread.join();
}

void SignalWatcher::watch()
{
    pollfd watched[] = { { mSignals.get(), POLLIN, 0 }, { mWake.get(), POLLIN, 0 } };
    for (;;) {
        // poll fails only for want of kernel memory; trying again is all there is to do.
        if (::poll(watched, 2, -1) < 0)
            continue;
        if (watched[1].revents != 0)
            return;
        signalfd_siginfo info {};
        if (::read(mSignals.get(), &info, sizeof info) == sizeof info)
            mHandler(static_cast<int>(info.ssi_signo));
    }
}

} // namespace send
