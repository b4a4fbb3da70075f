#pragma once

#include "Controller/_Controller.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// What a stand-in MIDI service saw, and what it does on demand.
struct StandInScript {
    std::vector<std::string> closed; // the port and the client, in the order they closed
    std::atomic<std::size_t> sends = 0; // counted by the transfer thread as the test's thread looks
    std::atomic<std::size_t> destination = SIZE_MAX; // the index the last send was given
    std::atomic<bool> holding = false; // while set, every send waits inside the port
    std::vector<std::string> others; // the other senders the port names; set while none sends
    std::atomic<bool> shared = false; // the port was told to share its destination
    // The destinations' names, listed when the client opens and at each refresh; and the
    // client's watch, which the test calls when it has changed them. Both on the UI thread.
    std::vector<std::string> names;
    std::function<void()> changed;

    void release()
    {
        holding = false;
        holding.notify_all();
    }
};

struct StandInPort : midi::OutputPort {
    std::shared_ptr<StandInScript> mScript;

    ~StandInPort() override { mScript->closed.push_back("port"); }
    midi::SendResult send(
        std::size_t destination, std::span<const std::uint8_t> message, timing::Clock&) override
    {
        mScript->destination = destination;
        ++mScript->sends;
        mScript->holding.wait(true);
        return { midi::SendError::None, static_cast<std::uint32_t>(message.size()), {} };
    }
    std::vector<std::string> otherSenders(std::size_t) override { return mScript->others; }
    void shareDestination() override { mScript->shared = true; }
};

// A MIDI service whose destinations are the script's names.
struct StandInClient : midi::Client {
    std::shared_ptr<StandInScript> mScript;
    std::vector<midi::Destination> mDestinations;

    explicit StandInClient(std::shared_ptr<StandInScript> script)
        : mScript(std::move(script))
    {
        refreshDestinations();
    }
    ~StandInClient() override { mScript->closed.push_back("client"); }
    std::string serviceName() const override { return "stand-in"; }
    std::string problem() const override { return {}; }
    const std::vector<midi::Destination>& destinations() const override { return mDestinations; }
    void watchDestinations(std::function<void()> changed) override
    {
        mScript->changed = std::move(changed);
    }
    void refreshDestinations() override
    {
        mDestinations.clear();
        for (const std::string& name : mScript->names)
            mDestinations.push_back({ name, name + std::to_string(mDestinations.size()) });
    }
    midi::PortResult createOutputPort(const std::string&) override
    {
        auto port = std::make_unique<StandInPort>();
        port->mScript = mScript;
        return std::unique_ptr<midi::OutputPort>(std::move(port));
    }
};

inline _Controller::OpenClient standInService(
    std::vector<std::string> names, std::shared_ptr<StandInScript> script)
{
    script->names = std::move(names);
    return [script = std::move(script)](
               const std::string&) { return std::make_unique<StandInClient>(script); };
}

} // namespace testsupport
