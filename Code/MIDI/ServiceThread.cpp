#include "ServiceThread.h"

#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace midi {

// What the thread and its owner share: the thread keeps it alive, so an owner that gave up on the
// thread may go before it.
struct ServiceThread::Shared {
    struct Job {
        std::function<void()> work;
        std::shared_ptr<bool> done; // guarded by mutex; null for work nobody waits for
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> jobs; // guarded by mutex
    bool ending = false; // guarded by mutex: the owner has gone, the jobs left are the last
    bool ended = false; // guarded by mutex
    bool gaveUp = false; // guarded by mutex
    pid_t task = 0; // the thread's id in /proc; set before the first job runs, guarded by mutex
};

ServiceThread::ServiceThread(std::chrono::milliseconds limit)
    : mLimit(limit)
    , mShared(std::make_shared<Shared>())
    , mThread([shared = mShared] { serve(shared); })
{
}

ServiceThread::~ServiceThread()
{
    std::unique_lock lock(mShared->mutex);
    mShared->ending = true;
    mShared->changed.notify_all();
    const bool ended = !mShared->gaveUp
        && mShared->changed.wait_for(lock, mLimit, [this] { return mShared->ended; });
    lock.unlock();
    if (ended)
        mThread.join();
    else
        mThread.detach();
}

void ServiceThread::serve(const std::shared_ptr<Shared>& shared)
{
    std::unique_lock lock(shared->mutex);
    shared->task = static_cast<pid_t>(::syscall(SYS_gettid));
    for (;;) {
        shared->changed.wait(lock, [&] { return !shared->jobs.empty() || shared->ending; });
        if (shared->jobs.empty()) {
            shared->ended = true;
            shared->changed.notify_all();
            return;
        }
        Shared::Job job = std::move(shared->jobs.front());
        shared->jobs.pop_front();
        lock.unlock();
        job.work();
        job.work = nullptr; // what it held goes on this thread, not under the lock
        lock.lock();
        if (job.done) {
            *job.done = true;
            shared->changed.notify_all();
        }
    }
}

bool ServiceThread::runWithin(std::function<void()> work)
{
    auto done = std::make_shared<bool>(false);
    std::unique_lock lock(mShared->mutex);
    if (mShared->gaveUp)
        return false;
    mShared->jobs.push_back({ std::move(work), done });
    mShared->changed.notify_all();
    if (mShared->changed.wait_for(lock, mLimit, [&] { return *done; }))
        return true;
    mShared->gaveUp = true;
    return false;
}

void ServiceThread::post(std::function<void()> work)
{
    const std::lock_guard lock(mShared->mutex);
    mShared->jobs.push_back({ std::move(work), nullptr });
    mShared->changed.notify_all();
}

bool ServiceThread::answering() const
{
    const std::lock_guard lock(mShared->mutex);
    return !mShared->gaveUp;
}

bool ServiceThread::waitsOnALock() const
{
    pid_t task = 0;
    {
        const std::lock_guard lock(mShared->mutex);
        task = mShared->task;
    }
    // The first field is the number of the system call the thread is blocked in.
    std::ifstream file("/proc/self/task/" + std::to_string(task) + "/syscall");
    long number = -1;
    return task != 0 && (file >> number) && number == SYS_futex;
}

} // namespace midi
