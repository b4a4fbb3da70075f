#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <cstddef>
#include <optional>

class MidiConnection;
class QAction;
class QActionGroup;
class QComboBox;
class QWidget;
class TransferRunner;
class UiQueue;
namespace midi {
struct Destination;
}

// Where the update goes and how fast: the device pop-up, which follows the MIDI service's
// destinations as they come and go, the Pace menu, and Device ▸ Identify Device, which asks the
// chosen device who it is. UI thread only.
class DeviceChoice : public QObject {
    Q_OBJECT

public:
    struct Elements {
        QComboBox* popUp; // entry 0 no device, entry 1 a separator, entry k destination k - 2
        QAction* identifyItem;
        // The Pace menu's items, in the order of PaceFactors.
        std::array<QAction*, 4> paceItems;
        QWidget* alertParent;
    };

    DeviceChoice(const Elements& elements, MidiConnection& connection, TransferRunner& runner,
        UiQueue& queue);

    // The destination that pop-up entry stands for: entry k stands for destination k - 2, behind
    // the no-device entry and the separator.
    static std::optional<std::size_t> destinationOf(int entry);
    // The chosen destination's index, when one is chosen and listed.
    std::optional<std::size_t> chosen() const;
    // The chosen destination's wire speed; 0 when none is chosen.
    double bytesPerSecond() const;
    // How many times slower than the files say the Pace menu asks the next update to go.
    double slower() const;

    // Launch: entry 0 says that the service is being connected to until connected() is told.
    void showConnecting();
    // The MIDI connection is done: a fresh client's destinations are listed, and entry 0 names
    // a service that did not answer until it does.
    void connected(bool fresh);
    // While frozen (an update or a question runs) the list stays as it is; a change meanwhile
    // is listed at the thaw.
    void freeze() { mFrozen = true; }
    void thaw();
    // Identify Device is enabled when a destination that can answer is chosen, the port is made
    // and no update runs (sheetUp).
    void enableIdentify(bool sheetUp);
    // Asks the chosen device who it is, on the transfer's thread and under its send lock, and
    // shows what it answered.
    void identify();

signals:
    // The choice of destination may have changed: Send is to be judged and the summary shown.
    void changed();
    void paceChosen();
    // A question to the device takes the send lock: Send is to be disabled.
    void asking();

private:
    // The MIDI service says a destination came or went. The pop-up is listed anew, keeping the
    // chosen destination while it exists.
    void destinationsChanged();
    // A pop-up entry for destination, its tooltip saying when it cannot answer.
    void addDestination(const midi::Destination& destination);

    const Elements mElements;
    MidiConnection& mConnection;
    TransferRunner& mRunner;
    UiQueue& mQueue;
    // Keeps one pace checked; the choice lasts while the window is open and is never stored.
    QActionGroup* mPaceGroup;
    QString mNoDevice; // entry 0's own text, which says what the service does meanwhile
    bool mFrozen = false;
    bool mChanged = false; // a change told while frozen or before the client came, to list
};
