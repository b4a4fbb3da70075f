#pragma once

#include "support/ChildProcess.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace sendtest {

inline std::string readText(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls every 10 ms, up to tries times: bounded only so that a hang fails instead of hanging the
// suite.
inline bool waitFor(const std::function<bool()>& done, int tries = 2000)
{
    for (; tries > 0; --tries) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// morvex-send through sh, its standard output to logs/out.txt and its standard error to
// logs/err.txt. sh then writes "exit N" after the output; with exec, sh becomes morvex-send, so
// that a signal sent to the child reaches it as Ctrl-C does.
inline testsupport::ChildProcess startSend(
    const std::vector<std::string>& arguments, const std::filesystem::path& logs, bool exec = false)
{
    std::vector<std::string> command { "sh", "-c",
        exec ? "e=$1; shift; exec \"$@\" 2>\"$e\""
             : "e=$1; shift; \"$@\" 2>\"$e\"; echo \"exit $?\"",
        "sh", (logs / "err.txt").string(), MORVEX_SEND };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return testsupport::ChildProcess(command, logs / "out.txt");
}

struct SendRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The end of a run started without exec, within two minutes.
inline SendRun finishSend(testsupport::ChildProcess& child, const std::filesystem::path& logs)
{
    waitFor([&child] { return child.exited(); }, 12000);
    SendRun run { -1, readText(logs / "out.txt"), readText(logs / "err.txt") };
    if (const auto at = run.out.rfind("exit "); at != std::string::npos) {
        run.status = std::stoi(run.out.substr(at + 5));
        run.out.erase(at);
    }
    return run;
}

inline SendRun runSend(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    testsupport::ChildProcess child = startSend(arguments, logs);
    return finishSend(child, logs);
}

} // namespace sendtest
