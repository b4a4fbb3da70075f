#include "QtPrinting.h"
#include "QuitSignals.h"
#include "StandInClient.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::MidiLog;
using testsupport::PortScript;
using testsupport::SmfBuilder;

namespace {

// Generous: the machines are shared, and a hang shows as the limit being reached.
constexpr int Milliseconds_Patience = 60000;

bool waitFor(const std::function<bool()>& condition)
{
    return QTest::qWaitFor(condition, Milliseconds_Patience);
}

Bytes joined(const std::vector<Bytes>& messages)
{
    Bytes all;
    for (const Bytes& message : messages)
        all.insert(all.end(), message.begin(), message.end());
    return all;
}

// What the alert showed, and whether the sheet stood behind it.
struct SeenAlert {
    QString title;
    QString message;
    QString percent;
    bool sheetUp = false;
};

// The controller with the stand-in MIDI service, a folder of update files listed and the
// destination "Synth" chosen, driven as a user drives it. Transfers run on their real thread with
// the real clock.
class Send : public ::testing::Test {
protected:
    void write(const std::string& name, const SmfBuilder& file) { folder.write(name, file.file()); }

    void launch()
    {
        controller
            = std::make_unique<_Controller>(testsupport::standInService({ "Synth" }, log, port));
        controller->applicationWillFinishLaunching();
        window = controller->mainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        controller->scanDirectory(QString::fromStdString(folder.path().string()));
        QTest::keyClick(window->findChild<QComboBox*>("mDevicePopUpButton"), Qt::Key_Down);
        sendButton = window->findChild<QPushButton*>("mSendButton");
        sheet = window->findChild<QDialog*>("mProgressWindow");
        status = sheet->findChild<QLabel*>("mStatusTextField");
        file = sheet->findChild<QLabel*>("mFileTextField");
        percent = sheet->findChild<QLabel*>("mPercentTextField");
        bar = sheet->findChild<QProgressBar*>("mProgressIndicator");
        quit = window->findChild<QAction*>("mQuitMenuItem");
        select = window->findChild<QAction*>("mSelectMenuItem");
        ASSERT_TRUE(sendButton->isEnabled());
    }

    void TearDown() override
    {
        port->release();
        if (controller)
            controller->applicationWillTerminate();
    }

    // The alert runs an event loop of its own: it is seen and answered from a timer that fires
    // inside that loop.
    void onAlert(std::function<void(QMessageBox&)> answer)
    {
        alertWatch.disconnect();
        QObject::connect(&alertWatch, &QTimer::timeout, [this, answer] {
            if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertWatch.stop();
                alerts.push_back({ alert->windowTitle(), alert->informativeText(), percent->text(),
                    sheet->isVisible() });
                answer(*alert);
            }
        });
        alertWatch.start(10);
    }

    void pressOk()
    {
        onAlert([](QMessageBox& alert) {
            QTest::mouseClick(alert.button(QMessageBox::Ok), Qt::LeftButton);
        });
    }

    bool sheetIsFresh() const
    {
        return sheet->isVisible() && status->text().isEmpty() && file->text().isEmpty()
            && percent->text().isEmpty() && bar->minimum() == 0 && bar->maximum() == 0;
    }

    bool idle() const { return !sheet->isVisible() && quit->isEnabled() && select->isEnabled(); }

    MidiLog closing() const { return MidiLog(log->end() - 2, log->end()); }

    testsupport::TempDir folder;
    std::shared_ptr<MidiLog> log = std::make_shared<MidiLog>();
    std::shared_ptr<PortScript> port = std::make_shared<PortScript>();
    std::unique_ptr<_Controller> controller;
    QMainWindow* window = nullptr;
    QPushButton* sendButton = nullptr;
    QDialog* sheet = nullptr;
    QLabel* status = nullptr;
    QLabel* file = nullptr;
    QLabel* percent = nullptr;
    QProgressBar* bar = nullptr;
    QAction* quit = nullptr;
    QAction* select = nullptr;
    QTimer alertWatch;
    std::vector<SeenAlert> alerts;
};

const MidiLog portBeforeClient { "port closed", "client closed" };

