#include "support/JackServer.h"

#include <atomic>
#include <cstdlib>
#include <jack/jack.h>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

bool JackServer::installed()
{
    return !findProgram("jackd").empty();
}

JackServer::JackServer(unsigned period)
{
    static std::atomic<unsigned> serial { 0 };
    mName = "morvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    mJackd.emplace(std::vector<std::string> { "jackd", "--no-realtime", "-S", "-n", mName, "-d",
                       "dummy", "-r", "48000", "-p", std::to_string(period) },
        mFolder.path() / "jackd.log");
    const auto acceptsClients = [this] {
        if (mJackd->exited())
            throw std::runtime_error("jackd " + mName + " exited at start:\n" + log());
        jack_status_t status {};
        jack_client_t* probe = jack_client_open("morvex-probe",
            static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
            mName.c_str());
        return probe && jack_client_close(probe) == 0;
    };
    // Each refusal prints a line in its log: look rarely.
    if (!waitUntil(std::chrono::seconds(20), acceptsClients, std::chrono::milliseconds(100))) {
        mJackd->stop(SIGTERM);
        throw std::runtime_error("jackd " + mName + " did not accept clients:\n" + log());
    }
    if (const char* previous = std::getenv("JACK_DEFAULT_SERVER"))
        mPreviousServer = previous;
    ::setenv("JACK_DEFAULT_SERVER", mName.c_str(), 1);
}

JackServer::~JackServer()
{
    mJackd->stop(SIGTERM); // lets jackd remove its sockets and shared memory
    // Clients still open when it stopped leave their semaphores where jackd keeps its files
    // (/dev/shm on Linux), named after the server.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored))
        if (entry.path().filename().string().find("_" + mName + "_") != std::string::npos)
            std::filesystem::remove(entry.path(), ignored);
    if (mPreviousServer)
        ::setenv("JACK_DEFAULT_SERVER", mPreviousServer->c_str(), 1);
    else
        ::unsetenv("JACK_DEFAULT_SERVER");
}

std::string JackServer::log() const
{
    return readText(mFolder.path() / "jackd.log");
}

void JackServer::stopNow()
{
    mJackd->stop(SIGTERM);
}

} // namespace testsupport
