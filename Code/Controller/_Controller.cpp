#include "_Controller.h"

#include "FileTableModel.h"
#include "Folder.h"
#include "MiddleCutLabel.h"
#include "Morvex/Version.h"
#include "PlanReader.h"
#include "Text/Duration.h"
#include "ProgressSheet.h"
#include "Transfer/Identify.h"
#include "Transfer/Transfer.h"
#include "Transfer/UpdateFolder.h"
#include "UiQueue.h"
#include "WindowSheet.h"
#include "ui_MainWindow.h"
#include "ui_ProgressSheet.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>

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

// What the Pace menu's items ask for, in the menu's order: the first is the files' own pace.
constexpr std::array<double, 4> PaceFactors { 1, 1.5, 2, 4 };

// "1 file", "3 files".
QString counted(std::uint64_t count, const QString& one, const QString& many)
{
    return QLocale().toString(qulonglong(count)) + u' ' + (count == 1 ? one : many);
}

} // namespace

_Controller::_Controller(OpenClient openClient)
    : mWindowDefinition(std::make_unique<QMainWindow>())
    , mOpenClient(std::move(openClient))
{
    Ui::MainWindow window;
    window.setupUi(mWindowDefinition.get());
    mQuitMenuItem = window.mQuitMenuItem;
    mSelectMenuItem = window.mSelectMenuItem;
    mIdentifyMenuItem = window.mIdentifyMenuItem;
    mPaceMenu = window.mPaceMenu;
    mPaceMenuItems = { window.mPaceAsFilesMenuItem, window.mPace15MenuItem, window.mPace2MenuItem,
        window.mPace4MenuItem };
    mMainWindow = mWindowDefinition.get();
    mDevicePopUpButton = window.mDevicePopUpButton;
    mFolderTextField = window.mFolderTextField;
    mTableView = window.mTableView;
    mSummaryTextField = window.mSummaryTextField;
    mSendButton = window.mSendButton;

    // The separator is an entry of its own, so that entry k stands for destination k - 2; a
    // separator cannot be selected, by the mouse or by the arrow keys.
    mDevicePopUpButton->insertSeparator(1);
    window.mSelectButton->setDefaultAction(mSelectMenuItem);
    mFileTableModel = new FileTableModel(*this, mTableView);
    mTableView->setModel(mFileTableModel);
    // One line of text per file, not the taller rows a table gives by default.
    mTableView->verticalHeader()->setDefaultSectionSize(mTableView->fontMetrics().height() + 6);

    mProgressWindow = new ProgressSheet(mMainWindow);
    Ui::ProgressSheet sheet;
    sheet.setupUi(mProgressWindow);
    mStatusTextField = sheet.mStatusTextField;
    mFileTextField = sheet.mFileTextField;
    mProgressIndicator = sheet.mProgressIndicator;
    mPercentTextField = sheet.mPercentTextField;
    mRemainingTextField = sheet.mRemainingTextField;
    mPaceTextField = sheet.mPaceTextField;

    mUiQueue = new UiQueue(this);
    mPlanReader = std::make_unique<PlanReader>(*mUiQueue);
    mSheet = std::make_unique<WindowSheet>(*mUiQueue,
        WindowSheet::Elements { mMainWindow, [this] { return mFolder; }, mDevicePopUpButton,
            mStatusTextField, mFileTextField, mProgressIndicator, mPercentTextField,
            mRemainingTextField },
        [this] { cancel2(); });
    mMainWindow->installEventFilter(this);

    connect(mQuitMenuItem, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(window.mAboutMenuItem, &QAction::triggered, this, &_Controller::about);
    connect(mSelectMenuItem, &QAction::triggered, this, [this] { select(mSelectMenuItem); });
    // One pace at a time; the choice lasts while the window is open and is never stored.
    mPaceGroup = new QActionGroup(mMainWindow);
    for (QAction* item : mPaceMenuItems) {
        mPaceGroup->addAction(item);
        connect(item, &QAction::triggered, this, &_Controller::showSummary);
    }
    connect(
        mDevicePopUpButton, &QComboBox::activated, this, [this] { device(mDevicePopUpButton); });
    connect(mSendButton, &QPushButton::clicked, this, [this] { send(mSendButton); });
    connect(mIdentifyMenuItem, &QAction::triggered, this, &_Controller::identify);
    connect(sheet.mCancelButton, &QPushButton::clicked, this,
        [this, button = sheet.mCancelButton] { cancel(button); });
    connect(mProgressWindow, &ProgressSheet::cancelRequested, this,
        [this] { cancel(mProgressWindow); });
    connect(mProgressWindow, &QDialog::finished, this, &_Controller::sheetDidEnd);

    // A main window has no default button of its own, as a dialog has: Return and Enter press
    // Send wherever the focus stands in the window.
    for (const auto key : { Qt::Key_Return, Qt::Key_Enter }) {
        connect(new QShortcut(key, mMainWindow), &QShortcut::activated, mSendButton, [this] {
            if (mSendButton->isEnabled())
                mSendButton->animateClick();
        });
    }
}

// Should the application go without its quit notification, the transfer still ends first.
_Controller::~_Controller()
{
    joinTransfer();
    mUiQueue->close();
    if (mConnectThread.joinable())
        mConnectThread.join();
}

void _Controller::applicationWillFinishLaunching()
{
    // Morvex keeps no settings, and neither may Qt on its behalf: the folder chooser would keep
    // its history in the user's configuration folder. /dev/null is no folder, so nothing can
    // be written under it.
    for (const auto format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));

    mSendLock = std::make_unique<std::binary_semaphore>(1);
    // An AppDir stands in the update's folder; a packaged copy in /usr/bin stands nowhere near
    // one, and opens where it was started: the terminal's folder, or home from a desktop menu.
    const QStringList arguments = QCoreApplication::arguments();
    const QString executable = executablePath(arguments.isEmpty() ? QString() : arguments.first());
    scanDirectory(insideAppDir(executable) ? defaultFolder(executable) : QDir::currentPath());
    mMainWindow->show();
    mMainWindow->raise();
    mMainWindow->activateWindow();

    // The MIDI service is opened on a thread of its own: the window paints and answers at once,
    // whatever the service does, and the pop-up says that it is connecting meanwhile.
    mNoDevice = mDevicePopUpButton->itemText(0);
    mDevicePopUpButton->setItemText(0, tr("Connecting to the MIDI service..."));
    mConnectThread = std::thread([this] {
        auto opened = std::make_shared<Opened>();
        opened->client = mOpenClient("Morvex");
        opened->port = opened->client->createOutputPort("Morvex Output Port");
        mUiQueue->post([this, opened] { connected(std::move(*opened)); });
    });
    // The Send button keeps the window definition's state until the user first acts.
}

