// The transfer unit measured with its real clock, on generated folders (Folders.h). Each command
// prints one JSON object on standard output; bench/report turns them into the table.
//
//   transfer_bench write timing|waiting|pace FOLDER
//   transfer_bench write large FOLDER FILES MEBIBYTES
//   transfer_bench timing FOLDER lowered|default   every gap between two sends, and its request
//   transfer_bench bare FOLDER                     the same gaps paced by bare clock_nanosleep
//   transfer_bench jack FOLDER RATE                arrival gaps at a JACK receiver, in its frames
//   transfer_bench pace FOLDER FACTOR              a transfer's time at a slower pace and its estimate
//   transfer_bench waiting FOLDER                  CPU time and context switches of one transfer
//   transfer_bench memory FOLDER                   peak resident memory above the baseline
#include "Folders.h"
#include "MIDI/Midi.h"
#include "Monitor/JackInput.h"
#include "Transfer/Transfer.h"
#include "support/QuietSheet.h"

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
#include <thread>
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
    midi::SendResult send(std::size_t, std::span<const std::uint8_t>, timing::Clock&) override
    {
        return {};
    }
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

    // forward, when given, is the port that really sends; the stamps then bracket its send, and
    // it says where each delay counts from and how slowly its wires go.
    explicit StampingPort(std::size_t capacity, midi::OutputPort* forward = nullptr)
        : mForward(forward)
    {
        mStamps.reserve(capacity);
    }

    midi::SendResult send(std::size_t destination, std::span<const std::uint8_t> message,
        timing::Clock& clock) override
    {
        const auto entered = Clock::now();
        // Reserved beforehand, so that no allocation falls inside a measured gap.
        mStamps.push_back({ nanoseconds(entered), 0, message.size() > 2 ? message[2] : 0u });
        midi::SendResult result
            = mForward ? mForward->send(destination, message, clock) : midi::SendResult {};
        mStamps.back().returned = nanoseconds(Clock::now());
        return result;
    }

    midi::Settled settle() override { return mForward ? mForward->settle() : midi::Settled {}; }
    void setSlower(double factor) override
    {
        if (mForward)
            mForward->setSlower(factor);
    }
    timing::Clock::TimePoint nextDelayFrom(const timing::Clock& clock) const override
    {
        return mForward ? mForward->nextDelayFrom(clock) : clock.now();
    }

    const std::vector<Stamp>& stamps() const { return mStamps; }

private:
    midi::OutputPort* mForward;
    std::vector<Stamp> mStamps;
};

using testsupport::QuietSheet;

// Sets the thread's timer slack each time the transfer shows progress, which it does after every
// send and once before the first, so every sleep of the send pass runs with that slack. Given
// none, it keeps the slack the transfer set when its run began; given the system's, it undoes the
// transfer's lowering without changing the transfer. Both ways cost the same call per message.
class SlackSheet : public QuietSheet {
public:
    SlackSheet(std::string folder, std::optional<unsigned long> slack, std::size_t destination = 0)
        : QuietSheet(std::move(folder), destination)
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

// Runs one whole transfer of the folder on the calling thread and answers how it ended; says on
// standard error what went wrong with which file.
transfer::Outcome::End send(const std::filesystem::path& folder, transfer::Sheet& sheet,
    midi::OutputPort& port, double slower = 1)
{
    timing::SteadyClock clock;
    const std::atomic<bool> cancel { false };
    transfer::Transfer transfer(sheet, port, clock, midiFiles(folder),
        { { "the benchmark's port", "bench" } }, cancel, slower);
    const transfer::Outcome outcome = transfer.run();
    for (const auto& problem : outcome.problems)
        std::cerr << problem.text << "\n";
    return outcome.end;
}

// A whole transfer to a port that cannot fail; false, after saying so, unless it completed.
bool sendAll(const std::filesystem::path& folder, transfer::Sheet& sheet, midi::OutputPort& port)
{
    if (send(folder, sheet, port) == transfer::Outcome::End::Completed)
        return true;
    std::cerr << "The transfer of " << folder << " did not complete.\n";
    return false;
}

// The messages of the folder's first file, as the transfer reads them.
struct Schedule {
    std::vector<std::uint8_t> image;
    std::vector<_Event> events;
};

std::optional<Schedule> readSchedule(const std::filesystem::path& folder)
{
    const auto names = midiFiles(folder);
    if (names.empty())
        return std::nullopt;
    std::ifstream in(folder / names.front(), std::ios::binary);
    Schedule schedule { { std::istreambuf_iterator<char>(in), {} }, {} };
    _SMF reader(schedule.image.data(), schedule.image.size(), &schedule.events);
    if (reader.Scan() == 0 || reader.ending() != _SMF::Ending::EndOfTrack) {
        std::cerr << "No schedule could be read from " << folder << ".\n";
        return std::nullopt;
    }
    return schedule;
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

int lateness(const std::filesystem::path& folder, bool lowered)
{
    const int systemSlack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    SlackSheet sheet(
        folder.string(), lowered ? std::nullopt : std::optional<unsigned long>(systemSlack));
    StampingPort port(4096);
    if (!sendAll(folder, sheet, port))
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
    const auto schedule = readSchedule(folder);
    if (!schedule)
        return 1;
    const std::vector<_Event>& events = schedule->events;
    constexpr unsigned long Slack = 1000;
    ::prctl(PR_SET_TIMERSLACK, Slack, 0, 0, 0);
    StampingPort port(events.size());
    for (const _Event& event : events) {
        const timespec delay { static_cast<time_t>(event.time() / 1000000),
            static_cast<long>(event.time() % 1000000) * 1000 };
        while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &delay, nullptr) == EINTR) { }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(event.ptr());
        timing::SteadyClock clock;
        (void)port.send(0, { bytes, event.size() }, clock);
    }
    printGaps(port, "\"slack_ns\": " + std::to_string(Slack) + ", ");
    return 0;
}

