#include "Transfer/Identify.h"

#include "Listening.h"

#include <algorithm>
#include <array>

namespace transfer {

namespace {

// Once a device has answered, how long others have to answer too.
constexpr std::chrono::milliseconds OthersAnswer { 250 };

} // namespace

Identified identify(
    midi::OutputPort& port, midi::WayBack& wayBack, std::size_t destination, timing::Clock& clock)
{
    static constexpr std::array<std::uint8_t, 6> Request { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    std::vector<std::vector<std::uint8_t>> arrived;
    wayBack.take(arrived); // what came before the question answers nothing
    arrived.clear();
    Identified identified;
    if (const midi::SendResult sent = port.send(destination, Request, clock); !sent.ok()) {
        identified.error = sent.reason;
        return identified;
    }
    (void)port.settle();
    const auto limit = clock.now() + std::chrono::microseconds(Time_IdentifyLimit);
    auto until = limit;
    while (clock.now() < until) {
        if (!awaitWord(wayBack, clock, until, nullptr, arrived)) {
            identified.stopped = true;
            break;
        }
        for (const auto& reply : arrived)
            if (auto identity = identityOf(reply)) {
                identified.identities.push_back(std::move(*identity));
                until = std::min(limit, clock.now() + OthersAnswer);
            }
        arrived.clear();
    }
    return identified;
}

std::string identifiedText(const Identified& identified)
{
    if (!identified.error.empty())
        return identified.error;
    if (identified.identities.empty())
        return "No answer within 2 s. Many devices do not answer while they wait for an update.";
    std::string text;
    for (const Identity& identity : identified.identities) {
        if (!text.empty())
            text += '\n';
        text += identityText(identity);
    }
    return text;
}

} // namespace transfer
