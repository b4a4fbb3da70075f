#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace send {

// Turns SIGINT, SIGTERM and SIGHUP into calls of a handler on a thread of its own, so that the
// handler may take locks and write output, which a signal handler may not. The signals are
// blocked in the thread that starts the watcher; threads started after it inherit that, so it
// must start before any other thread (a MIDI client's among them), or a signal could end the
// process in one of those threads instead.
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
    class Descriptor {
    public:
        explicit Descriptor(int fd)
            : mFd(fd)
        {
        }
        Descriptor(Descriptor&& other) noexcept
            : mFd(std::exchange(other.mFd, -1))
        {
        }
        ~Descriptor();
        Descriptor& operator=(Descriptor&&) = delete;
        int get() const { return mFd; }

    private:
        int mFd;
    };

    SignalWatcher(Descriptor signals, Descriptor wake, Handler handler);
    void watch();

    // Declared before the thread, so that they close after it has been joined.
    Descriptor mSignals; // signalfd
    Descriptor mWake; // eventfd: written once to end the thread
    const Handler mHandler;
    std::thread mThread;
};

} // namespace send
