#pragma once

#include "support/ChildProcess.h"

#include <chrono>
#include <filesystem>
#include <fstream>
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

// One morvex-send run to its end, through sh so that standard error lands in a file of its own and
// the exit status is written after the output.
struct SendRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline SendRun runSend(const std::vector<std::string>& arguments, const std::filesystem::path& logs)
{
    std::vector<std::string> command { "sh", "-c", "e=$1; shift; \"$@\" 2>\"$e\"; echo \"exit $?\"",
        "sh", (logs / "err.txt").string(), MORVEX_SEND };
    command.insert(command.end(), arguments.begin(), arguments.end());
    testsupport::ChildProcess child(command, logs / "out.txt");
    // Bounded only so that a hung run fails instead of hanging the suite.
    for (int tries = 0; tries < 12000 && !child.exited(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SendRun run { -1, readText(logs / "out.txt"), readText(logs / "err.txt") };
    const auto at = run.out.rfind("exit ");
    if (at != std::string::npos) {
        run.status = std::stoi(run.out.substr(at + 5));
        run.out.erase(at);
    }
    return run;
}

} // namespace sendtest
