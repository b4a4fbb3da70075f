#pragma once

#include "Monitor/Input.h"
#include "Result/Result.h"

#include <memory>
#include <string>

namespace midi::jack {

// Opens client clientName with one MIDI input port portName on the running JACK server, or says
// why it cannot. Senders list it by JACK's own name, "clientName:portName".
// With answerName, the client has a MIDI output port of that name too, which answer() writes to:
// the one output of the client, which a sender takes for the way back of the input.
morvex::Result<std::unique_ptr<Input>> openInput(
    const std::string& clientName, const std::string& portName, const std::string& answerName = {});

} // namespace midi::jack
