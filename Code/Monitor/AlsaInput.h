#pragma once

#include "Monitor/Input.h"
#include "Result/Result.h"

#include <chrono>
#include <memory>
#include <string>

namespace monitor {

// How the monitor's ALSA input behaves beyond its names.
struct AlsaInputOptions {
    // Taken over every event read, with the sequencer's default input queue, as a slow
    // synthesizer program does; 0 reads at once from a queue ten times that size.
    std::chrono::milliseconds slow { 0 };
    // The port can be read from too, as a USB device's is: answer() sends to whoever subscribed
    // to it, which is how a sender finds the way back of a destination.
    bool answers = false;
};

// An ALSA sequencer client clientName with one input port portName that any program may
// subscribe to; fails when the machine has no sequencer.
morvex::Result<std::unique_ptr<midi::Input>> openAlsaInput(
    const std::string& clientName, const std::string& portName, AlsaInputOptions options);

} // namespace monitor
