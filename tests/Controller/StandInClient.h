#pragma once

#include "_Controller.h"

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A MIDI service with a fixed list of destinations that writes down, in order, what was opened
// and closed, so that a test can see the order of start-up and shutdown.
using MidiLog = std::vector<std::string>;

class StandInPort : public midi::OutputPort {
public:
    explicit StandInPort(std::shared_ptr<MidiLog> log)
        : mLog(std::move(log))
    {
    }
    ~StandInPort() override { mLog->push_back("port closed"); }

    midi::SendResult send(std::size_t, std::span<const std::uint8_t> message) override
    {
        return { midi::SendError::None, static_cast<std::uint32_t>(message.size()), {} };
    }

private:
    std::shared_ptr<MidiLog> mLog;
};

class StandInClient : public midi::Client {
public:
    StandInClient(const std::vector<std::string>& names, std::shared_ptr<MidiLog> log)
        : mLog(std::move(log))
    {
        for (const std::string& name : names)
            mDestinations.push_back({ name });
    }
    ~StandInClient() override { mLog->push_back("client closed"); }

    std::string serviceName() const override { return "stand-in"; }
    std::string problem() const override { return {}; }
    const std::vector<midi::Destination>& destinations() const override { return mDestinations; }

    midi::PortResult createOutputPort(const std::string& name) override
    {
        mLog->push_back("port opened: " + name);
        return { std::make_unique<StandInPort>(mLog), {} };
    }

private:
    std::shared_ptr<MidiLog> mLog;
    std::vector<midi::Destination> mDestinations;
};

inline _Controller::OpenClient standInService(
    std::vector<std::string> names, std::shared_ptr<MidiLog> log = std::make_shared<MidiLog>())
{
    return [names = std::move(names), log](const std::string& name) {
        log->push_back("client opened: " + name);
        return std::make_unique<StandInClient>(names, log);
    };
}

} // namespace testsupport
