// An update sent as a user sends it: the real window controller and transfer thread, the real
// MIDI layer and a private JACK server, with morvex-monitor run as the device.

#include "Monitor/Input.h"
#include "SMF/SmfWriter.h"
#include "SMF/_SMF.h"
#include "_Controller.h"
#include "support/ChildProcess.h"
#include "support/JackReceiver.h"
#include "support/JackServer.h"
#include "support/TempDir.h"

#include <QtTest>
#include <QtWidgets>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Generous: the machines are shared, and a hang shows as the limit being reached.
constexpr int Milliseconds_Patience = 120000;
// The JACK period: JackServer's default of 32 frames at 48 kHz.
constexpr std::uint64_t Microseconds_Period = 32 * 1000000 / 48000 + 1;
// Before every file but the first.
constexpr std::uint64_t Microseconds_FilePause = 2000000;
// Larger than JACK carries in one cycle: refused before anything goes out.
constexpr std::uint32_t Bytes_TooLarge = 64 * 1024;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        MORVEX_SKIP_WITHOUT_JACKD();
        ::setenv("MORVEX_MIDI", "jack", 1);
        server.emplace();
        // Before Morvex opens: destinations are listed once, when its client opens.
        monitor.emplace(std::vector<std::string> { MORVEX_MONITOR, "--service", "jack", "--client",
                            "monitor", "--name", "Monitor", "--syx", syx.toStdString() },
            output.toStdString());
        // Its first line says where it listens, once its port is up.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !monitorLines().empty(); }, Milliseconds_Patience));
        ASSERT_TRUE(monitorLines()[0].contains("listening on")) << monitorLines()[0].toStdString();
    }

    void TearDown() override
    {
        alertWatch.stop();
        if (controller)
            controller->applicationWillTerminate();
        ::unsetenv("MORVEX_MIDI");
    }

    QStringList monitorLines() const
    {
        return QString(contents(output)).split('\n', Qt::SkipEmptyParts);
    }

    // Launches Morvex on the JACK server, lists the folder, chooses the monitor, presses Send
    // and waits for the run to end, pressing OK on its alert.
    void sendFolder(const QString& folder)
    {
        controller = std::make_unique<_Controller>(
            [](const std::string& name) { return midi::Client::open(name); });
        controller->applicationWillFinishLaunching();
        QMainWindow* window = controller->mainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        controller->scanDirectory(folder);
        auto* popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
        // Chosen by its place, not its name: JACK keeps pretty names in one store for all of a
        // user's servers, keyed by port ids that every fresh server hands out alike, so a test
        // running beside this one on a server of its own can rename our monitor.
        ASSERT_EQ(popUp->count(), 3) << "the monitor is the private server's one destination";
        QTest::keyClick(popUp, Qt::Key_Down);
        destination = popUp->currentText();
        auto* sendButton = window->findChild<QPushButton*>("mSendButton");
        ASSERT_TRUE(sendButton->isEnabled());

        // The alert runs an event loop of its own: it is seen and answered from a timer that
        // fires inside that loop.
        QObject::connect(&alertWatch, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertWatch.stop();
                alert = (box->windowTitle() + '\n' + box->informativeText()).split('\n');
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
        });
        alertWatch.start(10);
        QTest::mouseClick(sendButton, Qt::LeftButton);
        auto* sheet = window->findChild<QDialog*>("mProgressWindow");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !alert.empty() && !sheet->isVisible() && sendButton->isEnabled(); },
            Milliseconds_Patience));
    }

    // A JACK server that misses a deadline around a send (the dummy driver on a loaded machine
    // does) leaves the send uncertain: the message was handed over, but JACK cannot vouch for it.
    // The run then rightly ends without claiming success, naming the file to check. The bytes
    // show that it did arrive; what must never happen is any other complaint. These are the
    // others.
    QStringList complaints() const
    {
        QStringList others = alert.mid(1);
        others.removeIf([&](const QString& line) {
            return line.contains(" may not have arrived at " + destination + ". ");
        });
        return others;
    }

    // Every message of the folder's files that JACK carries arrived whole at the monitor, in
    // order, and none sooner than its delay allows.
    void expectEverythingArrived(const QString& folder)
    {
        std::vector<smf::Bytes> expected;
        std::vector<std::uint64_t> leastGap; // microseconds before each expected message
        std::uint64_t waited = 0; // since the last message that arrives
        QByteArray all; // the bytes of every expected message, in order
        // Named to sort in sending order.
        const QStringList names = QDir(folder).entryList({ "*.mid" }, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            waited += name == names[0] ? 0 : Microseconds_FilePause;
            QByteArray image = contents(folder + '/' + name);
            std::vector<_Event> events;
            _SMF reader(image.data(), image.size(), &events);
            reader.Scan();
            ASSERT_EQ(reader.ending(), _SMF::Ending::EndOfTrack) << name.toStdString();
            for (const _Event& event : events) {
                // A refused message is still waited for, in full.
                waited += event.time();
                if (event.size() >= Bytes_TooLarge)
                    continue;
                expected.emplace_back(event.ptr(), event.ptr() + event.size());
                all.append(event.ptr(), event.size());
                leastGap.push_back(waited);
                waited = 0;
            }
        }
        // By the alert every send has returned, and a send returns only after the cycle that
        // carried its message; the monitor prints what arrived within its poll.
        const auto count = qsizetype(expected.size()) + 1; // where it listens, then one a message
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return monitorLines().size() >= count; }, Milliseconds_Patience));
        ASSERT_EQ(monitor->stop(SIGTERM), 0) << "the monitor saves what arrived as it ends";
        const QStringList lines = monitorLines();
        ASSERT_EQ(lines.size(), count) << lines.join('\n').toStdString();
        // The stamp of message i, in microseconds.
        const auto stamp = [&](std::size_t i) {
            return lines[qsizetype(i) + 1]
                .section(' ', 0, 0, QString::SectionSkipEmpty)
                .toULongLong();
        };
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const QString& line = lines[qsizetype(i) + 1];
            SCOPED_TRACE(line.toStdString());
            EXPECT_TRUE(line.contains(QString::asprintf("crc32 %08X", midi::crc32(expected[i]))));
            // The monitor stamps a message with the time its JACK cycle is processed, not with
            // the moment it was sent: a stamp stands up to one period after its send. The next
            // message is sent a full delay after the previous one was, and is stamped no earlier
            // than it is sent, so two stamps are at least the delay apart less the one period by
            // which the earlier stamp may lag its send.
            if (i > 0) {
                EXPECT_GE(stamp(i) + Microseconds_Period, stamp(i - 1) + leastGap[i]);
            }
        }
        EXPECT_TRUE(contents(syx) == all) << "the bytes saved differ from the messages sent";
    }

    testsupport::TempDir logs;
    const QString syx = QString::fromStdString((logs.path() / "received.syx").string());
    const QString output = QString::fromStdString((logs.path() / "monitor.txt").string());
    std::optional<testsupport::JackServer> server;
    // Started after the server, stopped before it.
    std::optional<testsupport::ChildProcess> monitor;
    std::unique_ptr<_Controller> controller;
    QTimer alertWatch;
    QString destination; // as the pop-up lists the monitor
    QStringList alert; // the alert's title, then the lines of its text
};

