#pragma once

#include "MIDI/Midi.h"
#include "Timing/Clock.h"
#include "Transfer/Plan.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

class FileTableModel;
class MiddleCutLabel;
class PlanReader;
class ProgressSheet;
class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTableView;
class UiQueue;
class WindowSheet;

// The one controller of the application. It builds the window definition (main window, menus,
// progress sheet) and holds plain pointers to its elements; it is the target of the window's
// actions, the file table's data source and the progress sheet's delegate. Everything runs on
// the UI thread, except cancel2 and thread, which a transfer runs on its own thread.
class _Controller : public QObject {
    Q_OBJECT

public:
    // How to open the MIDI client: midi::Client::open in the application, a stand-in in tests.
    using OpenClient = std::function<std::unique_ptr<midi::Client>(const std::string& name)>;

    explicit _Controller(OpenClient openClient);
    ~_Controller() override;

    QMainWindow* mainWindow() const { return mMainWindow; }

    // Start-up, before the event loop runs, and shutdown, when it has ended. Shutdown stops a
    // running transfer at once and joins its thread before the port, the client and the lock go.
    void applicationWillFinishLaunching();
    void applicationWillTerminate();
    // The application is about to go (the session ends): a running transfer stops at once,
    // cutting its waits short and dismissing its alert or question, and ends as after a cancel.
    void stopTransfer();
    // A signal asks Morvex to end: it does, whatever it shows. Not QCoreApplication::quit(),
    // which the main window refuses while the progress sheet is up.
    void quitNow();

    // The About box: the version, the licence and the MIDI service in use. It changes nothing.
    void about();
    void device(QObject* sender);
    void select(QObject* sender);
    void scanDirectory(const QString& path);

    // The file table's data source: one row per listed file, and every column shows its name.
    int numberOfRowsInTableView() const;
    QString objectValueForTableColumn(int column, int row) const;
    // Why the file of row will not read whole, once the folder has been read; empty when it will.
    QString problemForRow(int row) const;

    void send(QObject* sender);
    // Send, and Device ▸ Identify Device: enabled when a destination that can answer is chosen
    // and no update or question runs.
    void controlSend();
    // Asks the chosen device who it is, on a thread of its own as a transfer runs, and shows
    // what it answered.
    void identify();
    void sheetDidEnd(int returnCode);
    void cancel(QObject* sender);
    void cancel2();
    // The body of a transfer. It hides QObject::thread(); write QObject::thread() for the QThread.
    void thread();

protected:
    // Keeps the main window open while the progress sheet covers it, and lists a folder dropped
    // on it, or the folder of a file dropped on it, as if chosen in the chooser.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the connection thread made, for the UI thread to take up.
    struct Opened {
        std::unique_ptr<midi::Client> client; // null when the window has its client already
        midi::PortResult port { nullptr };
    };
    void connected(Opened opened);
    void connectPort();
    void showProblems();
    void joinTransfer();
    bool dropFolder(QEvent* event);
    // UI thread: the MIDI service says a destination came or went. The pop-up is listed anew,
    // keeping the chosen destination while it exists, except during an update, when the list
    // stays as it is until the update has ended.
    void destinationsChanged();
    // UI thread: a transfer or a question has let go of the destinations; what changed meanwhile
    // is listed now.
    void thawDestinations();
    // The summary line: what the listed files hold and how long they take to the chosen
    // destination, once the plan has been read.
    void showSummary();
    double chosenBytesPerSecond() const;
    // The chosen destination's index, when one is chosen.
    std::optional<std::size_t> chosenDestination() const;
    // A pop-up entry for destination, its tooltip saying when it cannot answer.
    void addDestination(const midi::Destination& destination);
    // How many times slower than the files say the Pace menu asks the next update to go.
    double chosenSlower() const;

    // Owns every element below; created first so that it goes last.
    std::unique_ptr<QMainWindow> mWindowDefinition;

    QAction* mQuitMenuItem;
    QAction* mSelectMenuItem;
    QAction* mIdentifyMenuItem;
    QMenu* mPaceMenu;
    // The Pace menu's items, one checked, in the order of PaceFactors, and the group that keeps
    // one checked.
    std::array<QAction*, 4> mPaceMenuItems;
    QActionGroup* mPaceGroup;
    QMainWindow* mMainWindow;
    QComboBox*
        mDevicePopUpButton; // entry 0 no device, entry 1 a separator, entry k destination k-2
    QLineEdit* mFolderTextField; // the current folder, as text::printable shows it
    // The current folder's path as the file system takes it: the field shows it escaped.
    std::string mFolder;
    QTableView* mTableView;
    QLabel* mSummaryTextField; // under the table: files, messages, bytes and time
    // Names without folder, in table and sending order: bytes as the file system holds them, so
    // that a name that is not UTF-8 still opens.
    std::vector<std::string> mFileArray;
    QPushButton* mSendButton;
    ProgressSheet* mProgressWindow;
    QLabel* mStatusTextField;
    MiddleCutLabel* mFileTextField;
    QProgressBar* mProgressIndicator; // range 0..0 while it only shows that work goes on
    QLabel* mPercentTextField;
    QLabel* mRemainingTextField; // bytes sent of the total, and the time left
    QLabel* mPaceTextField; // shown only for a pace slower than the files say
    // The menu items' enabled states, saved while a transfer takes them away.
    bool mQuitAction = true;
    bool mSelectAction = true;
    bool mPaceAction = true;
    // The pace chosen when Send was pressed, for the transfer it started.
    double mTransferSlower = 1;
    // Held for the whole of a transfer: taken by send on the UI thread, released by cancel2 on
    // the transfer thread, hence a semaphore and not a mutex. Exists from launch to quit.
    std::unique_ptr<std::binary_semaphore> mSendLock;
    std::atomic<bool> mCancel { false };

    FileTableModel* mFileTableModel;
    OpenClient mOpenClient;
    // The port belongs to the client and must go first: declared after it, destroyed before it.
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort;
    // What went wrong with the MIDI service and with the last folder, shown in the status bar.
    QString mMidiProblem;
    QString mFolderProblem;

    // The transfer's way to the window, and its clock, fresh for each transfer so that a stop
    // ends only the transfer it was meant for.
    UiQueue* mUiQueue;
    // The listed files as the transfer will read them, read off the UI thread; empty until then.
    std::unique_ptr<PlanReader> mPlanReader;
    std::optional<transfer::Plan> mPlan;
    // Set by send, cleared by the end of the transfer on the UI thread: while set, the
    // destinations stay as listed; mDestinationsChanged notes a change to list afterwards.
    bool mDestinationsFrozen = false;
    bool mDestinationsChanged = false;
    std::unique_ptr<WindowSheet> mSheet;
    std::unique_ptr<timing::SteadyClock> mClock;
    // Joined by the next send, once the send lock shows that it waits for nothing more, or at quit.
    std::thread mTransferThread;
    // Opens the MIDI client and makes its port, then posts them to the UI thread, which joins it
    // there: every call of it to the service is bounded, yet the UI thread never waits on one.
    std::thread mConnectThread;
    QString mNoDevice; // entry 0's own text, which says what the service does meanwhile
};
