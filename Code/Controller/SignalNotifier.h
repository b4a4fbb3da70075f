#pragma once

#include "Process/QuitSignals.h"

#include <QObject>

class QSocketNotifier;

// Brings the signals that ask Morvex to end (SIGINT, SIGTERM, SIGHUP) to the UI thread's event
// loop, so that the application quits through it as Quit does and a running transfer is stopped
// and joined before the MIDI port and client go.
class SignalNotifier : public QObject {
    Q_OBJECT

public:
    SignalNotifier(process::QuitSignals quit, QObject* parent);

signals:
    void received(int signal);

private:
    process::QuitSignals mSignals;
    QSocketNotifier* mNotifier;
};
