#pragma once

#include "MIDI/Midi.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class UiQueue;

// The window's MIDI client "Morvex" and its output port "Morvex Output Port", opened on a thread
// of their own and taken up on the UI thread: every call of that thread to the service is
// bounded, yet the UI thread never waits on one, and the window paints and answers meanwhile.
class MidiConnection : public QObject {
    Q_OBJECT

public:
    // How to open the MIDI client: midi::Client::open in the application, a stand-in in tests.
    using OpenClient = std::function<std::unique_ptr<midi::Client>(const std::string& name)>;

    MidiConnection(OpenClient openClient, UiQueue& queue);
    // Waits for the connection thread, whose calls to the service are bounded.
    ~MidiConnection() override;

    // UI thread, at launch: opens the client, then its port.
    void open();
    // UI thread: a service that answered late gets its port, made as at launch; false when
    // there is nothing to make or it is under way.
    bool openPort();
    // UI thread, at quit, once nothing sends: the port goes, then the client.
    void close();

    // Null until connected() has been told.
    midi::Client* client() const { return mClient.get(); }
    midi::OutputPort* port() const { return mPort.get(); }
    // Whether the connection thread has yet to be taken up.
    bool connecting() const { return mThread.joinable(); }
    // What went wrong with the MIDI service; empty when nothing did.
    const QString& problem() const { return mProblem; }

signals:
    // UI thread: the connection thread is done; fresh says that the client is new, with its
    // destinations listed, and not only a port made for the client there was.
    void connected(bool fresh);
    // UI thread: the service says that a destination came or went.
    void destinationsChanged();

private:
    // What the connection thread made, for the UI thread to take up.
    struct Opened {
        std::unique_ptr<midi::Client> client; // null when the window has its client already
        midi::PortResult port { nullptr };
    };
    void run(midi::Client* client);
    void takeUp(Opened opened);

    OpenClient mOpenClient;
    UiQueue& mQueue;
    // The port belongs to the client and must go first: declared after it, destroyed before it.
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
    QString mProblem;
    // Joined by the UI thread once it has posted what it made, or at quit.
    std::thread mThread;
};
