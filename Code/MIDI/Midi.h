#pragma once

// The MIDI service as the rest of Morvex sees it: a client, one output port, the destinations
// listed once when the client opens, and a send that hands over one whole message or says why not.
// The ALSA sequencer and JACK stand behind it; nothing here knows which.

#include <cstddef>
#include <cstdint>
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
    Uncertain, // the service hiccupped around the message: it may not have arrived
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
    std::string notDeliveredReason; // sentences for a person about each kind; empty when none
    std::string uncertainReason;
};

struct Destination {
    std::string name; // UTF-8, as the device pop-up shows it
};

// Sends through one output port. The port belongs to its client and must go before it.
class OutputPort {
public:
    virtual ~OutputPort() = default;

    // Returns once the whole message has been handed to the service, or with the failure that
    // stopped it. Called from one thread at a time (the transfer thread).
    virtual SendResult send(std::size_t destination, std::span<const std::uint8_t> message) = 0;

    // Returns once every message handed over since the last call has been dealt with by the
    // service, with what became of them. A service that delivers within send() has nothing
    // pending. Called from the thread that sends, between runs of messages (after each file).
    [[nodiscard]] virtual Settled settle() { return {}; }
};

class Client;

struct [[nodiscard]] PortResult {
    std::unique_ptr<OutputPort> port; // null on failure
    std::string error; // a sentence for a person when port is null
};

class Client {
public:
    virtual ~Client() = default;

    // Opens a client under name on the service that MORVEX_MIDI names ("alsa" or "jack"), else on
    // the ALSA sequencer when the machine has one, else on a running JACK server, else on no
    // service at all (no destinations; why stands in problem()). Never null.
    static std::unique_ptr<Client> open(const std::string& name);

    virtual std::string serviceName() const = 0; // "ALSA", "JACK" or "none"

    // Why the client has no service, or why the service it chose is unusable; empty when fine.
    virtual std::string problem() const = 0;

    // Listed once when the client opened, in a stable order; same-named destinations stay apart.
    virtual const std::vector<Destination>& destinations() const = 0;

    virtual PortResult createOutputPort(const std::string& name) = 0;
};

} // namespace midi
