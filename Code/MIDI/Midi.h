#pragma once

// The MIDI service as the rest of Morvex sees it: a client, one output port, the destinations
// listed once when the client opens, and a send that hands over one whole message or says why not.
// The ALSA sequencer and JACK stand behind it; nothing here knows which.

#include "Result/Result.h"
#include "Timing/Clock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace midi {

// Why a message did not reach its destination whole.
enum class SendError {
    None,
    NoSuchDestination, // the index names no destination listed at start-up
    DestinationGone, // the destination closed or was unplugged
    NotConnected, // no connection to the destination could be made or kept
    TooLarge, // this service cannot carry a message of this size whole
    Overloaded, // the receiver's queue was full: it may have lost data already delivered
    ServiceStopped, // the MIDI service itself went away
    Stopped, // a stop request (quitting) cut the message short
    Uncertain, // the service hiccupped around the message: it may not have arrived
    Shared, // another program began to send to the destination: its messages would be mixed in
    Failed, // any other failure of the service
};

struct [[nodiscard]] SendResult {
    SendError error = SendError::None;
    std::uint32_t bytesSent = 0; // how much of the message went out before a failure
    std::string reason; // a sentence for a person; empty when the message went out whole

    bool ok() const { return error == SendError::None; }
};

// What became of the messages handed over since the last settle(), as far as the service can tell.
struct [[nodiscard]] Settled {
    std::uint32_t notDelivered = 0; // known not to have reached the destination
    std::uint64_t bytesNotDelivered = 0; // their bytes
    std::uint32_t uncertain = 0; // handed over, but the service was disturbed around them
    bool gone = false; // the destination or the service went: nothing more will arrive
    std::string notDeliveredReason; // sentences for a person about each kind; empty when none
    std::string uncertainReason;
};

struct Destination {
    // As the service gives it, which may hold anything; shown to a person through text::printable,
    // in the device pop-up and in every sentence that names it.
    std::string name;
    // What tells this destination from any other while it exists, however the list changes
    // around it: ALSA's client:port address with its name, JACK's full port name.
    std::string id;
    // How fast the destination takes bytes off its wire, for the time an update will take;
    // 0 when a send hands a message over at once.
    double bytesPerSecond = 0;
    // Whether the same device has a way back to Morvex that the service makes certain: only then
    // can it be heard during an update or asked who it is.
    bool answers = false;
};

// What a destination says back, taken whole: a SysEx however the service split it, any other
// message as it came. Real-time bytes (clock, active sensing) are only counted.
class WayBack {
public:
    virtual ~WayBack() = default;
    // Appends the whole messages that arrived since the last call, oldest first. Called from one
    // thread at a time.
    virtual void take(std::vector<std::vector<std::uint8_t>>& out) = 0;
    // Real-time bytes that arrived so far.
    virtual std::uint64_t realTimeBytes() const = 0;
};

// A destination's way back, or why the one it has could not be opened. A destination with none is
// no failure: the result is then ok and its pointer null (noWayBack()), which callers tell apart
// from a failure with its reason.
using WayBackResult = morvex::Result<std::unique_ptr<WayBack>>;

inline WayBackResult noWayBack()
{
    return std::unique_ptr<WayBack>();
}

// Sends through one output port. The port belongs to its client and must go before it.
class OutputPort {
public:
    virtual ~OutputPort() = default;

    // Returns once the whole message has been handed to the service, or with the failure that
    // stopped it. Any pacing waits on clock, so that a stop request ends a long message partway.
    // Called from one thread at a time (the transfer thread).
    virtual SendResult send(
        std::size_t destination, std::span<const std::uint8_t> message, timing::Clock& clock)
        = 0;

    // The other programs that send to destination now, as a person knows them: ALSA's
    // subscriptions to it and JACK's connections to it, other than this port's. Empty when there
    // are none, or when the service cannot tell.
    [[nodiscard]] virtual std::vector<std::string> otherSenders(std::size_t destination)
    {
        (void)destination;
        return {};
    }

    // Until this is called, a send fails with Shared, before its next piece, once another
    // program sends to its destination; after it, sends go on regardless: the person agreed to
    // share the destination.
    virtual void shareDestination() { }

    // The update is over: the port lets go of its destination, so that another program may send
    // to it, and forgets that the person agreed to share it.
    virtual void endUpdate() { }