// The update the build generates: firmware blocks, a 32,000-byte bank near the most JACK
// carries, a file whose tempo changes halfway.
TEST_F(EndToEnd, TheSampleUpdateArrivesWholeInOrderAndNoMessageEarly)
{
    ASSERT_NO_FATAL_FAILURE(sendFolder(MORVEX_SAMPLE_FOLDER));
    EXPECT_TRUE(alert[0] == "Complete Update" || alert[0] == "Update Incomplete")
        << alert.join('\n').toStdString();
    EXPECT_EQ(complaints().join('\n').toStdString(), "");
    expectEverythingArrived(MORVEX_SAMPLE_FOLDER);
}

TEST_F(EndToEnd, AMessageTooLargeForJackIsNamedAndTheRestStillArrives)
{
    // At 500 ticks a quarter note and the default tempo, one tick is one millisecond.
    const smf::SmfWriter small
        = smf::SmfWriter(500).sysexOfSize(20, 256, 1).sysexOfSize(35, 256, 2);
    testsupport::TempDir folder;
    folder.write("1-first.mid", small.file());
    folder.write("2-too-large.mid", smf::SmfWriter(500).sysexOfSize(25, Bytes_TooLarge, 3).file());
    folder.write("3-last.mid", small.file());
    const QString path = QString::fromStdString(folder.path().string());
    ASSERT_NO_FATAL_FAILURE(sendFolder(path));
    EXPECT_EQ(alert[0].toStdString(), "Update Incomplete");
    const QStringList refused = complaints();
    ASSERT_EQ(refused.size(), 1) << alert.join('\n').toStdString();
    EXPECT_TRUE(refused[0].startsWith(
        "2-too-large.mid: 1 of 1 messages were not delivered to " + destination + ". "))
        << refused[0].toStdString();
    expectEverythingArrived(path);
}

// The pop-up follows the server's destinations while no update runs: one that appears is listed,
// the one chosen stays chosen while it exists, and when it goes the pop-up falls back to no
// device, which disables Send.
TEST_F(EndToEnd, ThePopUpFollowsDestinationsThatComeAndGo)
{
    controller = std::make_unique<_Controller>(
        [](const std::string& name) { return midi::Client::open(name); });
    controller->applicationWillFinishLaunching();
    controller->scanDirectory(MORVEX_SAMPLE_FOLDER);
    QMainWindow* window = controller->mainWindow();
    auto* popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
    auto* sendButton = window->findChild<QPushButton*>("mSendButton");
    const auto entries = [&] {
        QStringList shown;
        for (int i = 0; i < popUp->count(); ++i)
            shown.append(popUp->itemText(i));
        return shown.join('|').toStdString();
    };
    ASSERT_EQ(entries(), "No device||monitor:Monitor");

    std::optional<testsupport::JackReceiver> synth(std::in_place, "synth", "in");
    ASSERT_TRUE(QTest::qWaitFor([&] { return popUp->count() == 4; }, Milliseconds_Patience));
    EXPECT_EQ(entries(), "No device||monitor:Monitor|synth:in");
    popUp->setCurrentIndex(3);
    controller->device(popUp);
    EXPECT_TRUE(sendButton->isEnabled());

    monitor->stop(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return popUp->count() == 3; }, Milliseconds_Patience));
    EXPECT_EQ(popUp->currentText().toStdString(), "synth:in") << "still chosen, at its new place";
    synth.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return popUp->count() == 2; }, Milliseconds_Patience));
    EXPECT_EQ(popUp->currentIndex(), 0);
    EXPECT_FALSE(sendButton->isEnabled());
}

} // namespace
