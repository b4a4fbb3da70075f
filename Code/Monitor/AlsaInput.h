#pragma once

#include "Monitor/Input.h"

#include <chrono>
#include <memory>
#include <string>

namespace monitor {

// An ALSA sequencer client clientName with one input port portName that any program may
// subscribe to; null with why in error when the machine has no sequencer. With slow, it takes
// that long over every event it reads, with the sequencer's default input queue, as a slow
// synthesizer program does; otherwise it reads at once from a queue ten times that size.
std::unique_ptr<midi::Input> openAlsaInput(const std::string& clientName,
    const std::string& portName, std::chrono::milliseconds slow, std::string& error);

} // namespace monitor
