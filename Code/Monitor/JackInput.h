#pragma once

#include "Monitor/Input.h"

#include <memory>
#include <string>

namespace midi::jack {

// Opens client clientName with one MIDI input port portName on the running JACK server, or
// returns null with why in error. Senders list it by JACK's own name, "clientName:portName".
// With answerName, the client has a MIDI output port of that name too, which answer() writes to:
// the one output of the client, which a sender takes for the way back of the input.
std::unique_ptr<Input> openInput(const std::string& clientName, const std::string& portName,
    std::string& error, const std::string& answerName = {});

} // namespace midi::jack
