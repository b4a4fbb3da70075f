#pragma once

#include "Process/FileDescriptor.h"

#include <optional>
#include <string>

namespace process {

struct OpenedQuitSignals;

// The signals that ask a program of ours to end: SIGINT (Ctrl-C), SIGTERM (kill, or the session
// logging out) and SIGHUP (the terminal that started it closed). They are blocked and read from
// a signalfd, so that each program handles them in its own loop, where it may take locks and
// write output, and no handler runs in signal context.
class QuitSignals {
public:
    // Blocks the three signals in the calling thread, and with it in every thread started later:
    // call it before any other thread exists (a MIDI client's, Qt's), or a signal could end the
    // process in one of those instead.
    static OpenedQuitSignals open();

    // Readable while a signal waits; for poll or an event loop's notifier.
    int descriptor() const { return mDescriptor.get(); }

    // The next signal that waits, if any; never blocks.
    std::optional<int> take();

private:
    explicit QuitSignals(FileDescriptor descriptor)
        : mDescriptor(std::move(descriptor))
    {
    }

    FileDescriptor mDescriptor; // signalfd, non-blocking
};

struct [[nodiscard]] OpenedQuitSignals {
    std::optional<QuitSignals> quitSignals; // empty on failure
    std::string error; // a sentence for a person when quitSignals is empty
};

} // namespace process
