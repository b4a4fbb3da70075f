#pragma once

#include "MIDI/Midi.h"
#include "Timing/Clock.h"
#include "Transfer/Heard.h"

#include <cstddef>
#include <string>
#include <vector>

namespace transfer {

// How long a device has to answer an Identity Request.
constexpr std::uint32_t Time_IdentifyLimit = 2'000'000;

struct [[nodiscard]] Identified {
    std::vector<Identity> identities; // each Identity Reply, in arrival order
    std::string error; // why the request could not be sent; empty when it was
    bool stopped = false; // a stop request ended the wait
};

// Asks destination who it is, on this explicit request only: sends the Identity Request
// F0 7E 7F 06 01 F7 and keeps each Identity Reply that comes by its way back within
// Time_IdentifyLimit (and no later than a quarter second after the last one, so that one device
// is not waited for in vain); other replies are passed over.
Identified identify(
    midi::OutputPort& port, midi::WayBack& wayBack, std::size_t destination, timing::Clock& clock);

// One line per reply, or "No answer within 2 s. Many devices do not answer while they wait for
// an update.", or why it could not ask.
std::string identifiedText(const Identified& identified);

} // namespace transfer
