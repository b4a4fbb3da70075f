#include "UiQueue.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

morvex::Result<std::unique_ptr<UiQueue>> UiQueue::open()
{
    const int wakeUp = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeUp < 0)
        return morvex::Failure { std::string("Morvex cannot make the eventfd that wakes its window "
                                             "for the transfer: ")
            + std::strerror(errno) + "." };
    return std::make_unique<UiQueue>(Key(), wakeUp);
}

UiQueue::UiQueue(Key, int wakeUp)
    : mUiThread(std::this_thread::get_id())
    , mWakeUp(wakeUp)
    , mNotifier(new QSocketNotifier(mWakeUp, QSocketNotifier::Read, this))
{
    connect(mNotifier, &QSocketNotifier::activated, this, &UiQueue::drain);
}

UiQueue::~UiQueue()
{
    delete mNotifier;
    ::close(mWakeUp);
}

void UiQueue::post(std::function<void()> operation)
{
    {
        const std::lock_guard lock(mMutex);
        if (mClosed)
            return;
        mOperations.push_back(std::move(operation));
    }
    const std::uint64_t one = 1;
    // Only fails when the counter is at its maximum: the UI thread is already due to wake up.
    [[maybe_unused]] const ssize_t written = ::write(mWakeUp, &one, sizeof one);
}

void UiQueue::close()
{
    {
        const std::lock_guard lock(mMutex);
        mClosed = true;
        mOperations.clear();
    }
    mAnswered.notify_all();
}

// One operation at a time from the front: an operation that runs an event loop of its own (the
// alert) may see drain run again inside it, and the order still holds.
void UiQueue::drain()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(mWakeUp, &count, sizeof count);
    for (;;) {
        std::function<void()> operation;
        {
            const std::lock_guard lock(mMutex);
            if (mOperations.empty())
                return;
            operation = std::move(mOperations.front());
            mOperations.pop_front();
        }
        operation();
    }
}
