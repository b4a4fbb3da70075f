#pragma once

#include "MIDI/Midi.h"

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

// A client of the running JACK server, or null with why in error. Never starts a server.
std::unique_ptr<Client> openOutputClient(
    const std::string& name, std::string& error, std::shared_ptr<FrameClock> clock = serverClock());

} // namespace midi::jack
