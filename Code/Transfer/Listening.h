#pragma once

#include "MIDI/Midi.h"
#include "Timing/Clock.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace transfer {

// Waits for the device to say something: until a message has arrived (appended to out), until
// has passed, or cancel (when given) is raised. Answers false only when a stop request ended the
// wait. The way back is looked at every few milliseconds: a reply waits no longer than that.
[[nodiscard]] bool awaitWord(midi::WayBack& wayBack, timing::Clock& clock,
    timing::Clock::TimePoint until, const std::atomic<bool>* cancel,
    std::vector<std::vector<std::uint8_t>>& out);

} // namespace transfer
