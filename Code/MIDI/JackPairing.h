#pragma once

#include <string>
#include <vector>

namespace midi::jack {

// A MIDI port as the pairing sees it.
struct PortFacts {
    std::string name; // JACK's "client:port"
    std::vector<std::string> aliases;
    bool physical = false;
};

// The port by which the device behind destination (a MIDI input port) talks back, among outputs
// (the server's MIDI output ports, none of them Morvex's own): empty where no pairing is certain.
// A physical port pairs with the physical output whose name, or one of whose aliases, is its own
// with "playback" read as "capture" (JACK's system:midi_playback_3 and system:midi_capture_3, or
// the card's port named in the aliases); a program's port with the one MIDI output of its client.
// Two candidates are as good as none.
std::string pairedCapture(const PortFacts& destination, const std::vector<PortFacts>& outputs);

} // namespace midi::jack
