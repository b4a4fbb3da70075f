#pragma once

#include "Monitor/Input.h"
#include "Result/Result.h"
#include "support/ChildProcess.h"
#include "support/Environment.h"
#include "support/PipeWire.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <jack/jack.h>
#include <memory>
#include <optional>
#include <stdexcept>

namespace testsupport {

// A private JACK server for one test: `jackd -S` (synchronous, so a slow client delays the
// cycle instead of losing it) on the dummy backend, named after this process so that parallel
// test binaries never meet; or, in a process that runs on PipeWire (onPipeWire()), a private
// PipeWire whose quantum is the period, 256 frames at least. While it lives, JACK_DEFAULT_SERVER
// names a jackd, so every JACK client this process opens, and every program it starts, reaches it.
// Stopped by its process id when the object goes.
class JackServer {
public:
    // Whether the server can be run at all; tests skip without it (Debian: jackd2; pipewire,
    // pipewire-bin, pipewire-jack and wireplumber).
    static bool installed()
    {
        return onPipeWire() ? PipeWireServer::installed() : !findProgram("jackd").empty();
    }

    // Returns once the server accepts clients; throws std::runtime_error with its log if it
    // does not. period is in frames at 48 kHz.
    explicit JackServer(unsigned period = 32);
    ~JackServer();

    // Stops the server under its clients; returns when it has gone. Not SIGKILL: a killed jackd
    // keeps its slot in the registry that all of a user's servers share, and after eight of
    // those no server starts any more.
    void stopNow() { mPipeWire ? mPipeWire->stopNow() : (void)mJackd->stop(SIGTERM); }
    // Stops jackd dead (SIGSTOP), as a debugger or a machine deep in swap does, and lets it
    // run again (SIGCONT). Only in a /dev/shm of the test's own (see
    // MORVEX_SKIP_WITHOUT_PRIVATE_SHM): a client that meets a stopped server may hang or die with
    // JACK's registry taken.
    void freeze() { mJackd->signal(SIGSTOP); } // jackd's only, not PipeWire's
    void thaw() { mJackd->signal(SIGCONT); }
    // The name JACK_DEFAULT_SERVER gives it.
    const std::string& name() const { return mName; }

private:
    TempDir mFolder;
    std::string mName;
    std::optional<ChildProcess> mJackd;
    std::optional<ScopedVariable> mServerName;
    std::optional<PipeWireServer> mPipeWire;
};

// The value of a result a test cannot go on without; throws std::runtime_error with its reason.
template <typename T> T taken(morvex::Result<T> result)
{
    if (!result)
        throw std::runtime_error(result.reason());
    return result.take();
}

using JackClient = std::unique_ptr<jack_client_t, int (*)(jack_client_t*)>;

// A client of the test's own on the running server; null when it could not open.
JackClient ownClient(const char* name);

// Has the server run process in each cycle of client from now on; false when it would not.
bool runEachCycle(jack_client_t* client, JackProcessCallback process, void* argument);

// A JACK client that receives, for tests that need a destination: client clientName with one
// MIDI input port portName, listed by senders as "clientName:portName". Keeps every whole message
// with its arrival: JACK's clock in microseconds, and its own frame (its cycle's first frame plus
// its offset). Throws std::runtime_error when it cannot open.
class JackReceiver {
public:
    JackReceiver(const std::string& clientName, const std::string& portName);

    // Waits until at least count messages have arrived in all, and fails the test when they have
    // not within WaitLimit; returns everything received so far, oldest first. With upTo, where
    // fewer may come, waits no longer than that and leaves the judging to the caller.
    const std::vector<midi::Received>& waitFor(
        std::size_t count, std::optional<std::chrono::seconds> upTo = {});

private:
    std::unique_ptr<midi::Input> mInput;
    std::vector<midi::Received> mReceived;
};

// A private JACK server whose one destination is morvex-monitor, run as a user runs it, saving
// every byte it receives. While it lives, MORVEX_MIDI chooses JACK, for this process and for the
// programs it starts. Throws std::runtime_error, with what the monitor said, when it cannot start.
class JackMonitor {
public:
    // Returns once the monitor listens. answering: morvex-monitor's options for its answers
    // (--ack, --at, ...); given, it answers through its port "Monitor Out", its client's one
    // output, which senders pair with its input. period: the server's, in frames (JackServer).
    explicit JackMonitor(const std::vector<std::string>& answering = {}, unsigned period = 32);

    JackServer& server() { return mServer; }
    // Stops the monitor, if it runs, and starts it again under the same name: a device unplugged
    // and plugged in again.
    void restart();
    // How many messages it has printed, one line each (arrival in microseconds, size, CRC-32).
    std::size_t messages() const;
    // Once it has printed count messages (a test failure when it has not within WaitLimit), stops
    // the monitor and returns every byte it received; a test failure unless it ends cleanly.
    std::vector<std::uint8_t> received(std::size_t count);
    // Each message's arrival, in microseconds since the first, as the monitor printed it.
    std::vector<std::uint64_t> arrivals() const;

private:
    TempDir mLogs;
    JackServer mServer;
    ScopedVariable mService { "MORVEX_MIDI", "jack" };
    std::vector<std::string> mAnswering;
    std::optional<ChildProcess> mMonitor; // stopped before the server
};

} // namespace testsupport

// For tests that stop a JACK server or lock its registry: tests/support/private-shm runs them in a
// mount namespace with a /dev/shm of its own, and says so in MORVEX_PRIVATE_SHM.
#define MORVEX_SKIP_WITHOUT_PRIVATE_SHM()                                                          \
    if (!std::getenv("MORVEX_PRIVATE_SHM"))                                                        \
    GTEST_SKIP() << "runs only in a /dev/shm of its own: tests/support/private-shm"

#define MORVEX_SKIP_WITHOUT_JACK_SERVER()                                                          \
    if (!testsupport::JackServer::installed())                                                     \
    GTEST_SKIP() << "the JACK server is not installed (Debian: jackd2, or for PipeWire "           \
                    "pipewire, pipewire-bin, pipewire-jack and wireplumber)"
