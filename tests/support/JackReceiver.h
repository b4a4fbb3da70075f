#pragma once

#include "Monitor/Input.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A JACK client that receives, for tests that need a destination: client clientName with one
// MIDI input port portName, listed by senders as "clientName:portName". Keeps every whole message
// with its arrival: JACK's clock in microseconds, and its own frame (its cycle's first frame plus
// its offset). Throws std::runtime_error when it cannot open.
class JackReceiver {
public:
    JackReceiver(const std::string& clientName, const std::string& portName);

    // Waits until at least count messages have arrived in all, or timeout has passed; returns
    // everything received so far, oldest first.
    const std::vector<midi::Received>& waitFor(
        std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    std::unique_ptr<midi::Input> mInput;
    std::vector<midi::Received> mReceived;
};

} // namespace testsupport
