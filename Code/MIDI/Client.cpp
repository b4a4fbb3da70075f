#include "Alsa.h"
#include "Jack.h"
#include "MIDI/Midi.h"

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
    void watchDestinations(std::function<void()>) override { }
    void refreshDestinations() override { }
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
    return alsa::openClient(std::move(sequencer));
}

} // namespace

ServiceChoice chooseServices(const std::string& named)
{
    const char* environment = std::getenv("MORVEX_MIDI");
    const std::string choice = !named.empty() ? named : environment ? environment : "";
    if (choice.empty())
        return { { Service::Alsa, Service::Jack }, {} };
    if (choice == "alsa")
        return { { Service::Alsa }, {} };
    if (choice == "jack")
        return { { Service::Jack }, {} };
    return { {},
        (named.empty() ? "MORVEX_MIDI" : "The MIDI service") + std::string(" is \"") + choice
            + "\"; it can only be \"alsa\" or \"jack\"." };
}

std::unique_ptr<Client> Client::open(const std::string& name)
{
    const ServiceChoice choice = chooseServices();
    if (!choice.error.empty())
        return std::make_unique<NoService>(choice.error);
    std::string problems;
    for (const Service service : choice.order) {
        std::string error;
        auto client = service == Service::Alsa ? openAlsa(name, error)
                                               : jack::openOutputClient(name, error);
        if (client)
            return client;
        problems += (problems.empty() ? "" : " ") + error;
    }
    return std::make_unique<NoService>("No MIDI service is available. " + problems);
}

} // namespace midi
