// The transfer unit measured with its real clock, on generated folders (Folders.h). Each command
// prints one JSON object on standard output; bench/report turns them into the table.
//
//   transfer_bench write timing|waiting FOLDER
//   transfer_bench write large FOLDER FILES MEBIBYTES
//   transfer_bench timing FOLDER lowered|default   every gap between two sends, and its request
//   transfer_bench bare FOLDER                     the same gaps paced by bare clock_nanosleep
//   transfer_bench waiting FOLDER                  CPU time and context switches of one transfer
//   transfer_bench memory FOLDER                   peak resident memory above the baseline
#include "Folders.h"
#include "Transfer/Transfer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t nanoseconds(Clock::time_point time)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

// Hands nothing anywhere: what is measured is the transfer, not a MIDI service.
class QuietPort : public midi::OutputPort {
public:
    midi::SendResult send(std::size_t, std::span<const std::uint8_t>) override { return {}; }
};

// Notes when each send was entered and when it returned, by the same monotonic clock the
// transfer sleeps on, and the requested delay the message carries (its third byte, in ms).
class StampingPort : public midi::OutputPort {
public:
    struct Stamp {
        std::int64_t entered;
        std::int64_t returned;
        unsigned delayMs;
    };

    explicit StampingPort(std::size_t capacity) { mStamps.reserve(capacity); }

    midi::SendResult send(std::size_t, std::span<const std::uint8_t> message) override
    {
        const auto entered = Clock::now();
        // Reserved beforehand, so that no allocation falls inside a measured gap.
        mStamps.push_back({ nanoseconds(entered), 0, message.size() > 2 ? message[2] : 0u });
        mStamps.back().returned = nanoseconds(Clock::now());
        return {};
    }

    const std::vector<Stamp>& stamps() const { return mStamps; }

private:
    std::vector<Stamp> mStamps;
};

// A sheet that shows nothing.
class QuietSheet : public transfer::Sheet {
public:
    explicit QuietSheet(std::string folder)
        : mFolder(std::move(folder))
    {
    }

    std::string folderText() override { return mFolder; }
    void setFileText(const std::string&) override { }
    void showStatus(const std::string&) override { }
    void stopAnimation() override { }
    void setDeterminate() override { }
    void setProgress(double) override { }
    void setPercentText(const std::string&) override { }
    int selectedDeviceIndex() override { return 2; } // destination 0
    void showAlert(const std::string&, const std::string&) override { }
    void end() override { }

private:
    std::string mFolder;
};

// Sets the thread's timer slack each time the transfer shows progress, which it does after every
// send and once before the first, so every sleep of the send pass runs with that slack. Given
// none, it keeps the slack the transfer set when its run began; given the system's, it undoes the
// transfer's lowering without changing the transfer. Both ways cost the same call per message.
class SlackSheet : public QuietSheet {
public:
    SlackSheet(std::string folder, std::optional<unsigned long> slack)
        : QuietSheet(std::move(folder))
        , mSlack(slack)
    {
    }

    void setProgress(double) override
    {
        if (!mSlack)
            mSlack = static_cast<unsigned long>(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
        ::prctl(PR_SET_TIMERSLACK, *mSlack, 0, 0, 0);
    }

    // The timer slack the send pass slept with, in nanoseconds.
    std::optional<unsigned long> slack() const { return mSlack; }

private:
    std::optional<unsigned long> mSlack;
};

std::vector<std::string> midiFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".mid")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs one whole transfer of the folder on the calling thread; false, after saying why on
// standard error, unless it completed.
bool send(const std::filesystem::path& folder, transfer::Sheet& sheet, midi::OutputPort& port)
{
    transfer::SteadyClock clock;
    const std::atomic<bool> cancel { false };
    transfer::Transfer transfer(
        sheet, port, clock, midiFiles(folder), { "the benchmark's port" }, cancel);
    const transfer::Outcome outcome = transfer.run();
    for (const auto& problem : outcome.problems)
        std::cerr << problem.text << "\n";
    if (outcome.end != transfer::Outcome::End::Completed) {
        std::cerr << "The transfer of " << folder << " did not complete.\n";
        return false;
    }
    return true;
}

// The gaps as JSON: for each message after the first (which only starts the measurement),
// its requested delay and the time from the previous send's return to this send's entry.
void printGaps(const StampingPort& port, const std::string& fields)
{
    std::ostringstream out;
    out << "{" << fields << "\"gaps\": [";
    const auto& stamps = port.stamps();
    for (std::size_t i = 1; i < stamps.size(); ++i) {
        out << (i > 1 ? ", " : "") << "[" << stamps[i].delayMs << ", "
            << stamps[i].entered - stamps[i - 1].returned << "]";
    }
    out << "]}\n";
    std::cout << out.str();
}

