#include "_Controller.h"

#include "DeviceChoice.h"
#include "FileList.h"
#include "MiddleCutLabel.h"
#include "ProgressSheet.h"
#include "Transfer/Transfer.h"
#include "TransferRunner.h"
#include "UiQueue.h"
#include "WindowDefinition.h"
#include "WindowSheet.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

namespace {

// Stands in for an output port that could not be made: every message fails with the reason.
class MissingPort final : public midi::OutputPort {
public:
    explicit MissingPort(std::string reason)
        : mReason(std::move(reason))
    {
    }

    midi::SendResult send(std::size_t, std::span<const std::uint8_t>, timing::Clock&) override
    {
        return { midi::SendError::NotConnected, 0, mReason };
    }

private:
    std::string mReason;
};

} // namespace

morvex::Result<std::unique_ptr<_Controller>> _Controller::open(OpenClient openClient)
{
    morvex::Result<std::unique_ptr<UiQueue>> queue = UiQueue::open();
    if (!queue)
        return morvex::Failure { queue.reason() };
    return std::make_unique<_Controller>(Key(), queue.take(), std::move(openClient));
}

_Controller::_Controller(Key, std::unique_ptr<UiQueue> queue, OpenClient openClient)
    : mWindowDefinition(std::make_unique<WindowDefinition>())
    , mUiQueue(std::move(queue))
    , mRunner(std::make_unique<TransferRunner>())
    , mConnection(std::make_unique<MidiConnection>(std::move(openClient), *mUiQueue))
{
    const WindowDefinition::Outlets& window = mWindowDefinition->outlets();
    mQuitMenuItem = window.mQuitMenuItem;
    mSelectMenuItem = window.mSelectMenuItem;
    mIdentifyMenuItem = window.mIdentifyMenuItem;
    mPaceMenu = window.mPaceMenu;
    mMainWindow = window.mMainWindow;
    mDevicePopUpButton = window.mDevicePopUpButton;
    mSendButton = window.mSendButton;
    mProgressWindow = window.mProgressWindow;
    mStatusTextField = window.mStatusTextField;
    mFileTextField = window.mFileTextField;
    mProgressIndicator = window.mProgressIndicator;
    mPercentTextField = window.mPercentTextField;
    mRemainingTextField = window.mRemainingTextField;
    mPaceTextField = window.mPaceTextField;

    mDevices = std::make_unique<DeviceChoice>(
        DeviceChoice::Elements {
            mDevicePopUpButton, mIdentifyMenuItem, window.mPaceMenuItems, mMainWindow },
        *mConnection, *mRunner, *mUiQueue);
    mFiles = std::make_unique<FileList>(
        FileList::Elements { mMainWindow, window.mFolderTextField, window.mTableView,
            window.mSummaryTextField, mSelectMenuItem },
        *mDevices, *mUiQueue);
    mSheet = std::make_unique<WindowSheet>(*mUiQueue,
        WindowSheet::Elements { mMainWindow, [this] { return mFiles->folder(); },
            mDevicePopUpButton, mStatusTextField, mFileTextField, mProgressIndicator,
            mPercentTextField, mRemainingTextField },
        [this] { cancel2(); });

    connect(window.mAboutMenuItem, &QAction::triggered, this, [this] {
        mWindowDefinition->about(QString::fromStdString(
            mConnection->client() ? mConnection->client()->serviceName() : "none"));
    });
    connect(mSelectMenuItem, &QAction::triggered, this, [this] { select(mSelectMenuItem); });
    connect(
        mDevicePopUpButton, &QComboBox::activated, this, [this] { device(mDevicePopUpButton); });
    connect(mSendButton, &QPushButton::clicked, this, [this] { send(mSendButton); });
    connect(window.mCancelButton, &QPushButton::clicked, this,
        [this, button = window.mCancelButton] { cancel(button); });
    connect(mProgressWindow, &ProgressSheet::cancelRequested, this,
        [this] { cancel(mProgressWindow); });

    connect(mConnection.get(), &MidiConnection::connected, this, [this](bool fresh) {
        mDevices->connected(fresh);
        showProblems();
    });
    connect(mDevices.get(), &DeviceChoice::changed, this, [this] { device(mDevicePopUpButton); });
    connect(mDevices.get(), &DeviceChoice::paceChosen, this, &_Controller::showSummary);
    connect(
        mDevices.get(), &DeviceChoice::asking, this, [this] { mSendButton->setEnabled(false); });
    connect(mFiles.get(), &FileList::chosen, this, &_Controller::controlSend);
    connect(mFiles.get(), &FileList::problemChanged, this, &_Controller::showProblems);
}

// Should the application go without its quit notification, the transfer still ends first.
_Controller::~_Controller()
{
    joinTransfer();
    mUiQueue->close();
}

