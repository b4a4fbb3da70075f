#pragma once

#include "_Controller.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A MIDI service with a fixed list of destinations that writes down, in order, what was opened
// and closed, so that a test can see the order of start-up and shutdown.
using MidiLog = std::vector<std::string>;

// What the stand-in port was given, and what it does on demand. The transfer thread sends while
// the test's thread looks, hence the mutex around everything.
class PortScript {
public:
    // Every send from now on waits inside the port until release().
    void hold()
    {
        const std::lock_guard lock(mMutex);
        mHolding = true;
    }
    void release()
    {
        {
            const std::lock_guard lock(mMutex);
            mHolding = false;
        }
        mChanged.notify_all();
    }
    // The send with this number (from 0) fails as if the destination had closed.
    void fail(std::size_t call)
    {
        const std::lock_guard lock(mMutex);
        mFailing.insert(call);
    }
    std::size_t calls() const
    {
        const std::lock_guard lock(mMutex);
        return mCalls;
    }
    std::vector<std::uint8_t> delivered() const
    {
        const std::lock_guard lock(mMutex);
        return mDelivered;
    }

    midi::SendResult send(std::span<const std::uint8_t> message)
    {
        std::unique_lock lock(mMutex);
        const bool fail = mFailing.count(mCalls++) > 0;
        mChanged.wait(lock, [this] { return !mHolding; });
        if (fail)
            return { midi::SendError::DestinationGone, 0, "The destination closed." };
        mDelivered.insert(mDelivered.end(), message.begin(), message.end());
        return { midi::SendError::None, static_cast<std::uint32_t>(message.size()), {} };
    }

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    bool mHolding = false;
    std::set<std::size_t> mFailing;
    std::size_t mCalls = 0;
    std::vector<std::uint8_t> mDelivered; // every byte delivered, in order
};

class StandInPort : public midi::OutputPort {
public:
    StandInPort(std::shared_ptr<MidiLog> log, std::shared_ptr<PortScript> script)
        : mLog(std::move(log))
        , mScript(std::move(script))
    {
    }
    ~StandInPort() override { mLog->push_back("port closed"); }

    midi::SendResult send(std::size_t, std::span<const std::uint8_t> message) override
    {
        return mScript->send(message);
    }

private:
    std::shared_ptr<MidiLog> mLog;
    std::shared_ptr<PortScript> mScript;
};

class StandInClient : public midi::Client {
public:
    StandInClient(const std::vector<std::string>& names, std::shared_ptr<MidiLog> log,
        std::shared_ptr<PortScript> script)
        : mLog(std::move(log))
        , mScript(std::move(script))
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
        return { std::make_unique<StandInPort>(mLog, mScript), {} };
    }

private:
    std::shared_ptr<MidiLog> mLog;
    std::shared_ptr<PortScript> mScript;
    std::vector<midi::Destination> mDestinations;
};

inline _Controller::OpenClient standInService(std::vector<std::string> names,
    std::shared_ptr<MidiLog> log = std::make_shared<MidiLog>(),
    std::shared_ptr<PortScript> script = std::make_shared<PortScript>())
{
    return [names = std::move(names), log, script](const std::string& name) {
        log->push_back("client opened: " + name);
        return std::make_unique<StandInClient>(names, log, script);
    };
}

} // namespace testsupport
