// The newcomer's command, run-morvex, as a newcomer meets it on a machine without MIDI hardware:
// it must bring up Morvex on the sample update with the rehearsal destination beside it, and
// leave nothing running once it is stopped.

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <regex>
#include <sys/wait.h>

using namespace std::chrono_literals;
using namespace testsupport;

namespace {

// The processes the script says it started, by the "(pid N)" it writes after each.
std::vector<pid_t> startedPids(const std::string& output)
{
    std::vector<pid_t> pids;
    const std::regex started(R"(started [^\n]*\(pid ([0-9]+)\))");
    for (std::sregex_iterator match(output.begin(), output.end(), started), end; match != end;
         ++match)
        pids.push_back(std::stoi((*match)[1]));
    return pids;
}

bool hasPorts(const std::string& server, std::initializer_list<const char*> names)
{
    jack_status_t status {};
    jack_client_t* client = jack_client_open("run-script-test",
        static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, server.c_str());
    bool all = client != nullptr;
    for (const char* name : names)
        all = all && jack_port_by_name(client, name);
    if (client)
        jack_client_close(client);
    return all;
}

} // namespace

TEST(RunScript, RehearsalComesUpOnTheSampleUpdateAndGoesWithTheScript)
{
    const TempDir scratch;
    const auto log = scratch.path() / "output.txt";
    // The build folder is this one, already built: the script only checks it. MORVEX_REHEARSAL
    // makes the rehearsal happen even on a machine that has a MIDI service.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("MORVEX_NO_APT", "1", 1);
    ::setenv("MORVEX_REHEARSAL", "1", 1);
    ::setenv("MORVEX_BUILD", MORVEX_BUILD_FOLDER, 1);
    ChildProcess script({ MORVEX_RUN_SCRIPT }, log);
    waitUntil(300s, [&] {
        return readText(log).find("started Morvex") != std::string::npos || script.exited();
    });
    const std::string output = readText(log);
    ASSERT_FALSE(script.exited()) << output;
    std::smatch server;
    ASSERT_TRUE(std::regex_search(output, server, std::regex("morvex-rehearsal-[0-9]+"))) << output;
    const std::vector<pid_t> pids = startedPids(output);
    ASSERT_EQ(pids.size(), 3u) << "jackd, the monitor and Morvex\n" << output;

    // The monitor listens before Morvex starts, so Morvex lists it among its destinations.
    const auto portsUp = [&] {
        return hasPorts(
            server.str(), { "morvex-monitor:Rehearsal Monitor", "Morvex:Morvex Output Port" });
    };
    EXPECT_TRUE(waitUntil(60s, portsUp, 100ms)) << server.str() << "\n" << readText(log);
    // Morvex runs from the AppDir inside the sample update, so the sample files fill its table.
    EXPECT_EQ(readText("/proc/" + std::to_string(pids[2]) + "/cmdline"),
        MORVEX_BUILD_FOLDER "/sample-update/Morvex.AppDir/usr/bin/morvex" + std::string(1, '\0'));

    const int status = script.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 143) << "ended by its own trap";
    for (const pid_t pid : pids) {
        const bool alive = ::kill(pid, 0) == 0 || errno != ESRCH;
        EXPECT_FALSE(alive) << "pid " << pid << " outlived the script\n" << readText(log);
        if (alive)
            ::kill(pid, SIGTERM);
    }
}
