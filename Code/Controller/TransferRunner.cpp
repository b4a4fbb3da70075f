#include "TransferRunner.h"

void TransferRunner::open()
{
    mSendLock = std::make_unique<std::binary_semaphore>(1);
}

void TransferRunner::close()
{
    mSendLock.reset();
}

bool TransferRunner::take()
{
    return mSendLock && mSendLock->try_acquire();
}

void TransferRunner::release()
{
    mSendLock->release();
}

void TransferRunner::start(std::function<void()> body)
{
    join();
    mClock = std::make_unique<timing::SteadyClock>();
    mThread = std::thread(std::move(body));
}

bool TransferRunner::stop()
{
    if (!mThread.joinable())
        return false;
    mCancel = true;
    mClock->requestStop();
    return true;
}

void TransferRunner::join()
{
    if (mThread.joinable())
        mThread.join();
}
