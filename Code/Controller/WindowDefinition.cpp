#include "WindowDefinition.h"

#include "Folder.h"
#include "Morvex/Version.h"
#include "ProgressSheet.h"
#include "ui_MainWindow.h"
#include "ui_ProgressSheet.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>

WindowDefinition::WindowDefinition()
    : mMainWindow(std::make_unique<QMainWindow>())
{
    Ui::MainWindow window;
    window.setupUi(mMainWindow.get());
    auto* sheet = new ProgressSheet(mMainWindow.get());
    Ui::ProgressSheet sheetElements;
    sheetElements.setupUi(sheet);
    mOutlets = { window.mQuitMenuItem, window.mSelectMenuItem, window.mAboutMenuItem,
        window.mIdentifyMenuItem, window.mPaceMenu,
        { window.mPaceAsFilesMenuItem, window.mPace15MenuItem, window.mPace2MenuItem,
            window.mPace4MenuItem },
        mMainWindow.get(), window.mDevicePopUpButton, window.mFolderTextField, window.mTableView,
        window.mSummaryTextField, window.mSendButton, sheet, sheetElements.mCancelButton,
        sheetElements.mStatusTextField, sheetElements.mFileTextField,
        sheetElements.mProgressIndicator, sheetElements.mPercentTextField,
        sheetElements.mRemainingTextField, sheetElements.mPaceTextField };

    window.mSelectButton->setDefaultAction(window.mSelectMenuItem);
    mMainWindow->installEventFilter(this);
    connect(window.mQuitMenuItem, &QAction::triggered, qApp, &QCoreApplication::quit);
    // A main window has no default button of its own, as a dialog has: Return and Enter press
    // Send wherever the focus stands in the window.
    QPushButton* send = window.mSendButton;
    for (const auto key : { Qt::Key_Return, Qt::Key_Enter }) {
        connect(new QShortcut(key, mMainWindow.get()), &QShortcut::activated, send, [send] {
            if (send->isEnabled())
                send->animateClick();
        });
    }
}

// The window goes after this object: it must not call on it as it goes.
WindowDefinition::~WindowDefinition()
{
    mMainWindow->removeEventFilter(this);
}

QString WindowDefinition::startFolder()
{
    const QStringList arguments = QCoreApplication::arguments();
    const QString executable = executablePath(arguments.isEmpty() ? QString() : arguments.first());
    return insideAppDir(executable) ? defaultFolder(executable) : QDir::currentPath();
}

void WindowDefinition::launch()
{
    // Morvex keeps no settings, and neither may Qt on its behalf: the folder chooser would keep
    // its history in the user's configuration folder. /dev/null is no folder, so nothing can
    // be written under it.
    for (const auto format : { QSettings::NativeFormat, QSettings::IniFormat })
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
    mMainWindow->show();
    mMainWindow->raise();
    mMainWindow->activateWindow();
}

void WindowDefinition::about(const QString& service)
{
    // Opened, not executed: a nested event loop would hold up whatever the window has queued.
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr("About Morvex"),
        tr("Morvex %1").arg(QLatin1String(morvex::Version)), QMessageBox::Ok, mMainWindow.get());
    box->setInformativeText(
        tr("Sends the System Exclusive messages of an update folder to a MIDI device.\n\n"
           "Licence: MIT. Copyright (c) 2026 the Morvex authors.\n\n"
           "MIDI service: %1")
            .arg(service));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void WindowDefinition::showProblems(const QString& midi, const QString& folder)
{
    QStringList problems;
    for (const QString* problem : { &midi, &folder }) {
        if (!problem->isEmpty())
            problems.append(*problem);
    }
    mMainWindow->statusBar()->showMessage(problems.join(QStringLiteral("  ")));
}

bool WindowDefinition::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == mMainWindow.get() && event->type() == QEvent::Close
        && mOutlets.mProgressWindow->isVisible()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
