#include "MIDI/JackPairing.h"

#include <algorithm>

namespace midi::jack {

namespace {

// name with its last "playback" read as "capture"; empty when it has none.
std::string captureTwin(const std::string& name)
{
    const auto at = name.rfind("playback");
    if (at == std::string::npos)
        return {};
    return name.substr(0, at) + "capture" + name.substr(at + std::string("playback").size());
}

std::string clientOf(const std::string& name)
{
    return name.substr(0, name.find(':'));
}

bool twins(const PortFacts& destination, const PortFacts& output)
{
    if (!output.physical)
        return false;
    if (captureTwin(destination.name) == output.name)
        return true;
    for (const std::string& alias : destination.aliases) {
        const std::string twin = captureTwin(alias);
        if (!twin.empty() && std::ranges::find(output.aliases, twin) != output.aliases.end())
            return true;
    }
    return false;
}

} // namespace

std::string pairedCapture(const PortFacts& destination, const std::vector<PortFacts>& outputs)
{
    std::vector<const PortFacts*> found;
    for (const PortFacts& output : outputs)
        if (destination.physical
                ? twins(destination, output)
                : !output.physical && clientOf(output.name) == clientOf(destination.name))
            found.push_back(&output);
    return found.size() == 1 ? found.front()->name : std::string();
}

} // namespace midi::jack