int timing(const std::filesystem::path& folder, bool lowered)
{
    const int systemSlack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    SlackSheet sheet(
        folder.string(), lowered ? std::nullopt : std::optional<unsigned long>(systemSlack));
    StampingPort port(4096);
    if (!send(folder, sheet, port))
        return 1;
    printGaps(port,
        "\"system_slack_ns\": " + std::to_string(systemSlack)
            + ", \"slack_ns\": " + std::to_string(sheet.slack().value_or(0)) + ", ");
    return 0;
}

// The machine's floor: the same messages paced by the bare system call, relative sleeps of
// clock_nanosleep on CLOCK_MONOTONIC with the transfer's lowered slack, no clock object, no
// sheet. What the transfer adds is its figures less these.
int bare(const std::filesystem::path& folder)
{
    std::vector<std::uint8_t> image;
    for (const auto& name : midiFiles(folder)) {
        std::ifstream in(folder / name, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<_Event> events;
    _SMF reader(image.data(), image.size(), &events);
    (void)reader.Scan();
    if (events.empty()) {
        std::cerr << "No message could be read from " << folder << ".\n";
        return 1;
    }
    constexpr unsigned long Slack = 1000;
    ::prctl(PR_SET_TIMERSLACK, Slack, 0, 0, 0);
    StampingPort port(events.size());
    for (const _Event& event : events) {
        const timespec delay { static_cast<time_t>(event.time() / 1000000),
            static_cast<long>(event.time() % 1000000) * 1000 };
        while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &delay, nullptr) == EINTR) { }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(event.ptr());
        (void)port.send(0, { bytes, event.size() });
    }
    printGaps(port, "\"slack_ns\": " + std::to_string(Slack) + ", ");
    return 0;
}

double seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

int waiting(const std::filesystem::path& folder)
{
    QuietSheet sheet(folder.string());
    QuietPort port;
    rusage before {};
    rusage after {};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    if (!send(folder, sheet, port))
        return 1;
    const std::chrono::duration<double> wall = Clock::now() - start;
    ::getrusage(RUSAGE_SELF, &after);
    const double user = seconds(after.ru_utime) - seconds(before.ru_utime);
    const double system = seconds(after.ru_stime) - seconds(before.ru_stime);
    std::cout << "{\"wall_s\": " << wall.count() << ", \"user_s\": " << user
              << ", \"system_s\": " << system
              << ", \"voluntary\": " << after.ru_nvcsw - before.ru_nvcsw
              << ", \"involuntary\": " << after.ru_nivcsw - before.ru_nivcsw << "}\n";
    return 0;
}

// A line of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when it is missing.
long statusKib(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

int memory(const std::filesystem::path& folder)
{
    QuietSheet sheet(folder.string());
    QuietPort port;
    std::uintmax_t largest = 0;
    std::uintmax_t total = 0;
    for (const auto& name : midiFiles(folder)) {
        const auto size = std::filesystem::file_size(folder / name);
        largest = std::max(largest, size);
        total += size;
    }
    // Writing 5 sets the peak back to the resident size now (Linux 4.0 on), so that start-up
    // does not count; where that is refused the peak so far is the baseline.
    const bool reset
        = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
    const long baseline = reset ? statusKib("VmRSS") : statusKib("VmHWM");
    if (!send(folder, sheet, port))
        return 1;
    std::cout << "{\"baseline_kib\": " << baseline << ", \"peak_kib\": " << statusKib("VmHWM")
              << ", \"peak_reset\": " << (reset ? "true" : "false")
              << ", \"largest_bytes\": " << largest << ", \"total_bytes\": " << total << "}\n";
    return 0;
}

int write(const std::vector<std::string>& args)
{
    if (args.size() == 3 && args[1] == "timing")
        bench::writeTimingFolder(args[2]);
    else if (args.size() == 3 && args[1] == "waiting")
        bench::writeWaitingFolder(args[2]);
    else if (args.size() == 5 && args[1] == "large")
        bench::writeLargeFolder(args[2], static_cast<unsigned>(std::stoul(args[3])),
            static_cast<unsigned>(std::stoul(args[4])));
    else
        return 2;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = 2;
    if (!args.empty() && args[0] == "write")
        status = write(args);
    else if (args.size() == 3 && args[0] == "timing"
        && (args[2] == "lowered" || args[2] == "default"))
        status = timing(args[1], args[2] == "lowered");
    else if (args.size() == 2 && args[0] == "bare")
        status = bare(args[1]);
    else if (args.size() == 2 && args[0] == "waiting")
        status = waiting(args[1]);
    else if (args.size() == 2 && args[0] == "memory")
        status = memory(args[1]);
    if (status == 2)
        std::cerr << "usage: transfer_bench write timing|waiting FOLDER\n"
                     "       transfer_bench write large FOLDER FILES MEBIBYTES\n"
                     "       transfer_bench timing FOLDER lowered|default\n"
                     "       transfer_bench bare|waiting|memory FOLDER\n";
    return status;
}
