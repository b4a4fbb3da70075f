#include "Folder.h"
#include "QtPrinting.h"
#include "StandInClient.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using testsupport::MidiLog;
using testsupport::TempDir;

namespace {

QString pathOf(const TempDir& folder)
{
    return QString::fromStdString(folder.path().string());
}

class Controller : public ::testing::Test {
protected:
    void launch(std::vector<std::string> destinations)
    {
        controller = std::make_unique<_Controller>(
            testsupport::standInService(std::move(destinations), log));
        controller->applicationWillFinishLaunching();
        window = controller->mainWindow();
        popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
        folderField = window->findChild<QLineEdit*>("mFolderTextField");
        sendButton = window->findChild<QPushButton*>("mSendButton");
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    void TearDown() override
    {
        if (controller)
            controller->applicationWillTerminate();
    }

    QStringList popUpEntries() const
    {
        QStringList entries;
        for (int i = 0; i < popUp->count(); ++i)
            entries.append(popUp->itemText(i));
        return entries;
    }

    QStringList tableRows() const
    {
        const QAbstractItemModel* model = window->findChild<QTableView*>("mTableView")->model();
        QStringList rows;
        for (int row = 0; row < model->rowCount(); ++row)
            rows.append(model->index(row, 0).data().toString());
        return rows;
    }

    // Presses Ctrl+O as a user would and lets answer act on the folder chooser once it is up.
    void chooseFolder(const std::function<void(QFileDialog&)>& answer)
    {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                poll.stop();
                startFolder = chooser->directory().absolutePath();
                answer(*chooser);
            }
        });
        poll.start(10);
        // As a user would click the window again after an earlier dialog.
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
        EXPECT_FALSE(poll.isActive()) << "the folder chooser did not open";
    }

    void confirmFolder(const QString& path)
    {
        chooseFolder([&](QFileDialog& chooser) {
            auto* name = chooser.findChild<QLineEdit*>("fileNameEdit");
            // Typed a key at a time, the path would open the completer's pop-up.
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
        });
    }

    std::shared_ptr<MidiLog> log = std::make_shared<MidiLog>();
    std::unique_ptr<_Controller> controller;
    QMainWindow* window = nullptr;
    QComboBox* popUp = nullptr;
    QLineEdit* folderField = nullptr;
    QPushButton* sendButton = nullptr;
    QString startFolder;
};

const QStringList fixedEntries { "No device", "" };

TEST_F(Controller, WithoutDestinationsThePopUpHoldsOnlyItsFixedEntries)
{
    launch({});
    EXPECT_EQ(popUpEntries(), fixedEntries);
    EXPECT_EQ(popUp->currentIndex(), 0);
    const auto* entries = qobject_cast<QStandardItemModel*>(popUp->model());
    EXPECT_FALSE(entries->item(1)->isEnabled()) << "the separator must not be selectable";
    EXPECT_EQ(*log, MidiLog({ "client opened: Morvex", "port opened: Morvex Output Port" }));
    EXPECT_EQ(folderField->text(), defaultFolder(QCoreApplication::arguments().first()));
    EXPECT_FALSE(sendButton->isEnabled());
}

TEST_F(Controller, DestinationsFollowTheFixedEntriesInOrderWithTheirWholeNames)
{
    launch({ "Synth A", "Ünïcode Synth ♪", "Port 3" });
    EXPECT_EQ(
        popUpEntries(), fixedEntries + QStringList({ "Synth A", "Ünïcode Synth ♪", "Port 3" }));
    EXPECT_EQ(popUp->currentIndex(), 0);
}

TEST_F(Controller, SameNamedDestinationsKeepAnEntryEach)
{
    launch({ "Same", "Same" });
    EXPECT_EQ(popUpEntries(), fixedEntries + QStringList({ "Same", "Same" }));
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_EQ(popUp->currentIndex(), 2) << "the arrow key must pass over the separator";
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_EQ(popUp->currentIndex(), 3);
}

TEST_F(Controller, SendNeedsADestinationAndAFileAndIsJudgedOnlyWhenTheUserActs)
{
    TempDir files;
    TempDir empty;
    files.write("one.mid", {});
    launch({ "Synth" });
    controller->scanDirectory(pathOf(files));
    EXPECT_EQ(tableRows(), QStringList { "one.mid" });
    EXPECT_EQ(controller->objectValueForTableColumn(3, 0), "one.mid");
    EXPECT_FALSE(sendButton->isEnabled()) << "listing a folder alone does not judge Send";

    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_TRUE(sendButton->isEnabled());
    QTest::keyClick(popUp, Qt::Key_Up);
    EXPECT_EQ(popUp->currentIndex(), 0);
    EXPECT_FALSE(sendButton->isEnabled());

    controller->scanDirectory(pathOf(empty));
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_FALSE(sendButton->isEnabled());
}

TEST_F(Controller, ConfirmingAFolderListsItAndJudgesSend)
{
    TempDir files;
    TempDir empty;
    files.write("b.mid", {});
    files.write("a.MID", {});
    launch({ "Synth" });
    QTest::keyClick(popUp, Qt::Key_Down);

    confirmFolder(pathOf(files));
    EXPECT_EQ(startFolder, QDir::homePath());
    EXPECT_EQ(folderField->text(), pathOf(files));
    EXPECT_EQ(tableRows(), QStringList({ "a.MID", "b.mid" }));
    EXPECT_TRUE(sendButton->isEnabled());

    confirmFolder(pathOf(empty));
    EXPECT_EQ(startFolder, QDir::homePath()) << "the chooser starts at home every time";
    EXPECT_EQ(tableRows(), QStringList());
    EXPECT_FALSE(sendButton->isEnabled());
}

TEST_F(Controller, CancellingTheChooserChangesNothing)
{
    TempDir files;
    files.write("a.mid", {});
    launch({ "Synth" });
    controller->scanDirectory(pathOf(files));
    QTest::keyClick(popUp, Qt::Key_Down);
    ASSERT_TRUE(sendButton->isEnabled());

    chooseFolder([](QFileDialog& chooser) { QTest::keyClick(&chooser, Qt::Key_Escape); });
    EXPECT_EQ(folderField->text(), pathOf(files));
    EXPECT_EQ(tableRows(), QStringList { "a.mid" });
    EXPECT_TRUE(sendButton->isEnabled());
}

TEST_F(Controller, QuitClosesThePortBeforeTheClient)
{
    launch({ "Synth" });
    controller->applicationWillTerminate();
    EXPECT_EQ(*log,
        MidiLog({ "client opened: Morvex", "port opened: Morvex Output Port", "port closed",
            "client closed" }));
    controller.reset();
}

} // namespace
