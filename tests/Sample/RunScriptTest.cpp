// The newcomer's command, run-morvex, as a newcomer meets it on a machine without MIDI hardware:
// it must bring up Morvex on the sample update with the rehearsal destination beside it, and
// leave nothing running once it is stopped.

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <regex>

using namespace std::chrono_literals;
using namespace testsupport;

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
    EXPECT_TRUE(waitFor("run-morvex to start Morvex", [&] {
        return readText(log).find("started Morvex") != std::string::npos || script.exited();
    }));
    const std::string output = readText(log);
    ASSERT_FALSE(script.exited()) << output;
    std::smatch server;
    ASSERT_TRUE(std::regex_search(output, server, std::regex("morvex-rehearsal-[0-9]+"))) << output;
    // The processes the script says it started, by the "(pid N)" it writes after each.
    std::vector<pid_t> pids;
    const std::regex started(R"(started [^\n]*\(pid ([0-9]+)\))");
    for (std::sregex_iterator at(output.begin(), output.end(), started), end; at != end; ++at)
        pids.push_back(std::stoi((*at)[1]));
    ASSERT_EQ(pids.size(), 3u) << "jackd, the monitor and Morvex\n" << output;

    // The monitor listens before Morvex starts, so Morvex lists it among its destinations.
    const auto portsUp = [&] {
        const std::string ports = run({ "jack_lsp", "-s", server.str() }, scratch.path()).out;
        return ports.find("morvex-monitor:Rehearsal Monitor\n") != std::string::npos
            && ports.find("Morvex:Morvex Output Port\n") != std::string::npos;
    };
    EXPECT_TRUE(waitFor("the monitor's and Morvex's ports on " + server.str(), portsUp, 100ms))
        << readText(log);

    // Ended, its own trap stops what it started.
    script.stop(SIGTERM);
    for (const pid_t pid : pids) {
        const bool alive = ::kill(pid, 0) == 0 || errno != ESRCH;
        EXPECT_FALSE(alive) << "pid " << pid << " outlived the script\n" << readText(log);
        if (alive)
            ::kill(pid, SIGTERM);
    }
}
