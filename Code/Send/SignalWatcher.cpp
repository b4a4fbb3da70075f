#include "Send/SignalWatcher.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace send {

SignalWatcher::Started SignalWatcher::start(Handler handler)
{
    process::OpenedQuitSignals opened = process::QuitSignals::open();
    if (!opened.quitSignals)
        return { nullptr, opened.error };
    process::FileDescriptor wake(::eventfd(0, EFD_CLOEXEC));
    if (!wake.valid())
        return { nullptr, std::string("Cannot watch for Ctrl-C: ") + std::strerror(errno) };
    return { std::unique_ptr<SignalWatcher>(new SignalWatcher(
                 std::move(*opened.quitSignals), std::move(wake), std::move(handler))),
        {} };
}

SignalWatcher::SignalWatcher(
    process::QuitSignals signals, process::FileDescriptor wake, Handler handler)
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
    pollfd watched[] = { { mSignals.descriptor(), POLLIN, 0 }, { mWake.get(), POLLIN, 0 } };
    for (;;) {
        // poll fails only for want of kernel memory; trying again is all there is to do.
        if (::poll(watched, 2, -1) < 0)
            continue;
        if (watched[1].revents != 0)
            return;
        while (const std::optional<int> signal = mSignals.take())
            mHandler(*signal);
    }
}

} // namespace send
