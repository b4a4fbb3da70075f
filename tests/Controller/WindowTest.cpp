// The main window and its controller under a real Qt event loop, driven as a user drives them,
// with a stand-in MIDI service. Transfers run on their real thread with the real clock.

#include "Folder.h"
#include "SMF/SmfWriter.h"
#include "SignalNotifier.h"
#include "StandInClient.h"
#include "support/TempDir.h"

#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <gtest/gtest.h>

using smf::SmfWriter;
using Log = std::vector<std::string>;

namespace {

// Generous: the machines are shared, and a hang shows as the limit being reached.
bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, 60000);
}

QString pathOf(const std::filesystem::path& folder)
{
    return QString::fromStdString(folder.string());
}

const Log portBeforeClient { "port closed", "client closed" };

TEST(Folder, DefaultFolderIsFourComponentsUpKeepingTheRootAndEmptyingALoneName)
{
    const std::pair<QString, QString> cases[] = {
        { "/home/ann/Update 2/Morvex.AppDir/usr/bin/morvex", "/home/ann/Update 2" },
        { "/u//Morvex.AppDir/usr//bin/morvex/", "/u" },
        { "/usr/bin/morvex", "/" },
        { "//", "/" },
        { "u/Morvex.AppDir/usr/bin/morvex", "u" },
        { "usr/bin/morvex", "" },
        { "Morvex.AppDir/usr/bin/morvex/", "" },
        { "", "" },
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(defaultFolder(path).toStdString(), expected.toStdString()) << path.toStdString();
}

class Window : public ::testing::Test {
protected:
    void launch(std::vector<std::string> destinations)
    {
        midi = std::make_shared<testsupport::StandInScript>();
        controller = std::make_unique<_Controller>(
            testsupport::standInService(std::move(destinations), midi));
        controller->applicationWillFinishLaunching();
        window = controller->mainWindow();
        popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
        sendButton = window->findChild<QPushButton*>("mSendButton");
        sheet = window->findChild<QDialog*>("mProgressWindow");
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    // Launches with one destination chosen and a folder holding A.mid listed.
    void launchWith(const SmfWriter& file)
    {
        files.write("A.mid", file.file());
        launch({ "Synth" });
        controller->scanDirectory(pathOf(files.path()));
        QTest::keyClick(popUp, Qt::Key_Down);
        ASSERT_TRUE(sendButton->isEnabled());
    }

    void TearDown() override
    {
        if (midi)
            midi->release();
        if (controller)
            controller->applicationWillTerminate();
    }

    // The progress sheet's fields, "status|file|percent", and whether its bar shows only that work
    // goes on.
    std::string sheetShows() const
    {
        QStringList fields;
        for (const char* name : { "mStatusTextField", "mFileTextField", "mPercentTextField" })
            fields.append(sheet->findChild<QLabel*>(name)->text());
        const bool busy = sheet->findChild<QProgressBar*>()->maximum() == 0;
        return fields.join('|').toStdString() + (busy ? " busy" : "");
    }
    QString folderField() const
    {
        return window->findChild<QLineEdit*>("mFolderTextField")->text();
    }
    bool enabled(const char* action) const
    {
        return window->findChild<QAction*>(action)->isEnabled();
    }
    bool idle() const
    {
        return !sheet->isVisible() && enabled("mQuitMenuItem") && enabled("mSelectMenuItem");
    }

    std::string tableRows() const
    {
        const QAbstractItemModel* model = window->findChild<QTableView*>("mTableView")->model();
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows.append(model->index(row, 0).data().toString());
        return rows.join('|').toStdString();
    }

    // Modal windows run an event loop of their own: they are seen and answered from a timer that
    // fires inside that loop.
    template <class Modal> void whenUp(std::function<void(Modal&)> answer)
    {
        watch.disconnect();
        QObject::connect(&watch, &QTimer::timeout, [this, answer] {
            if (auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget())) {
                watch.stop();
                answer(*modal);
            }
        });
        watch.start(10);
    }

    // Presses Ctrl+O as a user would and lets answer act on the folder chooser once it is up.
    void chooseFolder(std::function<void(QFileDialog&)> answer)
    {
        whenUp<QFileDialog>([answer](QFileDialog& chooser) {
            EXPECT_EQ(chooser.directory().absolutePath(), QDir::homePath()) << "every time";
            answer(chooser);
        });
        // As a user would click the window again after an earlier dialog.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
        EXPECT_FALSE(watch.isActive()) << "the folder chooser did not open";
    }

    // Notes the alert's title and what stood behind it, and presses OK.
    void pressOkOnAlert()
    {
        whenUp<QMessageBox>([this](QMessageBox& alert) {
            alerts.push_back(alert.windowTitle().toStdString()
                + (sheet->isVisible() ? " over " : " alone ") + sheetShows());
            QTest::mouseClick(alert.button(QMessageBox::Ok), Qt::LeftButton);
        });
    }

    Log closing() const { return Log(midi->log.end() - 2, midi->log.end()); }

    testsupport::TempDir files;
    std::shared_ptr<testsupport::StandInScript> midi;
    std::unique_ptr<_Controller> controller;
    QMainWindow* window = nullptr;
    QComboBox* popUp = nullptr;
    QPushButton* sendButton = nullptr;
    QDialog* sheet = nullptr;
    QTimer watch;
    std::vector<std::string> alerts;
};

TEST_F(Window, ThePopUpListsEveryDestinationWholeAfterNoDeviceAndASeparator)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        { {}, "No device|" },
        { { "Synth A", "Ünïcode Synth ♪", "Port 3" }, "No device||Synth A|Ünïcode Synth ♪|Port 3" },
        { { "Same", "Same" }, "No device||Same|Same" },
    };
    for (const auto& [destinations, entries] : cases) {
        SCOPED_TRACE(entries);
        launch(destinations);
        QStringList shown;
        for (int i = 0; i < popUp->count(); ++i)
            shown.append(popUp->itemText(i));
        EXPECT_EQ(shown.join('|').toStdString(), entries);
        EXPECT_EQ(popUp->currentIndex(), 0);
        EXPECT_EQ(folderField(), defaultFolder(QCoreApplication::arguments().first()));
        QTest::keyClick(popUp, Qt::Key_Down);
        EXPECT_EQ(popUp->currentIndex(), destinations.empty() ? 0 : 2)
            << "the arrow key must pass over the separator";
        controller->applicationWillTerminate();
        EXPECT_EQ(midi->log,
            Log({ "client opened: Morvex", "port opened: Morvex Output Port", "port closed",
                "client closed" }));
        controller.reset();
    }
}

