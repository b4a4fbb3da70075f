#pragma once

#include "Monitor/Input.h"

#include <memory>
#include <string>

namespace monitor {

// An ALSA sequencer client clientName with one input port portName that any program may
// subscribe to; null with why in error when the machine has no sequencer.
std::unique_ptr<midi::Input> openAlsaInput(
    const std::string& clientName, const std::string& portName, std::string& error);

} // namespace monitor
