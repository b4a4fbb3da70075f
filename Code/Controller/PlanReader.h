#pragma once

#include "Transfer/Plan.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class UiQueue;

// Reads an update's files on a thread of its own, as the transfer's size pass does, so that a
// large folder never holds up the window. A request replaces one that has not started, and the
// answer to a request that a newer one replaced is dropped: only the folder shown is summed up.
class PlanReader {
public:
    // done runs on the UI thread with the plan.
    using Done = std::function<void(transfer::Plan)>;

    explicit PlanReader(UiQueue& queue);
    // Waits for the file being read, if any, and drops what is left.
    ~PlanReader();
    PlanReader(const PlanReader&) = delete;
    PlanReader& operator=(const PlanReader&) = delete;

    // UI thread. folder and names are bytes, as the file system holds them.
    void read(std::string folder, std::vector<std::string> names, Done done);

private:
    struct Request {
        std::uint64_t number;
        std::string folder;
        std::vector<std::string> names;
        Done done;
    };

    void work();

    UiQueue& mQueue;
    // The number of the newest request, shared with the answers posted to the UI thread, which
    // may run after this object is gone.
    const std::shared_ptr<std::atomic<std::uint64_t>> mNewest;
    std::mutex mMutex;
    std::condition_variable mWake;
    std::optional<Request> mWaiting; // guarded by mMutex
    bool mStop = false; // guarded by mMutex
    std::thread mThread;
};
