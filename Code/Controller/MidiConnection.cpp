#include "MidiConnection.h"

#include "UiQueue.h"

MidiConnection::MidiConnection(OpenClient openClient, UiQueue& queue)
    : mOpenClient(std::move(openClient))
    , mQueue(queue)
{
}

MidiConnection::~MidiConnection()
{
    if (mThread.joinable())
        mThread.join();
}

void MidiConnection::open()
{
    mThread = std::thread([this] { run(nullptr); });
}

bool MidiConnection::openPort()
{
    if (mPort || mThread.joinable() || !mClient || !mClient->problem().empty())
        return false;
    mThread = std::thread([this, client = mClient.get()] { run(client); });
    return true;
}

// On the connection thread: client is the one there is, or null to open one.
void MidiConnection::run(midi::Client* client)
{
    auto opened = std::make_shared<Opened>();
    if (!client) {
        opened->client = mOpenClient("Morvex");
        client = opened->client.get();
    }
    opened->port = client->createOutputPort("Morvex Output Port");
    mQueue.post([this, opened] { takeUp(std::move(*opened)); });
}

// UI thread: what the connection thread made is taken up, then the thread is joined, which no
// longer waits for anything.
void MidiConnection::takeUp(Opened opened)
{
    if (mThread.joinable())
        mThread.join();
    const bool fresh = !mClient;
    if (fresh) {
        mClient = std::move(opened.client);
        // Told on a thread of the service's; the pop-up is the UI thread's.
        mClient->watchDestinations([this] { mQueue.post([this] { emit destinationsChanged(); }); });
        // A service that answered after the thread gave up on it is listed only from now on.
        mClient->refreshDestinations();
    }
    mPort = opened.port ? opened.port.take() : nullptr;
    mProblem = QString::fromStdString(mPort ? mClient->problem() : opened.port.reason());
    emit connected(fresh);
}

void MidiConnection::close()
{
    if (mThread.joinable())
        mThread.join();
    mPort.reset();
    mClient.reset();
}