// UI thread: the connection thread is done. Its result is taken up, then the thread is joined,
// which no longer waits for anything.
void _Controller::connected(Opened opened)
{
    if (mConnectThread.joinable())
        mConnectThread.join();
    if (!mClient) {
        mClient = std::move(opened.client);
        // Told on a thread of the service's; the pop-up is the UI thread's.
        mClient->watchDestinations([this] { mUiQueue->post([this] { destinationsChanged(); }); });
        // A service that answered after the thread gave up on it is listed only from now on.
        mClient->refreshDestinations();
        // Every destination gets an entry, same names included, its name escaped as
        // text::printable does.
        for (const midi::Destination& destination : mClient->destinations())
            addDestination(destination);
    }
    mPort = opened.port ? opened.port.take() : nullptr;
    mMidiProblem = QString::fromStdString(mPort ? mClient->problem() : opened.port.reason());
    // A service that did not answer is named in the pop-up until it does.
    const std::string problem = mClient->problem();
    mDevicePopUpButton->setItemText(0,
        mPort || !mClient->leftWaiting()
            ? mNoDevice
            : QString::fromStdString(problem.substr(0, problem.find_first_of(":("))).trimmed());
    showProblems();
    if (mDestinationsChanged && !mDestinationsFrozen)
        destinationsChanged();
}

// UI thread: a service that answered late makes its port on the connection thread, as at launch.
void _Controller::connectPort()
{
    if (mPort || mConnectThread.joinable() || !mClient || !mClient->problem().empty())
        return;
    mDevicePopUpButton->setItemText(0, tr("Connecting to the MIDI service..."));
    mConnectThread = std::thread([this, client = mClient.get()] {
        auto opened = std::make_shared<Opened>();
        opened->port = client->createOutputPort("Morvex Output Port");
        mUiQueue->post([this, opened] { connected(std::move(*opened)); });
    });
}