TEST_F(Window, SendNeedsADestinationAndAFileAndIsJudgedOnlyWhenTheUserActs)
{
    testsupport::TempDir empty;
    files.write("one.mid", {});
    launch({ "Synth" });
    QTest::keyClick(popUp, Qt::Key_Down);
    controller->scanDirectory(pathOf(files.path()));
    EXPECT_FALSE(sendButton->isEnabled()) << "listing a folder alone does not judge Send";
    // Each row ends on a choice in the pop-up, which judges Send.
    for (const auto& [withFiles, device] :
        { std::pair(true, true), { true, false }, { false, true } }) {
        controller->scanDirectory(pathOf((withFiles ? files : empty).path()));
        QTest::keyClick(popUp, Qt::Key_Up);
        if (device)
            QTest::keyClick(popUp, Qt::Key_Down);
        EXPECT_EQ(sendButton->isEnabled(), withFiles && device) << withFiles << device;
    }
}

TEST_F(Window, TheChooserStartsAtHomeEveryTimeAndListsOnlyAConfirmedFolder)
{
    const std::filesystem::path folder = files.path() / "Mises à jour";
    std::filesystem::create_directory(folder);
    for (const char* name : { "b.mid", "Été 10.mid", "Été 2.MID", "notes.txt" })
        files.write(folder.filename() / name, {});
    launch({ "Synth" });
    QTest::keyClick(popUp, Qt::Key_Down);
    chooseFolder([&](QFileDialog& chooser) {
        auto* name = chooser.findChild<QLineEdit*>("fileNameEdit");
        // Typed a key at a time, the path would open the completer's pop-up.
        name->setText(pathOf(folder));
        QTest::keyClick(name, Qt::Key_Return);
    });
    EXPECT_TRUE(sendButton->isEnabled()) << "a confirmed folder judges Send";
    for (const bool cancelled : { false, true }) {
        if (cancelled)
            chooseFolder([](QFileDialog& chooser) { QTest::keyClick(&chooser, Qt::Key_Escape); });
        EXPECT_EQ(folderField(), pathOf(folder));
        EXPECT_EQ(tableRows(), "b.mid|Été 2.MID|Été 10.mid");
    }
}

