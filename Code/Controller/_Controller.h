#pragma once

#include "MidiConnection.h"
#include "Result/Result.h"

#include <QObject>
#include <QString>
#include <memory>

class DeviceChoice;
class FileList;
class MiddleCutLabel;
class ProgressSheet;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;
class TransferRunner;
class UiQueue;
class WindowDefinition;
class WindowSheet;

// The one controller of the application: the target of the window's actions, which starts and
// ends each transfer and hands the rest to the window's parts: the window definition, the MIDI
// connection, the device choice, the file list and the transfer runner. Everything runs on the
// UI thread, except cancel2 and thread, which a transfer runs on its own thread.
class _Controller : public QObject {
    Q_OBJECT
    // Only open() can name it, and so make a controller.
    struct Key {
        explicit Key() = default;
    };

public:
    using OpenClient = MidiConnection::OpenClient;

    // Builds the window; no window, and why, when the way from other threads to it cannot be
    // made.
    static morvex::Result<std::unique_ptr<_Controller>> open(OpenClient openClient);
    _Controller(Key, std::unique_ptr<UiQueue> queue, OpenClient openClient);
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

    void device(QObject* sender);
    void select(QObject* sender);
    void scanDirectory(const QString& path);

    void send(QObject* sender);
    // Send, and Device ▸ Identify Device: enabled when a destination is chosen (one that can
    // answer, for Identify) and no update or question runs.
    void controlSend();
    void cancel(QObject* sender);
    void cancel2();
    // The body of a transfer. It hides QObject::thread(); write QObject::thread() for the QThread.
    void thread();

private:
    void showProblems();
    void showSummary();
    void joinTransfer();

    // Owns every element below; created first so that it goes last.
    std::unique_ptr<WindowDefinition> mWindowDefinition;

    QAction* mQuitMenuItem;
    QAction* mSelectMenuItem;
    QAction* mIdentifyMenuItem;
    QMenu* mPaceMenu;
    QMainWindow* mMainWindow;
    QComboBox* mDevicePopUpButton;
    QPushButton* mSendButton;
    ProgressSheet* mProgressWindow;
    QLabel* mStatusTextField;
    MiddleCutLabel* mFileTextField;
    QProgressBar* mProgressIndicator;
    QLabel* mPercentTextField;
    QLabel* mRemainingTextField;
    QLabel* mPaceTextField;
    // The menu items' enabled states, saved while a transfer takes them away.
    bool mQuitAction = true;
    bool mSelectAction = true;
    bool mPaceAction = true;
    // The pace chosen when Send was pressed, for the transfer it started.
    double mTransferSlower = 1;

    // The transfer's way to the window, and that of every other thread of the window.
    std::unique_ptr<UiQueue> mUiQueue;
    std::unique_ptr<TransferRunner> mRunner;
    std::unique_ptr<MidiConnection> mConnection;
    std::unique_ptr<DeviceChoice> mDevices;
    std::unique_ptr<FileList> mFiles;
    std::unique_ptr<WindowSheet> mSheet;
};