// Through a real MIDI service: the transfer, with its own timer slack, sends to a JACK receiver
// in this process on the server JACK_DEFAULT_SERVER names, which runs at rate frames a second.
// The receiver stamps each message with its own frame (its cycle's first frame plus its offset),
// so the gaps are exact whatever the period.
int jack(const std::filesystem::path& folder, unsigned rate)
{
    auto opened = midi::jack::openInput("morvex-bench-monitor", "in");
    if (!opened) {
        std::cerr << opened.reason() << "\n";
        return 1;
    }
    const auto input = opened.take();
    const std::string receiverName = input->portName();
    const auto client = midi::Client::open("Morvex");
    const auto& destinations = client->destinations();
    const auto found = std::find_if(destinations.begin(), destinations.end(),
        [&](const midi::Destination& destination) { return destination.name == receiverName; });
    if (client->serviceName() != "JACK" || found == destinations.end()) {
        std::cerr << "The benchmark's monitor is not a destination of the JACK client. "
                  << client->problem() << "\n";
        return 1;
    }
    midi::PortResult port = client->createOutputPort("Morvex Output Port");
    if (!port) {
        std::cerr << port.reason() << "\n";
        return 1;
    }
    SlackSheet sheet(folder.string(), std::nullopt,
        static_cast<std::size_t>(std::distance(destinations.begin(), found)));
    const auto schedule = readSchedule(folder);
    if (!schedule)
        return 1;
    // Messages the service cannot vouch for make the transfer name them; they are counted below
    // by what arrived.
    StampingPort stamping(schedule->events.size(), port.value().get());
    const bool completed = send(folder, sheet, stamping) == transfer::Outcome::End::Completed;
    std::vector<std::int64_t> sendTimes;
    for (const auto& stamp : stamping.stamps())
        sendTimes.push_back(stamp.returned - stamp.entered);
    std::sort(sendTimes.begin(), sendTimes.end());

    // The transfer settled with the port after the file: everything has arrived by now, unless
    // lost.
    const std::size_t expected = schedule->events.size();
    std::vector<midi::Received> received;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (received.size() < expected && Clock::now() < deadline) {
        input->take(received);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A gap counts only between two messages that follow each other in the file (their indices,
    // bytes 3 and 4, differ by one), so a lost message cannot make a gap of two delays.
    const auto index = [](const midi::Received& message) {
        return message.bytes.size() > 4 ? message.bytes[3] * 128u + message.bytes[4] : 0u;
    };
    std::ostringstream out;
    out << "{\"rate\": " << rate << ", \"slack_ns\": " << sheet.slack().value_or(0)
        << ", \"completed\": " << (completed ? "true" : "false") << ", \"expected\": " << expected
        << ", \"arrived\": " << received.size() << ", \"lost\": " << input->lost()
        << ", \"median_send_ns\": " << sendTimes[sendTimes.size() / 2] << ", \"gaps\": [";
    const char* separator = "";
    for (std::size_t i = 1; i < received.size(); ++i) {
        if (index(received[i]) != index(received[i - 1]) + 1)
            continue;
        const auto frames = static_cast<std::int32_t>(received[i].frame - received[i - 1].frame);
        out << separator << "[" << unsigned(received[i].bytes[2]) << ", " << frames << "]";
        separator = ", ";
    }
    out << "]}\n";
    std::cout << out.str();
    return 0;
}

// One whole transfer at the pace slower asks for, to a port that hands nothing anywhere: its
// time by the monotonic clock against the plan's estimate.
int pace(const std::filesystem::path& folder, double slower)
{
    QuietSheet sheet(folder.string());
    QuietPort port;
    const auto plan = transfer::Plan::read(folder.string(), midiFiles(folder));
    const auto start = Clock::now();
    if (send(folder, sheet, port, slower) != transfer::Outcome::End::Completed)
        return 1;
    const std::chrono::duration<double> wall = Clock::now() - start;
    std::cout << "{\"slower\": " << slower << ", \"wall_s\": " << wall.count()
              << ", \"estimate_s\": "
              << static_cast<double>(plan.microsecondsFrom(0, 0, slower)) / 1e6 << "}\n";
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
    if (!sendAll(folder, sheet, port))
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
    if (!sendAll(folder, sheet, port))
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
    else if (args.size() == 3 && args[1] == "pace")
        bench::writePaceFolder(args[2]);
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
        status = lateness(args[1], args[2] == "lowered");
    else if (args.size() == 2 && args[0] == "bare")
        status = bare(args[1]);
    else if (args.size() == 3 && args[0] == "jack")
        status = jack(args[1], static_cast<unsigned>(std::stoul(args[2])));
    else if (args.size() == 3 && args[0] == "pace")
        status = pace(args[1], std::stod(args[2]));
    else if (args.size() == 2 && args[0] == "waiting")
        status = waiting(args[1]);
    else if (args.size() == 2 && args[0] == "memory")
        status = memory(args[1]);
    if (status == 2)
        std::cerr << "usage: transfer_bench write timing|waiting|pace FOLDER\n"
                     "       transfer_bench write large FOLDER FILES MEBIBYTES\n"
                     "       transfer_bench timing FOLDER lowered|default\n"
                     "       transfer_bench jack FOLDER RATE\n"
                     "       transfer_bench pace FOLDER FACTOR\n"
                     "       transfer_bench bare|waiting|memory FOLDER\n";
    return status;
}