TEST_F(Window, SendTakesTheWindowWithAFreshSheetEachTimeAndCancelGivesItBack)
{
    launchWith(SmfWriter().sysexOfSize(0, 100, 1).sysexOfSize(0, 300, 2));
    pressOkOnAlert();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return alerts.size() == 1 && idle(); }));
    EXPECT_EQ(alerts[0], "Complete Update over Sending...|A.mid|100 %");

    pressOkOnAlert();
    midi->holding = true;
    QTest::mouseClick(sendButton, Qt::LeftButton);
    EXPECT_TRUE(sheet->isVisible() && sheet->isModal());
    EXPECT_EQ(sheetShows(), "|| busy") << "a fresh sheet";
    ASSERT_TRUE(waitFor([&] { return midi->sends == 3; }));
    EXPECT_FALSE(sendButton->isEnabled() || enabled("mQuitMenuItem") || enabled("mSelectMenuItem"));
    EXPECT_FALSE(window->close()) << "the window's close control does nothing under the sheet";
    // Should the action arrive despite the disabled button, the send lock turns it away.
    controller->send(sendButton);

    QTest::mouseClick(sheet->findChild<QPushButton*>("mCancelButton"), Qt::LeftButton);
    midi->release();
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    EXPECT_TRUE(sendButton->isEnabled()) << "a destination is chosen and files are listed";
    EXPECT_EQ(midi->sends, 3u) << "no other transfer and nothing after the cancel";
    EXPECT_EQ(alerts.size(), 1u) << "Cancel shows no alert";
}

// Wherever a transfer stands, quitting stops it at once; then the port goes before the client.
TEST_F(Window, QuittingDuringATransferNeitherHangsNorSendsMore)
{
    // One tick a quarter note at the slowest tempo: the second message waits about 56 minutes.
    const SmfWriter file
        = SmfWriter(1).sysexOfSize(0, 10, 1).tempo(0, 0xFFFFFF).sysexOfSize(200, 10, 2);
    for (const bool midway : { false, true }) {
        SCOPED_TRACE(midway ? "during the long delay" : "before the event loop answers");
        launchWith(file);
        QTest::mouseClick(sendButton, Qt::LeftButton);
        if (midway) {
            ASSERT_TRUE(waitFor([&] { return sheetShows() == "Sending...|A.mid|50 %"; }));
        }
        controller->applicationWillTerminate();
        EXPECT_EQ(midi->sends, midway ? 1u : 0u);
        EXPECT_EQ(closing(), portBeforeClient);
    }
    launchWith(SmfWriter().sysexOfSize(0, 10));
    whenUp<QMessageBox>([this](QMessageBox&) { controller->applicationWillTerminate(); });
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return !watch.isActive() && !qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    })) << "quitting dismisses the alert";
    EXPECT_EQ(closing(), portBeforeClient);
}

TEST(SignalNotifier, SigtermArrivesOnTheEventLoop)
{
    sigset_t saved;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &saved), 0);
    {
        process::OpenedQuitSignals opened = process::QuitSignals::open();
        ASSERT_TRUE(opened.quitSignals) << opened.error;
        SignalNotifier notifier(std::move(*opened.quitSignals), nullptr);
        QSignalSpy received(&notifier, &SignalNotifier::received);
        ASSERT_EQ(raise(SIGTERM), 0);
        EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
        EXPECT_EQ(received.value(0).value(0).toInt(), SIGTERM);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace
