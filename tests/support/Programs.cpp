#include "support/Programs.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace testsupport {

ChildProcess startSend(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    std::vector<std::string> command { MORVEX_SEND };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return ChildProcess(command, logs / "out.txt", logs / "err.txt");
}

SendRun finishSend(ChildProcess& send, const std::filesystem::path& logs)
{
    waitUntil(std::chrono::minutes(2), [&] { return send.exited(); });
    return { WIFEXITED(send.status()) ? WEXITSTATUS(send.status()) : -1, readText(logs / "out.txt"),
        readText(logs / "err.txt") };
}

SendRun runSend(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    ChildProcess send = startSend(arguments, logs);
    return finishSend(send, logs);
}

JackMonitor::JackMonitor()
{
    ::setenv("MORVEX_MIDI", "jack", 1);
    const auto said = mLogs.path() / "monitor-err.txt";
    // Messages go to standard output; where it listens, and anything libjack says, to standard
    // error.
    mMonitor.emplace(std::vector<std::string> { MORVEX_MONITOR, "--client", "monitor", "--name",
                         "Monitor", "--syx", (mLogs.path() / "received.syx").string() },
        mLogs.path() / "monitor.txt", said);
    // It says so once its port is up: from then on it is listed as a destination.
    const auto listening = [&] { return readText(said).find("listening on") != std::string::npos; };
    if (!waitUntil(std::chrono::minutes(2), listening))
        throw std::runtime_error("morvex-monitor did not start:\n" + readText(said));
}

JackMonitor::~JackMonitor()
{
    mMonitor.reset(); // before the server
    ::unsetenv("MORVEX_MIDI");
}

std::vector<std::string> JackMonitor::lines() const
{
    std::vector<std::string> all;
    std::istringstream text(readText(mLogs.path() / "monitor.txt"));
    for (std::string line; std::getline(text, line);)
        all.push_back(line);
    return all;
}

std::vector<std::uint8_t> JackMonitor::received(std::size_t count)
{
    waitUntil(std::chrono::minutes(2), [&] { return lines().size() >= count; });
    EXPECT_EQ(mMonitor ? mMonitor->stop(SIGTERM) : 0, 0) << "the monitor ends cleanly on SIGTERM";
    mMonitor.reset();
    const std::string bytes = readText(mLogs.path() / "received.syx");
    return { bytes.begin(), bytes.end() };
}

} // namespace testsupport
