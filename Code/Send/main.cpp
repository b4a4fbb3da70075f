// morvex-send: the window's update from a terminal, a script or a remote shell. It runs the same
// transfer with the same MIDI client and port names, and lists a folder by the same rules.

#include "MIDI/Midi.h"
#include "Morvex/Version.h"
#include "Send/Options.h"
#include "Send/Progress.h"
#include "Send/SignalWatcher.h"
#include "Text/Duration.h"
#include "Text/Printable.h"
#include "Timing/Clock.h"
#include "Transfer/Identify.h"
#include "Transfer/Transfer.h"
#include "Transfer/UpdateFolder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

using namespace send;

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "morvex-send: %s\n", message.c_str());
    return status;
}

struct [[nodiscard]] Destination {
    std::size_t index = 0;
    std::string error; // why to names no destination; empty when it does
};

// A number (digits only) counts from 1 in the pop-up's order; anything else is a whole name,
// which must name one destination only: its bytes, or the name as --list shows it (escaped).
Destination resolve(const std::string& to, const std::vector<midi::Destination>& destinations)
{
    const std::string listed = "(morvex-send --list shows them)";
    if (std::all_of(to.begin(), to.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const std::size_t number = to.size() > 9 ? 0 : std::stoul(to);
        if (number >= 1 && number <= destinations.size())
            return { number - 1, {} };
        return { 0,
            "there is no destination " + to + ": " + std::to_string(destinations.size())
                + " are listed " + listed };
    }
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < destinations.size(); ++i)
        if (destinations[i].name == to || text::printable(destinations[i].name) == to)
            named.push_back(i);
    if (named.size() == 1)
        return { named.front(), {} };
    if (named.empty())
        return { 0, "no destination is named " + text::quoted(to) + " " + listed };
    std::string numbers;
    for (const std::size_t i : named)
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(i + 1);
    return { 0,
        "destinations " + numbers + " are all named " + text::quoted(to) + ": give its number" };
}

int list(const midi::Client& client)
{
    if (!client.problem().empty())
        return fail(Exit_Unavailable, client.problem());
    if (client.destinations().empty())
        std::fprintf(stderr, "morvex-send: no MIDI destination is open on %s\n",
            client.serviceName().c_str());
    for (std::size_t i = 0; i < client.destinations().size(); ++i) {
        const midi::Destination& destination = client.destinations()[i];
        std::printf("%zu  %s%s\n", i + 1, text::printable(destination.name).c_str(),
            destination.answers ? "  (can answer)" : "");
    }
    return Exit_Complete;
}

// Asks the destination who it is: only on this request, never during an update.
int identify(midi::Client& client, std::size_t destination, timing::Clock& clock)
{
    midi::WayBackResult listening = client.listen(destination);
    if (!listening)
        return fail(Exit_Unavailable, listening.reason());
    if (!listening.value())
        return fail(Exit_Unavailable,
            text::quoted(client.destinations()[destination].name)
                + " cannot answer: the MIDI service offers no way back from it");
    midi::PortResult port = client.createOutputPort("Morvex Output Port");
    if (!port)
        return fail(Exit_Unavailable, port.reason());
    const transfer::Identified identified
        = transfer::identify(*port.value(), *listening.value(), destination, clock);
    port.value().reset();
    listening.value().reset();
    if (identified.stopped)
        return Exit_Cancelled;
    if (!identified.error.empty())
        return fail(Exit_Unavailable, identified.error);
    std::FILE* to = identified.identities.empty() ? stderr : stdout;
    std::fprintf(to, "%s\n", transfer::identifiedText(identified).c_str());
    return identified.identities.empty() ? Exit_Incomplete : Exit_Complete;
}

// destination: where the update would go, for its wire time; none for a dry run without --to.
// The times are at the pace slower asks for, which the total names when it is not the files' own.
int printDryRun(
    const transfer::Plan& plan, const midi::Destination* destination, double slower)
{
    const double bytesPerSecond = destination ? destination->bytesPerSecond : 0;
    for (std::size_t i = 0; i < plan.files().size(); ++i) {
        const transfer::Plan::File& file = plan.files()[i];
        const transfer::FileSize size = file.reading.size.value_or(transfer::FileSize {});
        std::printf("%s: %u messages, %u bytes, %s\n", text::printable(file.name).c_str(),
            size.messages, size.total,
            text::duration(plan.microseconds(i, bytesPerSecond, slower), text::DurationStyle::Exact)
                .c_str());
    }
    std::printf("Total: %zu files, %llu messages, %llu bytes, %s%s\n", plan.files().size(),
        static_cast<unsigned long long>(plan.messages()),
        static_cast<unsigned long long>(plan.bytes()),
        text::duration(plan.microsecondsFrom(0, bytesPerSecond, slower),
            text::DurationStyle::Exact)
            .c_str(),
        slower > transfer::Factor_LeastSlower ? (", " + slowerText(slower)).c_str() : "");
    if (plan.anyDamaged())
        std::fprintf(stderr, "The update would be incomplete:\n");
    for (const std::string& remark : plan.remarks())
        std::fprintf(stderr, "%s\n", remark.c_str());
    return plan.anyDamaged() ? Exit_Incomplete : Exit_Complete;
}