void _Controller::applicationWillFinishLaunching()
{
    mRunner->open();
    scanDirectory(WindowDefinition::startFolder());
    mWindowDefinition->launch();
    // The MIDI service is opened on a thread of its own: the window paints and answers at once,
    // whatever the service does, and the pop-up says that it is connecting meanwhile.
    mDevices->showConnecting();
    mConnection->open();
    // The Send button keeps the window definition's state until the user first acts.
}

void _Controller::applicationWillTerminate()
{
    joinTransfer();
    // The connection's calls to the service are bounded: it ends, though not always within the
    // second that the program gives its quit.
    mUiQueue->close();
    mConnection->close();
    mRunner->close();
}

void _Controller::device(QObject*)
{
    controlSend();
    showSummary();
}

void _Controller::select(QObject*)
{
    mFiles->choose();
}

void _Controller::scanDirectory(const QString& path)
{
    mFiles->scan(path);
}

void _Controller::send(QObject*)
{
    mSendButton->setEnabled(false);
    mIdentifyMenuItem->setEnabled(false);
    if (!mRunner->take())
        return;
    mQuitAction = mQuitMenuItem->isEnabled();
    mQuitMenuItem->setEnabled(false);
    mSelectAction = mSelectMenuItem->isEnabled();
    mSelectMenuItem->setEnabled(false);
    mPaceAction = mPaceMenu->isEnabled();
    mPaceMenu->setEnabled(false);
    mTransferSlower = mDevices->slower();
    mPaceTextField->setText(
        tr("%1× slower than the files say").arg(QLocale().toString(mTransferSlower)));
    mPaceTextField->setVisible(mTransferSlower > transfer::Factor_LeastSlower);
    mDevices->freeze();
    mRunner->clearCancel();
    mStatusTextField->clear();
    mFileTextField->setWholeText({});
    // A range of 0 to 0 is the busy display, animated for as long as it stands.
    mProgressIndicator->setRange(0, 0);
    mProgressIndicator->reset();
    mPercentTextField->clear();
    mRemainingTextField->clear();
    mProgressWindow->open();
    mRunner->start([this] { thread(); });
}

void _Controller::controlSend()
{
    const int s = mDevicePopUpButton->currentIndex();
    const std::size_t c = mFiles->names().size();
    mSendButton->setEnabled(s != 0 && c != 0);
    mDevices->enableIdentify(mProgressWindow->isVisible());
}

void _Controller::cancel(QObject*)
{
    mRunner->cancel();
}

// On the transfer thread, as its last step. Only the lock is released here; the rest is posted
// in order to the UI thread, and nothing waits for it, so that from the release on this thread
// waits for nothing and the next send or the quit can join it. Ending the sheet closes it.
void _Controller::cancel2()
{
    mUiQueue->post([this] { mProgressWindow->done(0); });
    mUiQueue->post([this] { mQuitMenuItem->setEnabled(mQuitAction); });
    mUiQueue->post([this] { mSelectMenuItem->setEnabled(mSelectAction); });
    mUiQueue->post([this] { mPaceMenu->setEnabled(mPaceAction); });
    mRunner->release();
    // Its reads of the pop-up and the file list happen on the UI thread, where they are current.
    mUiQueue->post([this] { controlSend(); });
    // The transfer has let go of the destinations: what changed meanwhile is listed now.
    mUiQueue->post([this] { mDevices->thaw(); });
}

// On the transfer thread. The file list and the destinations do not change while the sheet is up.
void _Controller::thread()
{
    MissingPort missing(mConnection->problem().toStdString());
    midi::Client& client = *mConnection->client();
    transfer::Transfer transfer(*mSheet,
        mConnection->port() ? *mConnection->port() : static_cast<midi::OutputPort&>(missing),
        mRunner->clock(), mFiles->names(), client.destinations(), mRunner->cancelled(),
        mTransferSlower, [&client](std::size_t destination) { return client.listen(destination); });
    // The user has seen the outcome in the alert; the window keeps nothing of it.
    [[maybe_unused]] const transfer::Outcome outcome = transfer.run();
}

void _Controller::quitNow()
{
    stopTransfer();
    QCoreApplication::exit(0);
}

void _Controller::stopTransfer()
{
    if (mRunner->stop())
        mSheet->dismiss();
}

// At quit the event loop no longer answers the transfer's waits: closing the queue sets them
// free, the stop cuts the sleeps short, and the thread runs to its end without the window.
void _Controller::joinTransfer()
{
    if (!mRunner->stop())
        return;
    mSheet->dismiss();
    mUiQueue->close();
    mRunner->join();
}

void _Controller::showProblems()
{
    mWindowDefinition->showProblems(mConnection->problem(), mFiles->problem());
}

void _Controller::showSummary()
{
    mFiles->showSummary();
}
