#pragma once

#include "MIDI/Midi.h"
#include "ServiceThread.h"

#include <jack/jack.h>
#include <memory>
#include <string>

namespace midi::jack {

// Where the moment of a send falls on the server's frame counter. The output port places each
// message a fixed latency after it, so that messages arrive as far apart, in frames, as their
// sends were. Tests give one that sends at frames of their choosing.
class FrameClock {
public:
    virtual ~FrameClock() = default;
    // Called on the sending thread at each send; restart is true for the first send since the
    // port last settled (after a file), whose gap from the one before does not matter.
    virtual jack_nframes_t now(jack_client_t* client, bool restart) = 0;
};

// The server's own estimate of its frame counter now, held to advance no more slowly than the
// system clock from one send to the next until a restart: a server that falls behind (a slow or
// overloaded one) must not bring messages closer together than they were sent.
std::shared_ptr<FrameClock> serverClock();

// A client of the running JACK server, or null with why in error. Never starts a server. Waits
// for the server as long as it takes: Client::open runs it where it can give up on it. Every call
// of the client's own that waits on the server (making and connecting its port, closing) waits up
// to limit; after one that did not come back, the client's problem() says so.
std::unique_ptr<Client> openOutputClient(const std::string& name, std::string& error,
    std::shared_ptr<FrameClock> clock = serverClock(),
    std::chrono::milliseconds limit = DefaultServiceLimit);

// Why calls waits for nothing more, once it gave up on a call: which server does not answer, or
// that JACK's client registry is locked, and what a person can do about it.
std::string notAnswering(const ServiceThread& calls);

} // namespace midi::jack
