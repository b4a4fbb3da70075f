#pragma once

#include "MIDI/Midi.h"
#include "ServiceThread.h"

#include <jack/jack.h>
#include <memory>
#include <optional>
#include <string>

namespace midi::jack {

// Where an instant falls on the server's frame counter. The output port places each message a
// fixed latency after the instant it was due (the end of its delay on the sender's clock), so that
// messages arrive as far apart, in frames, as their delays say, however late the sending thread
// woke. Tests give one that places sends at frames of their choosing.
class FrameClock {
public:
    virtual ~FrameClock() = default;
    // Called on the sending thread at each send, with the instant the message was due. settled
    // is given for the first send since the port last settled (after a file): when that settle
    // returned. Such a send's gap from the one before counts from then, not from its due.
    virtual jack_nframes_t frameOf(jack_client_t* client, timing::Clock::TimePoint due,
        std::optional<timing::Clock::TimePoint> settled)
        = 0;
};

// The frames of a run of sends follow their due instants exactly, counted from the run's first,
// which the server's own estimate of its frame counter places. A server whose counter runs ahead
// of that schedule by more than the latency (a clock that drifts, a jump after a stall) moves the
// schedule on to it: messages then go later, never sooner. One that falls behind (a slow or
// overloaded one) keeps the schedule: messages are never brought closer together than their
// delays, nor the first of a run closer to the last of the one before than it was due after the
// settle between them.
std::shared_ptr<FrameClock> serverClock();

// A client of the running JACK server, or why there is none. Never starts a server. Waits
// for the server as long as it takes: Client::open runs it where it can give up on it. Every call
// of the client's own that waits on the server (making and connecting its port, closing) waits up
// to limit; after one that did not come back, the client's problem() says so.
morvex::Result<std::unique_ptr<Client>> openOutputClient(const std::string& name,
    std::shared_ptr<FrameClock> clock = serverClock(),
    std::chrono::milliseconds limit = DefaultServiceLimit);

// Why calls waits for nothing more, once it gave up on a call: which server does not answer, or
// that JACK's client registry is locked, and what a person can do about it.
std::string notAnswering(const ServiceThread& calls);

} // namespace midi::jack
