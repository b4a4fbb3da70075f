#include "Alsa.h"
#include "Jack.h"
#include "Midi.h"

#include <cstdlib>

namespace midi {

namespace {

// Stands in when the machine offers no MIDI service, so the rest of Morvex still works.
class NoService final : public Client {
public:
    explicit NoService(std::string problem)
        : mProblem(std::move(problem))
    {
    }

    std::string serviceName() const override { return "none"; }
    std::string problem() const override { return mProblem; }
    const std::vector<Destination>& destinations() const override { return mDestinations; }
    PortResult createOutputPort(const std::string&) override { return { nullptr, mProblem }; }

private:
    std::string mProblem;
    std::vector<Destination> mDestinations;
};

std::unique_ptr<Client> openAlsa(const std::string& name, std::string& error)
{
    auto sequencer = alsa::openSequencer(name, error);
    if (!sequencer)
        return nullptr;
    return alsa::openClient(std::move(sequencer), std::make_unique<SteadyClock>());
}

} // namespace

std::unique_ptr<Client> Client::open(const std::string& name)
{
    const char* forced = std::getenv("MORVEX_MIDI");
    const std::string choice = forced ? forced : "";
    if (!choice.empty() && choice != "alsa" && choice != "jack")
        return std::make_unique<NoService>(
            "MORVEX_MIDI is \"" + choice + "\"; it can only be \"alsa\" or \"jack\".");

    std::string alsaError;
    std::string jackError;
    if (choice != "jack")
        if (auto client = openAlsa(name, alsaError))
            return client;
    if (choice != "alsa")
        if (auto client = jack::openOutputClient(name, jackError))
            return client;
    return std::make_unique<NoService>("No MIDI service is available. "
        + (alsaError.empty() ? "" : alsaError + (jackError.empty() ? "" : " ")) + jackError);
}

} // namespace midi