TEST_F(Send, TakesTheWindowUntilCancelGivesItBackAndStartsNothingWhileItRuns)
{
    const SmfBuilder a = SmfBuilder().sysexOfSize(0, 100, 1).sysexOfSize(0, 100, 2);
    write("A.mid", a);
    launch();
    port->hold();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return port->calls() == 1; }));

    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->isModal());
    EXPECT_FALSE(sendButton->isEnabled());
    EXPECT_FALSE(quit->isEnabled());
    EXPECT_FALSE(select->isEnabled());
    EXPECT_FALSE(window->close()) << "the window's close control does nothing under the sheet";
    EXPECT_TRUE(window->isVisible());
    // Should the action arrive despite the disabled button, the send lock turns it away.
    controller->send(sendButton);

    QTest::mouseClick(sheet->findChild<QPushButton*>("mCancelButton"), Qt::LeftButton);
    QTest::keyClick(sheet, Qt::Key_Escape);
    port->release();
    ASSERT_TRUE(waitFor([&] { return idle(); }));
    EXPECT_TRUE(sendButton->isEnabled()) << "a destination is chosen and files are listed";
    EXPECT_EQ(port->delivered(), a.messages()[0]) << "the message under way still goes out";
    EXPECT_EQ(port->calls(), 1u) << "no second transfer and nothing after the cancel";
    EXPECT_TRUE(alerts.empty());
}

TEST_F(Send, CompleteUpdateEndsTheTransferAndTheNextSendShowsAFreshSheet)
{
    const SmfBuilder a = SmfBuilder().sysexOfSize(0, 100, 1).sysexOfSize(0, 300, 2);
    write("A.mid", a);
    launch();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        pressOk();
        QTest::mouseClick(sendButton, Qt::LeftButton);
        EXPECT_TRUE(sheetIsFresh());
        ASSERT_TRUE(waitFor([&] { return alerts.size() == std::size_t(run + 1) && idle(); }));
        EXPECT_EQ(alerts.back().title, "Complete Update");
        EXPECT_EQ(alerts.back().message, "");
        EXPECT_TRUE(alerts.back().sheetUp) << "the sheet stays behind the alert";
        EXPECT_EQ(alerts.back().percent, "100 %");
        EXPECT_EQ(status->text(), "Sending...");
        EXPECT_EQ(file->text(), "A.mid");
        EXPECT_TRUE(sendButton->isEnabled());
    }
    EXPECT_EQ(port->delivered(),
        joined({ a.messages()[0], a.messages()[1], a.messages()[0], a.messages()[1] }));
}

TEST_F(Send, UpdateIncompleteNamesTheFileWhoseMessageFailed)
{
    const SmfBuilder a = SmfBuilder().sysexOfSize(0, 50, 1);
    const SmfBuilder b = SmfBuilder().sysexOfSize(0, 60, 2);
    write("A.mid", a);
    write("B.mid", b);
    launch();
    port->fail(1);
    pressOk();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !alerts.empty() && idle(); }));
    EXPECT_EQ(alerts[0].title, "Update Incomplete");
    EXPECT_EQ(alerts[0].message,
        "B.mid: 1 of 1 messages were not delivered to Synth. The destination closed.");
    EXPECT_EQ(port->delivered(), a.messages()[0]);
}

TEST_F(Send, QuittingDuringALongDelayNeitherHangsNorSendsIt)
{
    // One tick a quarter note at the slowest tempo: the second message waits about 56 minutes.
    const SmfBuilder a
        = SmfBuilder(1).sysexOfSize(0, 10, 1).tempo(0, 0xFFFFFF).sysexOfSize(200, 10, 2);
    write("A.mid", a);
    launch();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return percent->text() == "50 %"; }));
    controller->applicationWillTerminate();
    EXPECT_EQ(port->delivered(), a.messages()[0]);
    EXPECT_EQ(closing(), portBeforeClient);
}

TEST_F(Send, QuittingWhileTheAlertIsUpDismissesItAndEndsTheTransfer)
{
    write("A.mid", SmfBuilder().sysexOfSize(0, 10));
    launch();
    onAlert([this](QMessageBox&) { controller->applicationWillTerminate(); });
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return !alerts.empty() && !qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    }));
    EXPECT_EQ(alerts[0].title, "Complete Update");
    EXPECT_EQ(closing(), portBeforeClient);
}

// Once the event loop has ended, nothing answers the transfer's reads of the window any more.
TEST_F(Send, QuittingWhenTheEventLoopNoLongerRunsDoesNotWaitForIt)
{
    write("A.mid", SmfBuilder().sysexOfSize(0, 10));
    launch();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    controller->applicationWillTerminate();
    EXPECT_EQ(port->calls(), 0u);
    EXPECT_EQ(closing(), portBeforeClient);
}

TEST(QuitSignalsTest, SigtermArrivesOnTheEventLoop)
{
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigset_t saved;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &term, &saved), 0);
    {
        QuitSignals watch(nullptr);
        ASSERT_EQ(watch.error(), "");
        QSignalSpy received(&watch, &QuitSignals::received);
        ASSERT_EQ(raise(SIGTERM), 0);
        EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
        EXPECT_EQ(received.value(0).value(0).toInt(), SIGTERM);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

} // namespace
