// The newcomer's command, run-morvex, as a newcomer meets it on a machine without MIDI hardware:
// it must bring up Morvex on the sample update with the rehearsal destination beside it, and
// leave nothing running once it is stopped.

#include "support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <optional>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;
using testsupport::TempDir;

namespace {

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool alive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// Waits for done() to hold, looking every tenth of a second; false when limit has passed.
template <typename Done> bool waitUntil(std::chrono::seconds limit, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// run-morvex started with the environment given on top of this process's, its output in a file.
// Stopped with SIGTERM, as Ctrl-C in a terminal would, and always waited for.
class Script {
public:
    Script(const std::vector<std::string>& environment, const std::filesystem::path& output)
        : mOutput(output)
    {
        std::vector<std::string> variables(environment);
        for (char** variable = environ; *variable; ++variable)
            variables.emplace_back(*variable);
        std::vector<char*> envp;
        for (auto& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        std::string program = MORVEX_RUN_SCRIPT;
        char* argv[] = { program.data(), nullptr };
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawn(&mPid, argv[0], &actions, nullptr, argv, envp.data()) != 0)
            mPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Script() { stop(); }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    bool started() const { return mPid > 0; }
    std::string output() const { return readText(mOutput); }

    // The exit status once it has ended, else nothing.
    std::optional<int> ended()
    {
        int status = 0;
        if (mPid > 0 && ::waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = -1;
            mStatus = status;
        }
        return mStatus;
    }

    std::optional<int> stop()
    {
        if (mPid > 0) {
            ::kill(mPid, SIGTERM);
            waitUntil(60s, [this] { return ended().has_value(); });
        }
        if (mPid > 0) { // it did not end: leave nothing behind all the same
            ::kill(mPid, SIGKILL);
            ::waitpid(mPid, nullptr, 0);
            mPid = -1;
        }
        return mStatus;
    }

private:
    std::filesystem::path mOutput;
    pid_t mPid = -1;
    std::optional<int> mStatus;
};

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

std::vector<std::string> jackPorts(const std::string& server)
{
    jack_status_t status {};
    jack_client_t* client = jack_client_open("run-script-test",
        static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, server.c_str());
    if (!client)
        return {};
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    for (const char** port = ports; port && *port; ++port)
        names.emplace_back(*port);
    jack_free(ports);
    jack_client_close(client);
    return names;
}

bool has(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

TEST(RunScript, WithoutADisplayItSaysSoAndStartsNothing)
{
    const TempDir scratch;
    const auto log = scratch.path() / "output.txt";
    const std::string command
        = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " MORVEX_RUN_SCRIPT " >"
        + log.string() + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    const std::string output = readText(log);
    EXPECT_NE(output.find("no display"), std::string::npos) << output;
    EXPECT_TRUE(startedPids(output).empty()) << output;
}

TEST(RunScript, RehearsalComesUpOnTheSampleUpdateAndGoesWithTheScript)
{
    const TempDir scratch;
    // The build folder is this one, already built: the script only checks it. MORVEX_REHEARSAL
    // makes the rehearsal happen even on a machine that has a MIDI service.
    Script script({ "QT_QPA_PLATFORM=offscreen", "MORVEX_NO_APT=1", "MORVEX_REHEARSAL=1",
                      "MORVEX_BUILD=" MORVEX_BUILD_FOLDER },
        scratch.path() / "output.txt");
    ASSERT_TRUE(script.started());
    const bool up = waitUntil(300s, [&] {
        return script.output().find("started Morvex") != std::string::npos
            || script.ended().has_value();
    });
    std::string output = script.output();
    ASSERT_TRUE(up && !script.ended()) << output;

    std::smatch server;
    ASSERT_TRUE(std::regex_search(output, server, std::regex("morvex-rehearsal-[0-9]+"))) << output;
    const std::vector<pid_t> pids = startedPids(output);
    ASSERT_EQ(pids.size(), 3u) << "jackd, the monitor and Morvex\n" << output;

    // The monitor listens before Morvex starts, so Morvex lists it among its destinations.
    EXPECT_TRUE(waitUntil(60s,
        [&] {
            const auto ports = jackPorts(server.str());
            return has(ports, "morvex-monitor:Rehearsal Monitor")
                && has(ports, "Morvex:Morvex Output Port");
        }))
        << "the monitor's port and Morvex's client on " << server.str() << "\n"
        << script.output();

    // Morvex runs from the AppDir inside the sample update, so the sample files fill its table.
    const std::filesystem::path sample
        = std::filesystem::path(MORVEX_BUILD_FOLDER) / "sample-update";
    EXPECT_EQ(readText("/proc/" + std::to_string(pids[2]) + "/cmdline"),
        (sample / "Morvex.AppDir/usr/bin/morvex").string() + '\0');
    EXPECT_TRUE(std::filesystem::exists(sample / "01-firmware-blocks.mid"));

    const auto status = script.stop();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 143) << "ended by its own trap";
    for (const pid_t pid : pids) {
        EXPECT_FALSE(alive(pid)) << "pid " << pid << " outlived the script\n" << script.output();
        if (alive(pid))
            ::kill(pid, SIGTERM);
    }
}