// The status and the lines of a transfer that ran.
int report(const transfer::Outcome& outcome)
{
    switch (outcome.end) {
    case transfer::Outcome::End::Completed:
        return Exit_Complete;
    case transfer::Outcome::End::Incomplete:
    case transfer::Outcome::End::Declined:
        return Exit_Incomplete;
    case transfer::Outcome::End::Cancelled:
    case transfer::Outcome::End::Stopped:
        break;
    }
    // What went out, a message cut short by quitting included, as its sentence below counts it.
    std::fprintf(stderr, "morvex-send: %s after %llu of %llu bytes\n",
        outcome.end == transfer::Outcome::End::Cancelled ? "cancelled" : "quit",
        static_cast<unsigned long long>(outcome.bytesSent)
            + static_cast<unsigned long long>(outcome.bytesCut),
        static_cast<unsigned long long>(outcome.total));
    // A message cut short by quitting is named, with its file, as not delivered.
    for (const transfer::FileProblem& problem : outcome.problems)
        std::fprintf(stderr, "%s\n", problem.text.c_str());
    return Exit_Cancelled;
}

// Ends the process now, from any thread, with what was printed so far: for a quit that cannot
// wait for the thread that holds the MIDI service.
[[noreturn]] void endNow(int status, const char* sentence)
{
    std::fflush(stdout);
    std::fprintf(stderr, "\nmorvex-send: %s\n", sentence);
    std::_Exit(status);
}

int run(const Options& options)
{
    std::atomic<bool> cancel { false };
    // Set when the transfer starts, and when its first message is about to go out.
    std::atomic<bool> transferring { false };
    std::atomic<bool> sendPass { false };
    std::atomic<bool> quitting { false };
    timing::SteadyClock clock;
    // Before the transfer there is nothing to cancel after: any of them ends morvex-send at once.
    // During it, the first Ctrl-C is the window's Cancel; a second one, SIGTERM or SIGHUP is
    // quitting, which is given a second to end the transfer before it ends the process anyway,
    // wherever the main thread waits.
    const SignalWatcher::Started signals = SignalWatcher::start([&](int signal) {
        if (!transferring.load())
            endNow(Exit_Cancelled, "cancelled; nothing was sent");
        if (signal == SIGINT && !cancel.exchange(true)) {
            if (sendPass.load())
                std::fprintf(stderr,
                    "\nmorvex-send: cancelling after the message under way; Ctrl-C again quits "
                    "at once\n");
            return;
        }
        clock.requestStop();
        if (!quitting.exchange(true))
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::seconds(1));
                endNow(Exit_Cancelled, "quit while the MIDI service did not let go");
            }).detach();
    });
    if (!signals.watcher)
        return fail(Exit_Unavailable, signals.error);

    // A dry run without a destination needs no MIDI service; with one, it checks that it is there.
    std::unique_ptr<midi::Client> client;
    // The client closes before the process ends. A thread left waiting on the service (the close
    // itself, say) may hold its library's lock: the process then ends without the library's exit
    // handlers, once what morvex-send printed is out.
    const auto end = [&client](int status) {
        if (client) {
            client->close();
            if (client->leftWaiting()) {
                std::fflush(nullptr);
                std::_Exit(status);
            }
        }
        return status;
    };
    if (options.command == Options::Command::List) {
        client = midi::Client::open("Morvex", options.limit);
        return end(list(*client));
    }

    Destination destination;
    if (!options.to.empty()) {
        client = midi::Client::open("Morvex", options.limit);
        if (!client->problem().empty())
            return end(fail(Exit_Unavailable, client->problem()));
        destination = resolve(options.to, client->destinations());
        if (!destination.error.empty())
            return end(fail(Exit_Unavailable, destination.error));
    }
    if (options.command == Options::Command::Identify) {
        // The question may be out: a Ctrl-C now lets the 2 s of listening end, a second one quits.
        transferring.store(true);
        return end(identify(*client, destination.index, clock));
    }

    transfer::MidiFileListing listing = transfer::listMidiFiles(options.folder);
    if (!listing.error.empty())
        return end(fail(Exit_Unavailable, listing.error));
    if (listing.names.empty())
        return end(fail(Exit_Unavailable, "no \"mid\" file in " + text::printable(options.folder)));
    if (options.dryRun)
        return end(printDryRun(transfer::Plan::read(options.folder, listing.names),
            client ? &client->destinations()[destination.index] : nullptr, options.slower));

    midi::PortResult port = client->createOutputPort("Morvex Output Port");
    if (!port)
        return end(fail(Exit_Unavailable, port.reason()));
    Progress progress(stdout, stderr,
        { ::isatty(STDOUT_FILENO) == 1, options.folder, destination.index, listing.names.size(),
            options.sendDamaged, options.shareDestination, &sendPass });
    transfer::Transfer transfer(progress, *port.value(), clock, std::move(listing.names),
        client->destinations(), cancel, options.slower,
        [&client](std::size_t destination) { return client->listen(destination); });
    transferring.store(true);
    const transfer::Outcome outcome = transfer.run();
    port.value().reset(); // before the client, as ever; a thread left waiting is looked at below
    return end(report(outcome));
}
} // namespace

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parseOptions(
        { argv + std::min(argc, 1), static_cast<std::size_t>(std::max(argc - 1, 0)) });
    if (!parsed.options) {
        std::fprintf(
            stderr, "morvex-send: %s\nTry \"morvex-send --help\".\n", parsed.error.c_str());
        return Exit_Usage;
    }
    if (parsed.options->command == Options::Command::Help) {
        std::printf("%.*s", static_cast<int>(Usage.size()), Usage.data());
        return Exit_Complete;
    }
    if (parsed.options->command == Options::Command::Version) {
        std::printf("morvex-send %s\n", morvex::Version);
        return Exit_Complete;
    }
    return run(*parsed.options);
}
