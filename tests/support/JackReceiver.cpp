#include "support/JackReceiver.h"

#include "JackInput.h"

#include <stdexcept>
#include <thread>

namespace testsupport {

JackReceiver::JackReceiver(
    const std::string& clientName, const std::string& portName, const std::string& prettyName)
{
    std::string error;
    // Always named: a name left in JACK's shared metadata by another run must not stick to us.
    mInput = midi::jack::openInput(
        clientName, portName, prettyName.empty() ? clientName + ":" + portName : prettyName, error);
    if (!mInput)
        throw std::runtime_error(error);
}

const std::vector<midi::Received>& JackReceiver::waitFor(
    std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    mInput->take(mReceived);
    while (mReceived.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        mInput->take(mReceived);
    }
    return mReceived;
}

} // namespace testsupport
