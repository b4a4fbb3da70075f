#pragma once

#include "Monitor/Input.h"

#include <memory>
#include <string>

namespace midi::jack {

// Opens client clientName with one MIDI input port portName on the running JACK server, or
// returns null with why in error. prettyName, when not empty, is what senders list it as.
std::unique_ptr<Input> openInput(const std::string& clientName, const std::string& portName,
    const std::string& prettyName, std::string& error);

} // namespace midi::jack
