#pragma once

#include "support/ChildProcess.h"
#include "support/JackServer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// morvex-send as a user runs it, its standard output to logs/out.txt and its standard error to
// logs/err.txt. A signal sent to it arrives as Ctrl-C or a closed terminal does.
ChildProcess startSend(
    const std::vector<std::string>& arguments, const std::filesystem::path& logs);

struct SendRun {
    int status = -1; // the exit status; -1 when it did not exit within two minutes
    std::string out;
    std::string err;
};

// Waits up to two minutes for morvex-send to end: bounded only so that a hang fails.
SendRun finishSend(ChildProcess& send, const std::filesystem::path& logs);
SendRun runSend(const std::vector<std::string>& arguments, const std::filesystem::path& logs);

// A private JACK server whose one destination is morvex-monitor, run as a user runs it, saving
// every byte it receives. While it lives, MORVEX_MIDI chooses JACK, for this process and for the
// programs it starts. Throws std::runtime_error, with what the monitor said, when it cannot start.
class JackMonitor {
public:
    static constexpr const char* Destination = "monitor:Monitor"; // as JACK names its port

    // Returns once the monitor listens.
    JackMonitor();
    ~JackMonitor();
    JackMonitor(const JackMonitor&) = delete;
    JackMonitor& operator=(const JackMonitor&) = delete;

    // What the monitor printed, one line a message: arrival in microseconds, size, CRC-32.
    std::vector<std::string> lines() const;
    // Once it has printed count messages (or after two minutes), stops the monitor and returns
    // every byte it received; a test failure unless it ends cleanly.
    std::vector<std::uint8_t> received(std::size_t count);
    // The destination goes; what it received stays readable.
    void stopMonitor() { mMonitor.reset(); }

private:
    TempDir mLogs;
    JackServer mServer;
    std::optional<ChildProcess> mMonitor;
};

} // namespace testsupport
