#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM, read on the UI thread from a signalfd, so that an interrupted or terminated
// Morvex quits through its event loop as Quit does, and a running transfer is stopped and joined
// before the MIDI port and client go. No handler runs in signal context and nothing is global.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    // Call before any other thread exists: the threads made later inherit the blocked mask, so
    // the two signals stay pending for the signalfd instead of killing the process.
    static void block();

    // Watches for the two signals on the calling thread's event loop; with no signalfd (the kernel
    // refused one), error() says why and the signals keep their blocked state.
    explicit QuitSignals(QObject* parent);
    ~QuitSignals() override;

    const QString& error() const { return mError; }

signals:
    void received(int signal);

private:
    void readSignal();

    int mDescriptor;
    QSocketNotifier* mNotifier = nullptr;
    QString mError;
};