    // From the next message on, a hardware wire takes bytes factor (at least 1) times more
    // slowly than its pace, for a device that needs it; 1 is its pace. Ports that hand messages
    // over without pacing them have nothing to slow. Called between messages.
    virtual void setSlower(double factor) { (void)factor; }

    // Where the next message's delay counts from, asked once send() (or settle()) has returned:
    // the moment the last message left, or went whole into the service's hands, which is now
    // unless the port says otherwise. One that places each message at the instant it was due
    // (clock.due()), however late its send ran, answers that instant until it settles, so that
    // late wake-ups do not add up from one message to the next.
    virtual timing::Clock::TimePoint nextDelayFrom(const timing::Clock& clock) const
    {
        return clock.now();
    }

    // Returns once every message handed over since the last call has been dealt with by the
    // service, with what became of them. A service that delivers within send() has nothing
    // pending. Called from the thread that sends, between runs of messages (after each file).
    [[nodiscard]] virtual Settled settle() { return {}; }
};

// Why a send to destination stopped once the programs named in others began to send to it too.
std::string sharedReason(const std::string& destination, const std::vector<std::string>& others,
    const std::string& bytesWentOut);

enum class Service { Alsa, Jack };

struct [[nodiscard]] ServiceChoice {
    std::vector<Service> order; // the services to try, the first first
    std::string error; // why there is none to try, for a person
};

// Which MIDI services a program of ours tries, in order: the one named ("alsa" or "jack"; when
// named is empty, the one the environment's MORVEX_MIDI names), else the ALSA sequencer when the
// machine has one, then a running JACK server.
ServiceChoice chooseServices(const std::string& named = {});

// How long Morvex waits for a MIDI service to answer any one call (opening a client, activating
// it, making or connecting a port, closing it) before it says that the service does not answer.
constexpr std::chrono::milliseconds DefaultServiceLimit { 5000 };

class Client;

// The port, never null, or why there is none.
using PortResult = morvex::Result<std::unique_ptr<OutputPort>>;

class Client {
public:
    virtual ~Client() = default;

    // Opens a client under name on the first service of chooseServices() that answers, else on no
    // service at all (no destinations; why stands in problem()). Never null. Waits up to limit for
    // a server: one that has not answered by then is named in problem(), and should it answer
    // later, the client takes it up, calls what watchDestinations was given, and lists its
    // destinations at the next refreshDestinations. The client's own calls that wait on the
    // server wait up to limit as well.
    static std::unique_ptr<Client> open(
        const std::string& name, std::chrono::milliseconds limit = DefaultServiceLimit);

    virtual std::string serviceName() const = 0; // "ALSA", "JACK" or "none"

    // Why the client has no service, or why the service it chose is unusable; empty when fine.
    virtual std::string problem() const = 0;

    // Listed when the client opened and at each refreshDestinations, in a stable order;
    // same-named destinations stay apart.
    virtual const std::vector<Destination>& destinations() const = 0;

    // Calls changed, on a thread of the service's and never the caller's, whenever a destination
    // may have appeared or gone, until the client goes. The list itself changes only at
    // refreshDestinations.
    virtual void watchDestinations(std::function<void()> changed) = 0;
    // Lists the destinations anew. Not while a port of this client sends: the sending thread
    // reads the list.
    virtual void refreshDestinations() = 0;

    virtual PortResult createOutputPort(const std::string& name) = 0;

    // Starts listening to what destination sends back, until the result goes, which must be
    // before the client. No way back (the destination does not answer) is no error. Like a send,
    // it reads the list of destinations.
    virtual WayBackResult listen(std::size_t /*destination*/) { return noWayBack(); }

    // Closes the client now, once its port has gone, waiting for the service up to the limit; a
    // close that does not come back in time is left to its thread, and leftWaiting() says so.
    // Destroying a client closes it too.
    virtual void close() { }

    // Whether a thread of the client's still waits on the service in a call that was given up
    // on. Such a call may hold a lock of the service's library, or never come back: a program
    // that ends then flushes its own output and ends without the library's exit handlers
    // (_exit), which could wait on that lock or trip over the waiting thread.
    virtual bool leftWaiting() const { return false; }
};

} // namespace midi
