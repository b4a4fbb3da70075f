#pragma once

#include "support/ChildProcess.h"
#include "support/Environment.h"
#include "support/TempDir.h"

#include <optional>

namespace testsupport {

// Whether this test process runs its JACK tests on PipeWire rather than jackd: MORVEX_TEST_SERVER
// is "pipewire". Such a process runs on PipeWire's libjack (JackMain.cpp sees to it).
bool onPipeWire();

// A private headless PipeWire for one test: pipewire and wireplumber (which keeps the ports'
// metadata), with no session bus, their sockets, settings and state in a folder of their own, at a
// fixed quantum (the period, in frames at 48 kHz). With no sound card, PipeWire's stock dummy
// driver runs the cycles. While it lives, PIPEWIRE_RUNTIME_DIR names its folder, so that every JACK
// client of this process, and every program it starts, reaches it. Stopped by its process ids when
// the object goes.
class PipeWireServer {
public:
    static constexpr unsigned LeastQuantum = 256;

    // Whether pipewire, wireplumber and pw-jack can be run; tests skip without them.
    static bool installed();

    // Returns once a JACK client's cycles run; throws std::runtime_error with the logs if they
    // do not.
    explicit PipeWireServer(unsigned quantum);

    std::string log() const;
    // Stops pipewire under its clients (the session manager stays); returns when it
    // has gone.
    void stopNow() { mPipeWire->stop(SIGTERM); }

private:
    TempDir mFolder;
    std::optional<ScopedVariable> mRuntime;
    std::optional<ScopedVariable> mSettings;
    std::optional<ScopedVariable> mState;
    std::optional<ScopedVariable> mNoBus;
    std::optional<ChildProcess> mPipeWire;
    std::optional<ChildProcess> mSessionManager;
};

} // namespace testsupport
