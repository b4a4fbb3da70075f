#include "support/Jack.h"

#include "Monitor/JackInput.h"
#include "support/Bytes.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace testsupport {

JackClient ownClient(const char* name)
{
    return { jack_client_open(name, JackNoStartServer, nullptr), jack_client_close };
}

bool runEachCycle(jack_client_t* client, JackProcessCallback process, void* argument)
{
    return jack_set_process_callback(client, process, argument) == 0 && jack_activate(client) == 0;
}

JackServer::JackServer(unsigned period)
{
    if (onPipeWire()) {
        // A desktop's PipeWire runs no shorter cycles than these, and ours keeps up with no less
        // on a busy machine.
        mPipeWire.emplace(std::max(period, PipeWireServer::LeastQuantum));
        return;
    }
    static std::atomic<unsigned> serial { 0 };
    mName = "morvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    const auto log = mFolder.path() / "jackd.log";
    mJackd.emplace(std::vector<std::string> { "jackd", "--no-realtime", "-S", "-n", mName, "-d",
                       "dummy", "-r", "48000", "-p", std::to_string(period) },
        log);
    mServerName.emplace("JACK_DEFAULT_SERVER", mName);
    const auto acceptsClients = [&] {
        if (mJackd->exited())
            throw std::runtime_error("jackd " + mName + " exited at start:\n" + readText(log));
        return ownClient("morvex-probe") != nullptr;
    };
    // Each refusal prints a line in its log: look rarely. Should it never accept, the members
    // stop it as they go.
    if (!waitUntil(WaitLimit, acceptsClients, std::chrono::milliseconds(100)))
        throw std::runtime_error("jackd " + mName + " did not accept clients:\n" + readText(log));
}

JackServer::~JackServer()
{
    if (!mJackd)
        return;
    thaw(); // a stopped jackd would take SIGTERM only once it runs
    mJackd->stop(SIGTERM); // lets jackd remove its sockets and shared memory
    // Clients still open when it stopped leave their semaphores where jackd keeps its files
    // (/dev/shm on Linux), named after the server.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored))
        if (entry.path().filename().string().find("_" + mName + "_") != std::string::npos)
            std::filesystem::remove(entry.path(), ignored);
}

JackReceiver::JackReceiver(const std::string& clientName, const std::string& portName)
    : mInput(taken(midi::jack::openInput(clientName, portName)))
{
}

const std::vector<midi::Received>& JackReceiver::waitFor(
    std::size_t count, std::optional<std::chrono::seconds> upTo)
{
    const auto arrived = [&] {
        mInput->take(mReceived);
        return mReceived.size() >= count;
    };
    if (upTo)
        (void)waitUntil(*upTo, arrived, std::chrono::milliseconds(1));
    else
        EXPECT_TRUE(
            testsupport::waitFor(std::to_string(count) + " messages at " + mInput->portName(),
                arrived, std::chrono::milliseconds(1)));
    return mReceived;
}

JackMonitor::JackMonitor(const std::vector<std::string>& answering, unsigned period)
    : mServer(period)
    , mAnswering(answering)
{
    restart();
}

void JackMonitor::restart()
{
    const auto said = mLogs.path() / "monitor-err.txt";
    std::vector<std::string> command { MORVEX_MONITOR, "--client", "monitor", "--name", "Monitor",
        "--syx", (mLogs.path() / "received.syx").string() };
    if (!mAnswering.empty())
        command.insert(command.end(), { "--answers", "Monitor Out" });
    command.insert(command.end(), mAnswering.begin(), mAnswering.end());
    // Messages go to standard output; where it listens, and anything libjack says, to standard
    // error.
    mMonitor.emplace(command, mLogs.path() / "monitor.txt", said);
    // It says so once its port is up: from then on it is listed as a destination.
    const auto listening = [&] { return readText(said).find("listening on") != std::string::npos; };
    if (!waitUntil(WaitLimit, listening))
        throw std::runtime_error("morvex-monitor did not start:\n" + readText(said));
}

std::size_t JackMonitor::messages() const
{
    return std::ranges::count(readText(mLogs.path() / "monitor.txt"), '\n');
}

std::vector<std::uint64_t> JackMonitor::arrivals() const
{
    std::vector<std::uint64_t> arrivals;
    std::istringstream lines(readText(mLogs.path() / "monitor.txt"));
    for (std::string line; std::getline(lines, line);)
        arrivals.push_back(std::stoull(line));
    return arrivals;
}

std::vector<std::uint8_t> JackMonitor::received(std::size_t count)
{
    EXPECT_TRUE(
        testsupport::waitFor("morvex-monitor to print " + std::to_string(count) + " messages",
            [&] { return messages() >= count; }))
        << "; it printed " << messages();
    EXPECT_EQ(mMonitor ? mMonitor->stop(SIGTERM) : 0, 0) << "the monitor ends cleanly on SIGTERM";
    mMonitor.reset();
    return readBytes(mLogs.path() / "received.syx");
}

} // namespace testsupport
