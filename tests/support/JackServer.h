#pragma once

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <optional>
#include <string>

namespace testsupport {

// A private JACK server for one test: `jackd -S` (synchronous, so a slow client delays the
// cycle instead of losing it) on the dummy backend, named after this process so that parallel
// test binaries never meet. While it lives, JACK_DEFAULT_SERVER names it, so every JACK client
// this process opens reaches it. Stopped by its process id when the object goes.
class JackServer {
public:
    // Whether jackd can be run at all; tests skip without it (Debian: jackd2).
    static bool installed();

    // Returns once the server accepts clients; throws std::runtime_error with its log if it
    // does not. period is in frames at 48 kHz.
    explicit JackServer(unsigned period = 32);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // The server's output so far (its xrun reports among them).
    std::string log() const;
    // Stops the server under its clients; returns when it has gone. Not SIGKILL: a killed jackd
    // keeps its slot in the registry that all of a user's servers share, and after eight of
    // those no server starts any more.
    void stopNow();

private:
    TempDir mFolder;
    std::string mName;
    std::optional<ChildProcess> mJackd;
    std::optional<std::string> mPreviousServer;
};

} // namespace testsupport

#define MORVEX_SKIP_WITHOUT_JACKD()                                                                \
    if (!testsupport::JackServer::installed())                                                     \
    GTEST_SKIP() << "jackd is not installed (Debian package jackd2)"
