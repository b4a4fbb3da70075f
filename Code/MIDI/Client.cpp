#include "Alsa.h"
#include "Jack.h"
#include "MIDI/Midi.h"
#include "ServiceThread.h"
#include "Text/Printable.h"

#include <cstdlib>
#include <mutex>

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
    PortResult createOutputPort(const std::string&) override { return morvex::Failure { mProblem }; }

private:
    std::string mProblem;
    std::vector<Destination> mDestinations;
};

// What the thread that opens a client hands over, in time or late.
class Arrival {
public:
    // The opening thread, once the server has answered. Whoever watches is told under the lock,
    // so that once abandon() has returned nobody is.
    void deliver(morvex::Result<std::unique_ptr<Client>> opened)
    {
        const std::lock_guard lock(mMutex);
        if (mAbandoned)
            return; // nobody waits for it any more: it closes on the opening thread
        if (opened)
            mClient = opened.take();
        else
            mError = opened.reason();
        mArrived = true;
        if (mChanged) {
            if (mClient)
                mClient->watchDestinations(mChanged);
            mChanged();
        }
    }

    void watch(std::function<void()> changed)
    {
        const std::lock_guard lock(mMutex);
        mChanged = std::move(changed);
        if (mClient)
            mClient->watchDestinations(mChanged);
    }

    // What arrived so far: the client (null until it has, or on failure) and why not.
    std::pair<Client*, std::string> arrived() const
    {
        const std::lock_guard lock(mMutex);
        return { mClient.get(), mArrived && !mClient ? mError : std::string() };
    }

    bool hasArrived() const
    {
        const std::lock_guard lock(mMutex);
        return mArrived;
    }

    morvex::Result<std::unique_ptr<Client>> take()
    {
        const std::lock_guard lock(mMutex);
        if (!mClient)
            return morvex::Failure { mError };
        return std::move(mClient);
    }

    void abandon()
    {
        const std::lock_guard lock(mMutex);
        mAbandoned = true;
        mChanged = nullptr;
        if (mClient)
            mClient->watchDestinations({});
    }

private:
    mutable std::mutex mMutex;
    std::unique_ptr<Client> mClient; // guarded by mMutex until it has arrived, then never changes
    std::string mError; // guarded by mMutex
    bool mArrived = false; // guarded by mMutex
    bool mAbandoned = false; // guarded by mMutex
    std::function<void()> mChanged; // guarded by mMutex
};

// Stands for a client whose server did not answer in time. Should the server answer later, the
// client that arrived is taken up at the next refreshDestinations or createOutputPort, on the
// caller's thread, so that the list still changes only there.
class LateClient final : public Client {
public:
    LateClient(std::shared_ptr<Arrival> arrival, std::string problem)
        : mArrival(std::move(arrival))
        , mProblem(std::move(problem))
    {
    }

    // The client that arrived, if one has, goes with the last of this and the opening thread.
    ~LateClient() override { mArrival->abandon(); }
    LateClient(const LateClient&) = delete;
    LateClient& operator=(const LateClient&) = delete;

    std::string serviceName() const override { return mUsing ? mUsing->serviceName() : "none"; }
    std::string problem() const override
    {
        if (mUsing)
            return mUsing->problem();
        const std::string failed = mArrival->arrived().second;
        return failed.empty() ? mProblem : failed;
    }
    const std::vector<Destination>& destinations() const override
    {
        return mUsing ? mUsing->destinations() : mNone;
    }
    void watchDestinations(std::function<void()> changed) override
    {
        mArrival->watch(std::move(changed));
    }
    void refreshDestinations() override
    {
        if (takeUp())
            mUsing->refreshDestinations();
    }
    PortResult createOutputPort(const std::string& name) override
    {
        return takeUp() ? mUsing->createOutputPort(name) : morvex::Failure { problem() };
    }
    WayBackResult listen(std::size_t destination) override
    {
        return takeUp() ? mUsing->listen(destination) : noWayBack();
    }
    void close() override
    {
        if (mUsing)
            mUsing->close();
    }
    bool leftWaiting() const override
    {
        return mUsing ? mUsing->leftWaiting() : !mArrival->hasArrived();
    }

private:
    bool takeUp()
    {
        if (!mUsing)
            mUsing = mArrival->arrived().first;
        return mUsing != nullptr;
    }

    std::shared_ptr<Arrival> mArrival;
    std::string mProblem;
    Client* mUsing = nullptr; // the client that arrived, once taken up; owned by mArrival
    std::vector<Destination> mNone;
};

morvex::Result<std::unique_ptr<Client>> openJack(
    const std::string& name, std::chrono::milliseconds limit)
{
    auto arrival = std::make_shared<Arrival>();
    ServiceThread opening(limit);
    const std::optional<bool> answered = opening.call<bool>([arrival, name, limit] {
        arrival->deliver(jack::openOutputClient(name, jack::serverClock(), limit));
        return true;
    });
    if (!answered)
        return std::unique_ptr<Client>(
            std::make_unique<LateClient>(arrival, jack::notAnswering(opening)));
    return arrival->take();
}

morvex::Result<std::unique_ptr<Client>> openAlsa(const std::string& name)
{
    morvex::Result<std::unique_ptr<alsa::Sequencer>> sequencer = alsa::openSequencer(name);
    if (!sequencer)
        return morvex::Failure { sequencer.reason() };
    return alsa::openClient(sequencer.take());
}

} // namespace

std::string sharedReason(const std::string& destination, const std::vector<std::string>& others,
    const std::string& bytesWentOut)
{
    return "Sending to " + text::quoted(destination) + " stopped: " + text::quotedList(others)
        + " began to send to it too, and " + (others.size() == 1 ? "its" : "their")
        + " messages would be mixed into the update"
        + (bytesWentOut.empty() ? "" : " (" + bytesWentOut + ")") + ".";
}

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

std::unique_ptr<Client> Client::open(const std::string& name, std::chrono::milliseconds limit)
{
    const ServiceChoice choice = chooseServices();
    if (!choice.error.empty())
        return std::make_unique<NoService>(choice.error);
    std::string problems;
    for (const Service service : choice.order) {
        // The ALSA sequencer is the kernel's: opening it waits on no other process.
        auto client = service == Service::Alsa ? openAlsa(name) : openJack(name, limit);
        if (client)
            return client.take();
        problems += (problems.empty() ? "" : " ") + client.reason();
    }
    return std::make_unique<NoService>("No MIDI service is available. " + problems);
}

} // namespace midi