void _Controller::about()
{
    // Opened, not executed: a nested event loop would hold up whatever the window has queued.
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("About Morvex"),
        tr("Morvex %1").arg(QLatin1String(morvex::Version)), QMessageBox::Ok, mMainWindow);
    box->setInformativeText(
        tr("Sends the System Exclusive messages of an update folder to a MIDI device.\n\n"
           "Licence: MIT. Copyright (c) 2026 the Morvex authors.\n\n"
           "MIDI service: %1")
            .arg(QString::fromStdString(mClient ? mClient->serviceName() : "none")));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void _Controller::applicationWillTerminate()
{
    joinTransfer();
    // Its calls to the service are bounded: it ends, though not always within the second that
    // the program gives its quit.
    mUiQueue->close();
    if (mConnectThread.joinable())
        mConnectThread.join();
    mPort.reset();
    mClient.reset();
    mSendLock.reset();
}

void _Controller::device(QObject*)
{
    controlSend();
    showSummary();
}

void _Controller::select(QObject*)
{
    QFileDialog chooser(mMainWindow, tr("Select the Folder of Update Files"), QDir::homePath());
    chooser.setObjectName(QStringLiteral("folderChooser"));
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setLabelText(QFileDialog::Accept, tr("Select"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    scanDirectory(chooser.selectedFiles().first());
    controlSend();
}

void _Controller::scanDirectory(const QString& path)
{
    mFolder = QFile::encodeName(path).toStdString();
    mFolderTextField->setText(displayName(mFolder));
    // The field's text is cut at its end where the path is long: its tooltip holds it whole.
    mFolderTextField->setToolTip(mFolderTextField->text());
    transfer::MidiFileListing listing = transfer::listMidiFiles(mFolder);
    mFileArray = std::move(listing.names);
    mFolderProblem = QString::fromStdString(listing.error);
    showProblems();
    mPlan.reset();
    mFileTableModel->reloadData();
    showSummary();
    if (!mFileArray.empty())
        mPlanReader->read(mFolder, mFileArray, [this](transfer::Plan plan) {
            mPlan = std::move(plan);
            mFileTableModel->reloadData();
            showSummary();
        });
}

int _Controller::numberOfRowsInTableView() const
{
    return static_cast<int>(mFileArray.size());
}

QString _Controller::objectValueForTableColumn(int, int row) const
{
    return row >= 0 && static_cast<std::size_t>(row) < mFileArray.size()
        ? displayName(mFileArray[static_cast<std::size_t>(row)])
        : QString();
}

void _Controller::destinationsChanged()
{
    // A change told before the client reached the window is listed once it has.
    mDestinationsChanged = mDestinationsFrozen || !mClient || mConnectThread.joinable();
    if (mDestinationsChanged)
        return;
    // Entry k stands for destination k - 2, before and after.
    const int entry = mDevicePopUpButton->currentIndex();
    const std::string chosen
        = entry >= 2 ? mClient->destinations()[static_cast<std::size_t>(entry - 2)].id : "";
    mClient->refreshDestinations();
    while (mDevicePopUpButton->count() > 2)
        mDevicePopUpButton->removeItem(2);
    int reselected = 0;
    for (const midi::Destination& destination : mClient->destinations()) {
        addDestination(destination);
        if (!chosen.empty() && destination.id == chosen)
            reselected = mDevicePopUpButton->count() - 1;
    }
    mDevicePopUpButton->setCurrentIndex(reselected);
    controlSend();
    showSummary();
    connectPort();
}

QString _Controller::problemForRow(int row) const
{
    if (!mPlan || row < 0 || static_cast<std::size_t>(row) >= mPlan->files().size())
        return {};
    const transfer::Plan::File& file = mPlan->files()[static_cast<std::size_t>(row)];
    return QString::fromStdString(transfer::judgeReading(file.name, file.reading));
}

void _Controller::showSummary()
{
    if (mFileArray.empty()) {
        mSummaryTextField->clear();
        return;
    }
    if (!mPlan) {
        mSummaryTextField->setText(tr("Reading the files..."));
        return;
    }
    const QLocale locale;
    const double slower = chosenSlower();
    QStringList parts {
        counted(mPlan->files().size(), tr("file"), tr("files")),
        counted(mPlan->messages(), tr("message"), tr("messages")),
        locale.formattedDataSize(
            static_cast<qint64>(mPlan->bytes()), 0, QLocale::DataSizeTraditionalFormat),
        tr("about %1")
            .arg(QString::fromStdString(
                text::duration(mPlan->microsecondsFrom(0, chosenBytesPerSecond(), slower),
                    text::DurationStyle::Words))),
    };
    if (slower > transfer::Factor_LeastSlower)
        parts.append(tr("%1× slower").arg(locale.toString(slower)));
    mSummaryTextField->setText(parts.join(QStringLiteral(" · ")));
}

// Entry k of the pop-up stands for destination k - 2.
double _Controller::chosenBytesPerSecond() const
{
    const int entry = mDevicePopUpButton->currentIndex();
    if (!mClient || entry < 2
        || static_cast<std::size_t>(entry - 2) >= mClient->destinations().size())
        return 0;
    return mClient->destinations()[static_cast<std::size_t>(entry - 2)].bytesPerSecond;
}

void _Controller::addDestination(const midi::Destination& destination)
{
    mDevicePopUpButton->addItem(displayName(destination.name));
    if (!destination.answers)
        mDevicePopUpButton->setItemData(mDevicePopUpButton->count() - 1,
            tr("This device cannot answer: Morvex finds no way back from it."), Qt::ToolTipRole);
}

std::optional<std::size_t> _Controller::chosenDestination() const
{
    const int entry = mDevicePopUpButton->currentIndex();
    if (!mClient || entry < 2
        || static_cast<std::size_t>(entry - 2) >= mClient->destinations().size())
        return std::nullopt;
    return static_cast<std::size_t>(entry - 2);
}

// Like a transfer, it holds the send lock and runs on the transfer's thread, with a clock of its
// own that quitting stops; the answer is shown on the UI thread once the lock is free again.
void _Controller::identify()
{
    const std::optional<std::size_t> destination = chosenDestination();
    if (!destination || !mPort || !mSendLock || !mSendLock->try_acquire())
        return;
    mSendButton->setEnabled(false);
    mIdentifyMenuItem->setEnabled(false);
    // The list stays as it is while the question reads it: the way back's own client comes and
    // goes meanwhile.
    mDestinationsFrozen = true;
    if (mTransferThread.joinable())
        mTransferThread.join();
    mClock = std::make_unique<timing::SteadyClock>();
    mTransferThread = std::thread([this, destination = *destination] {
        midi::WayBackResult listening = mClient->listen(destination);
        std::string answer = listening
            ? "This device cannot answer: Morvex finds no way back from it."
            : listening.reason();
        if (listening && listening.value())
            answer = transfer::identifiedText(
                transfer::identify(*mPort, *listening.value(), destination, *mClock));
        listening = midi::noWayBack();
        mSendLock->release();
        mUiQueue->post([this, answer] {
            thawDestinations();
            controlSend();
            QMessageBox box(QMessageBox::NoIcon, tr("Identify Device"), tr("Identify Device"),
                QMessageBox::Ok, mMainWindow);
            box.setObjectName(QStringLiteral("identified"));
            box.setTextFormat(Qt::PlainText);
            box.setInformativeText(QString::fromStdString(answer));
            box.exec();
        });
    });
}

double _Controller::chosenSlower() const
{
    const auto checked = std::ranges::find(mPaceMenuItems, mPaceGroup->checkedAction());
    return checked == mPaceMenuItems.end()
        ? PaceFactors[0]
        : PaceFactors[static_cast<std::size_t>(checked - mPaceMenuItems.begin())];
}

void _Controller::send(QObject*)
{
    mSendButton->setEnabled(false);
    mIdentifyMenuItem->setEnabled(false);
    if (!mSendLock || !mSendLock->try_acquire())
        return;
    mQuitAction = mQuitMenuItem->isEnabled();
    mQuitMenuItem->setEnabled(false);
    mSelectAction = mSelectMenuItem->isEnabled();
    mSelectMenuItem->setEnabled(false);
    mPaceAction = mPaceMenu->isEnabled();
    mPaceMenu->setEnabled(false);
    mTransferSlower = chosenSlower();
    mPaceTextField->setText(tr("%1× slower than the files say")
            .arg(QLocale().toString(mTransferSlower)));
    mPaceTextField->setVisible(mTransferSlower > transfer::Factor_LeastSlower);
    mDestinationsFrozen = true;
    mCancel = false;
    mStatusTextField->clear();
    mFileTextField->setWholeText({});
    // A range of 0 to 0 is the busy display, animated for as long as it stands.
    mProgressIndicator->setRange(0, 0);
    mProgressIndicator->reset();
    mPercentTextField->clear();
    mRemainingTextField->clear();
    mProgressWindow->open();
    // The lock was free, so the last transfer has passed its end and waits for nothing more:
    // joining it cannot block on the UI thread.
    if (mTransferThread.joinable())
        mTransferThread.join();
    mClock = std::make_unique<timing::SteadyClock>();
    mTransferThread = std::thread([this] { thread(); });
}

void _Controller::controlSend()
{
    const int s = mDevicePopUpButton->currentIndex();
    const std::size_t c = mFileArray.size();
    mSendButton->setEnabled(s != 0 && c != 0);
    const std::optional<std::size_t> chosen = chosenDestination();
    mIdentifyMenuItem->setEnabled(mPort && chosen && mClient->destinations()[*chosen].answers
        && !mProgressWindow->isVisible());
}

void _Controller::sheetDidEnd(int)
{
    mProgressWindow->close();
}

void _Controller::cancel(QObject*)
{
    mCancel = true;
}

// On the transfer thread, as its last step. Only the lock is released here; the rest is posted
// in order to the UI thread, and nothing waits for it, so that from the release on this thread
// waits for nothing and the next send or the quit can join it.
void _Controller::cancel2()
{
    mUiQueue->post([this] { mProgressWindow->done(0); });
    mUiQueue->post([this] { mQuitMenuItem->setEnabled(mQuitAction); });
    mUiQueue->post([this] { mSelectMenuItem->setEnabled(mSelectAction); });
    mUiQueue->post([this] { mPaceMenu->setEnabled(mPaceAction); });
    mSendLock->release();
    // Its reads of the pop-up and the file list happen on the UI thread, where they are current.
    mUiQueue->post([this] { controlSend(); });
    // The transfer has let go of the destinations: what changed meanwhile is listed now.
    mUiQueue->post([this] { thawDestinations(); });
}

void _Controller::thawDestinations()
{
    mDestinationsFrozen = false;
    if (mDestinationsChanged)
        destinationsChanged();
}

// On the transfer thread. The file list and the destinations do not change while the sheet is up.
void _Controller::thread()
{
    MissingPort missing(mMidiProblem.toStdString());
    transfer::Transfer transfer(*mSheet, mPort ? *mPort : static_cast<midi::OutputPort&>(missing),
        *mClock, mFileArray, mClient->destinations(), mCancel, mTransferSlower,
        [this](std::size_t destination) { return mClient->listen(destination); });
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
    if (!mTransferThread.joinable())
        return;
    mCancel = true;
    mClock->requestStop();
    mSheet->dismiss();
}

// At quit the event loop no longer answers the transfer's waits: closing the queue sets them
// free, the stop cuts the sleeps short, and the thread runs to its end without the window.
void _Controller::joinTransfer()
{
    if (!mTransferThread.joinable())
        return;
    stopTransfer();
    mUiQueue->close();
    mTransferThread.join();
}

bool _Controller::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != mMainWindow)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Close && mProgressWindow->isVisible()) {
        event->ignore();
        return true;
    }
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)
        return dropFolder(event);
    return QObject::eventFilter(watched, event);
}

// A drop is taken as the chooser's OK, so it is refused while a transfer runs, as the Select menu
// item is.
bool _Controller::dropFolder(QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = drop->mimeData()->urls();
    if (!mSelectMenuItem->isEnabled() || urls.isEmpty() || !urls.first().isLocalFile()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        const QFileInfo dropped(urls.first().toLocalFile());
        scanDirectory(dropped.isDir() ? dropped.absoluteFilePath() : dropped.absolutePath());
        controlSend();
    }
    return true;
}

void _Controller::showProblems()
{
    QStringList problems;
    for (const QString* problem : { &mMidiProblem, &mFolderProblem }) {
        if (!problem->isEmpty())
            problems.append(*problem);
    }
    mMainWindow->statusBar()->showMessage(problems.join(QStringLiteral("  ")));
}
