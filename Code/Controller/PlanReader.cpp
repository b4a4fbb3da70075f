#include "PlanReader.h"

#include "UiQueue.h"

PlanReader::PlanReader(UiQueue& queue)
    : mQueue(queue)
    , mNewest(std::make_shared<std::atomic<std::uint64_t>>(0))
    , mThread([this] { work(); })
{
}

PlanReader::~PlanReader()
{
    {
        const std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWake.notify_one();
    mThread.join();
}

void PlanReader::read(std::string folder, std::vector<std::string> names, Done done)
{
    {
        const std::lock_guard lock(mMutex);
        mWaiting = Request { ++*mNewest, std::move(folder), std::move(names), std::move(done) };
    }
    mWake.notify_one();
}

void PlanReader::work()
{
    for (;;) {
        std::unique_lock lock(mMutex);
        mWake.wait(lock, [this] { return mStop || mWaiting; });
        if (mStop)
            return;
        Request request = std::move(*mWaiting);
        mWaiting.reset();
        lock.unlock();

        transfer::Plan plan = transfer::Plan::read(request.folder, request.names);
        mQueue.post([newest = mNewest, number = request.number, done = std::move(request.done),
                        plan = std::move(plan)]() mutable {
            if (*newest == number)
                done(std::move(plan));
        });
    }
}
