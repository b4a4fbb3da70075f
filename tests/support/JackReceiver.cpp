#include "support/JackReceiver.h"

#include "Monitor/JackInput.h"
#include "support/ChildProcess.h"

#include <stdexcept>

namespace testsupport {

JackReceiver::JackReceiver(const std::string& clientName, const std::string& portName)
{
    std::string error;
    mInput = midi::jack::openInput(clientName, portName, error);
    if (!mInput)
        throw std::runtime_error(error);
}

const std::vector<midi::Received>& JackReceiver::waitFor(
    std::size_t count, std::chrono::milliseconds timeout)
{
    waitUntil(
        timeout,
        [&] {
            mInput->take(mReceived);
            return mReceived.size() >= count;
        },
        std::chrono::milliseconds(1));
    return mReceived;
}

} // namespace testsupport
