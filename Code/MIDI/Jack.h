#pragma once

#include "MIDI/Midi.h"

#include <memory>
#include <string>

namespace midi::jack {

// A client of the running JACK server, or null with why in error. Never starts a server.
std::unique_ptr<Client> openOutputClient(const std::string& name, std::string& error);

} // namespace midi::jack
