#include "_Controller.h"

#include "FileTableModel.h"
#include "Folder.h"
#include "ProgressSheet.h"
#include "ui_MainWindow.h"
#include "ui_ProgressSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QShortcut>
#include <QStatusBar>

_Controller::_Controller(OpenClient openClient)
    : mWindowDefinition(std::make_unique<QMainWindow>())
    , mOpenClient(std::move(openClient))
{
    Ui::MainWindow window;
    window.setupUi(mWindowDefinition.get());
    mQuitMenuItem = window.mQuitMenuItem;
    mSelectMenuItem = window.mSelectMenuItem;
    mMainWindow = mWindowDefinition.get();
    mDevicePopUpButton = window.mDevicePopUpButton;
    mFolderTextField = window.mFolderTextField;
    mTableView = window.mTableView;
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

    connect(mQuitMenuItem, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(mSelectMenuItem, &QAction::triggered, this, [this] { select(mSelectMenuItem); });
    connect(
        mDevicePopUpButton, &QComboBox::activated, this, [this] { device(mDevicePopUpButton); });
    connect(mSendButton, &QPushButton::clicked, this, [this] { send(mSendButton); });
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

_Controller::~_Controller() = default;

void _Controller::applicationWillFinishLaunching()
{
    mSendLock = std::make_unique<std::binary_semaphore>(1);
    const QStringList arguments = QCoreApplication::arguments();
    scanDirectory(defaultFolder(arguments.isEmpty() ? QString() : arguments.first()));
    mMainWindow->show();
    mMainWindow->raise();
    mMainWindow->activateWindow();

    mClient = mOpenClient("Morvex");
    mMidiProblem = QString::fromStdString(mClient->problem());
    midi::PortResult port = mClient->createOutputPort("Morvex Output Port");
    mPort = std::move(port.port);
    if (!mPort)
        mMidiProblem = QString::fromStdString(port.error);
    showProblems();

    // Names are UTF-8 and taken whole; every destination gets an entry, same names included.
    for (const midi::Destination& destination : mClient->destinations())
        mDevicePopUpButton->addItem(QString::fromStdString(destination.name));
    // The Send button keeps the window definition's state until the user first acts.
}

void _Controller::applicationWillTerminate()
{
    mPort.reset();
    mClient.reset();
    mSendLock.reset();
}

void _Controller::device(QObject*)
{
    controlSend();
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
    mFolderTextField->setText(path);
    MidiFileListing listing = listMidiFiles(path);
    mFileArray = std::move(listing.names);
    mFolderProblem = std::move(listing.error);
    showProblems();
    mFileTableModel->reloadData();
}

int _Controller::numberOfRowsInTableView() const
{
    return static_cast<int>(mFileArray.size());
}

QString _Controller::objectValueForTableColumn(int, int row) const
{
    return row >= 0 && row < mFileArray.size() ? mFileArray.at(row) : QString();
}

void _Controller::send(QObject*) { }

void _Controller::controlSend()
{
    const int s = mDevicePopUpButton->currentIndex();
    const qsizetype c = mFileArray.size();
    mSendButton->setEnabled(s != 0 && c != 0);
}

void _Controller::sheetDidEnd(int) { }

void _Controller::cancel(QObject*) { }

void _Controller::cancel2() { }

void _Controller::thread() { }

void _Controller::showProblems()
{
    QStringList problems;
    for (const QString* problem : { &mMidiProblem, &mFolderProblem }) {
        if (!problem->isEmpty())
            problems.append(*problem);
    }
    mMainWindow->statusBar()->showMessage(problems.join(QStringLiteral("  ")));
}
