#pragma once

// The ALSA sequencer backend. Every snd_seq_* call goes through Sequencer, so the rules that keep
// a message whole (which ports are destinations, 256-byte pieces, pacing, what a failure means)
// run the same against a test's sequencer as against the kernel's.

#include "MIDI/Midi.h"
#include "Result/Result.h"
#include "Timing/Clock.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace midi::alsa {

struct Address {
    int client = 0;
    int port = 0;
    auto operator<=>(const Address&) const = default;
};

// One port of a client as the sequencer describes it.
struct PortInfo {
    Address address;
    std::string clientName;
    std::string portName;
    unsigned capability = 0; // SND_SEQ_PORT_CAP_* bits
    unsigned type = 0; // SND_SEQ_PORT_TYPE_* bits
    bool kernelClient = false;
    int card = -1; // the sound card behind a kernel client, -1 for none
};

// Something that runs while it lives; ending it stops it.
class Watch {
public:
    virtual ~Watch() = default;
};

// The sequencer's announcements of ports and clients that ended, read when asked.
class Departures {
public:
    virtual ~Departures() = default;
    // Whether the port at address, or its whole client, ended since the last call. Also true when
    // announcements were lost (the reader's queue overflowed): the port may have been among them.
    virtual bool ended(Address address) = 0;
};

// A program's input queue as the sequencer counts it, in cells: an event takes one cell, and a
// SysEx one more for every 28 bytes it carries.
struct InputQueue {
    int cells = 0; // how many it holds in all
    int used = 0; // how many wait to be read
};

// The cells an event of a SysEx piece of bytes takes in a queue.
constexpr int cellsFor(std::size_t bytes)
{
    constexpr std::size_t CellBytes = 28;
    return 1 + static_cast<int>((bytes + CellBytes - 1) / CellBytes);
}

// The sequencer calls the backend makes. Results that are int are 0 (or a port number) on
// success and a negative errno, as libasound returns it, on failure.
class Sequencer {
public:
    virtual ~Sequencer() = default;
    virtual int ownClient() const = 0;
    virtual std::vector<PortInfo> ports() = 0;
    // The port at address as it is now; nothing when there is none.
    virtual std::optional<PortInfo> port(Address address) = 0;
    virtual int createPort(const std::string& name) = 0;
    virtual void deletePort(int port) = 0;
    // The ports subscribed to send to address, whoever subscribed them.
    virtual std::vector<Address> senders(Address address) = 0;
    virtual int connect(int port, Address destination) = 0;
    virtual int disconnect(int port, Address destination) = 0;
    // The input queue of a program's client; nothing for a kernel client, or when the sequencer
    // does not tell.
    virtual std::optional<InputQueue> inputQueue(int client) = 0;
    // Delivers one SysEx event straight to destination (direct, no queue, not to subscribers).
    virtual int sendSysex(int port, Address destination, std::span<const std::uint8_t> piece) = 0;
    // Calls changed on a thread of its own whenever the sequencer announces a client or a port
    // that starts, ends or changes, until the watch goes.
    virtual morvex::Result<std::unique_ptr<Watch>> watch(std::function<void()> changed) = 0;
    // Starts hearing of ports and clients that end.
    virtual morvex::Result<std::unique_ptr<Departures>> departures() = 0;
    // Subscribes an input port of Morvex's own, which takes no connection from anyone else, to
    // what the port at from sends, and calls heard on a thread of its own with the MIDI bytes of
    // each event that comes from there, a SysEx in the pieces the sequencer delivers it in, until
    // the watch goes.
    using Heard = std::function<void(std::span<const std::uint8_t> bytes)>;
    virtual morvex::Result<std::unique_ptr<Watch>> hear(Address from, Heard heard) = 0;
};

// The input queue of client, asked of the sequencer device that fd belongs to: libasound asks
// only about the caller's own client.
std::optional<InputQueue> askInputQueue(int fd, int client);

// Opens the machine's sequencer as a client called name.
morvex::Result<std::unique_ptr<Sequencer>> openSequencer(const std::string& name);

// A destination as the backend sends to it.
struct DestinationPort {
    Destination destination;
    Address address;
    // Paced at the wire's speed: a card's port, with the card's 4 KiB output buffer behind it,
    // "Midi Through", which is often routed on to one, and any port that calls itself hardware
    // (a Bluetooth MIDI device's, which BlueZ types so).
    bool hardware = false;
};

// "Client: Port" as the pop-up shows it, without a port name's repetition of its client's.
std::string displayName(const PortInfo& port);

// The ports another program can write to, card-backed ports first, each group in the sequencer's
// own order. One that can be read from too answers: what its device says comes out there. Not
// "Midi Through", which gives back what it is sent.
std::vector<DestinationPort> listDestinations(const std::vector<PortInfo>& ports, int ownClient);

// The kernel hands hardware input to every reader in SysEx events of at most this size, so every
// receiver already rejoins such pieces.
constexpr std::size_t PieceSize = 256;

// How fast a destination is assumed to take bytes, and how many may wait for it.
struct Pace {
    double bytesPerSecond;
    std::size_t maxBacklog;
};

// MIDI runs at 31,250 baud; counting two stop bits a byte takes 11 bits. A card's output buffer
// holds 4 KiB and cuts a SysEx that does not fit without telling anyone, so a quarter of it is
// the most we let wait there.
constexpr Pace HardwarePace { 31250.0 / 11.0, 1024 };
// A program is sent to no faster than this, and no faster than it empties its input queue (see
// ProgramWindow): the queue holds about 5.5 KiB by default and is cleared whole when it
// overflows, and a program may take a long time over each event. On the ALSA test machine
// (bench/run alsa) 100 KiB reached receivers that take 5, 10 and 50 ms over each event whole, in
// 3.7, 4.9 and 21.0 s.
constexpr Pace SoftwarePace { 32000.0, 1024 };
// At most this many cells wait in a program's input queue when a piece of ours goes, eight whole
// pieces (2 KiB), and never more than half the queue.
constexpr int ProgramWindow = 8 * cellsFor(PieceSize);
// How often a full queue is looked at again, and how long it may stay without a cell read before
// the program is taken to have stopped reading.
constexpr std::chrono::milliseconds QueueLook { 1 };
constexpr std::chrono::seconds QueueStuck { 5 };

// The estimated backlog of one destination: bytes handed over that have not yet left it.
class Pacer {
public:
    explicit Pacer(Pace pace)
        : mPace(pace)
    {
    }

    // From now on; what waits already is counted as it was.
    void setPace(Pace pace) { mPace = pace; }

    // The earliest moment a piece of bytes fits without the backlog passing the limit.
    timing::Clock::TimePoint readyFor(std::size_t bytes) const;
    void sent(timing::Clock::TimePoint at, std::size_t bytes);
    // When the last byte handed over will have left.
    timing::Clock::TimePoint idleAt() const;

private:
    std::chrono::steady_clock::duration timeFor(double bytes) const;

    Pace mPace;
    timing::Clock::TimePoint mIdleAt {}; // when the backlog will have drained to nothing
};

std::unique_ptr<Client> openClient(std::unique_ptr<Sequencer> sequencer);

} // namespace midi::alsa
