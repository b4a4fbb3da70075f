#include "support/JackServer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <jack/jack.h>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr auto StartLimit = std::chrono::seconds(20);

bool acceptsClients(const std::string& server)
{
    jack_status_t status {};
    jack_client_t* probe = jack_client_open("morvex-probe",
        static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, server.c_str());
    if (!probe)
        return false;
    jack_client_close(probe);
    return true;
}

} // namespace

bool JackServer::installed()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((folder + "/jackd").c_str(), X_OK) == 0)
            return true;
    return false;
}

JackServer::JackServer(unsigned period)
{
    static std::atomic<unsigned> serial { 0 };
    mName = "morvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    mJackd.emplace(std::vector<std::string> { "jackd", "--no-realtime", "-S", "-n", mName, "-d",
                       "dummy", "-r", "48000", "-p", std::to_string(period) },
        mFolder.path() / "jackd.log");
    const auto deadline = std::chrono::steady_clock::now() + StartLimit;
    while (!acceptsClients(mName)) {
        if (mJackd->exited())
            throw std::runtime_error("jackd " + mName + " exited at start:\n" + log());
        if (std::chrono::steady_clock::now() > deadline) {
            mJackd->stop(SIGKILL);
            throw std::runtime_error("jackd " + mName + " did not accept clients:\n" + log());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // each refusal prints a line
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
    std::ifstream file(mFolder.path() / "jackd.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void JackServer::stopNow()
{
    mJackd->stop(SIGTERM);
}

} // namespace testsupport
