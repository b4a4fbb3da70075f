#pragma once

#include "Monitor/Input.h"

#include <memory>
#include <string>

namespace midi::jack {

// Opens client clientName with one MIDI input port portName on the running JACK server, or
// returns null with why in error. Senders list it by JACK's own name, "clientName:portName".
std::unique_ptr<Input> openInput(
    const std::string& clientName, const std::string& portName, std::string& error);

} // namespace midi::jack
