#pragma once

#include "Process/FileDescriptor.h"
#include "Process/QuitSignals.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace send {

// Turns SIGINT, SIGTERM and SIGHUP into calls of a handler on a thread of its own, so that the
// handler may take locks and write output, which a signal handler may not. It must start before
// any other thread (a MIDI client's among them): see process::QuitSignals.
class SignalWatcher {
public:
    using Handler = std::function<void(int signal)>;

    struct [[nodiscard]] Started {
        std::unique_ptr<SignalWatcher> watcher; // null on failure
        std::string error;
    };
    static Started start(Handler handler);

    // Ends and joins the thread. The signals stay blocked: one that comes later waits unseen
    // until the process ends.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    SignalWatcher(process::QuitSignals signals, process::FileDescriptor wake, Handler handler);
    void watch();

    // Declared before the thread, so that they close after it has been joined.
    process::QuitSignals mSignals;
    process::FileDescriptor mWake; // eventfd: written once to end the thread
    const Handler mHandler;
    std::thread mThread;
};

} // namespace send
