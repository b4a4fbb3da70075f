#pragma once

#include "Result/Result.h"

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QSocketNotifier;

// Carries operations from another thread to the UI thread, which runs them in the order they were
// posted. The operations wait in a queue of our own, under a std::mutex, and an eventfd watched
// by the UI thread's event loop wakes it: nothing crosses threads inside Qt's event posting, so
// the handover is plain to ThreadSanitizer and a waiting caller can be set free at quit.
class UiQueue : public QObject {
    Q_OBJECT
    // Only open() can name it, and so make a queue.
    struct Key {
        explicit Key() = default;
    };

public:
    // Made on the UI thread, which is then the thread that runs the operations. Without its
    // wake-up the window could not follow a transfer at all: no queue then, and why.
    static morvex::Result<std::unique_ptr<UiQueue>> open();
    // For open(): wakeUp is the eventfd, which the queue owns from here on.
    UiQueue(Key, int wakeUp);
    ~UiQueue() override;

    // Any thread; returns at once. Dropped once the queue is closed.
    void post(std::function<void()> operation);

    // Not on the UI thread: posts operation and waits until the UI thread has run it, then gives
    // its result; nothing when the queue is closed before it ran. On the UI thread itself it runs
    // operation at once, since waiting for itself would never end.
    template <typename T> std::optional<T> call(std::function<T()> operation)
    {
        if (std::this_thread::get_id() == mUiThread)
            return operation();
        // Shared, not on the caller's stack: an operation that is under way when the queue
        // closes (the alert) still finishes after its caller has gone on.
        auto answer = std::make_shared<std::optional<T>>();
        post([this, answer, operation = std::move(operation)] {
            T value = operation();
            const std::lock_guard lock(mMutex);
            *answer = std::move(value);
            mAnswered.notify_all();
        });
        std::unique_lock lock(mMutex);
        mAnswered.wait(lock, [&] { return answer->has_value() || mClosed; });
        return *answer;
    }

    // UI thread, at quit, when its event loop no longer runs: every waiting call returns with
    // nothing, later ones return at once, and what has not run yet never runs.
    void close();

private:
    void drain();

    const std::thread::id mUiThread;
    std::mutex mMutex;
    std::condition_variable mAnswered;
    std::deque<std::function<void()>> mOperations; // guarded by mMutex
    bool mClosed = false; // guarded by mMutex
    int mWakeUp; // eventfd: written once per post, read by the UI thread
    QSocketNotifier* mNotifier;
};
