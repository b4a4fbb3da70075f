// An update sent as a user sends it: the real window controller and transfer thread, the real
// MIDI layer and a private JACK server, with morvex-monitor run as the device.

#include "Input.h"
#include "SMF/_SMF.h"
#include "_Controller.h"
#include "support/ChildProcess.h"
#include "support/JackServer.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <QtTest>
#include <QtWidgets>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace {

// Generous: the machines are shared, and a hang shows as the limit being reached.
constexpr int Milliseconds_Patience = 120000;
// The JACK period: JackServer's default of 32 frames at 48 kHz.
constexpr std::uint64_t Microseconds_Period = 32 * 1000000 / 48000 + 1;
// Before every file but the first.
constexpr std::uint64_t Microseconds_FilePause = 2000000;
// Larger than JACK carries in one cycle: refused before anything goes out.
constexpr std::uint32_t Bytes_TooLarge = 64 * 1024;

std::vector<std::string> linesOf(std::istream&& in)
{
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
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
                            "monitor", "--name", "Monitor", "--syx", syx().string() },
            monitorOutput());
        // Its first line says where it listens, once its port is up.
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !monitorLines().empty(); }, Milliseconds_Patience));
        ASSERT_NE(monitorLines()[0].find("listening on"), std::string::npos) << monitorLines()[0];
    }

    void TearDown() override
    {
        alertWatch.stop();
        if (controller)
            controller->applicationWillTerminate();
        ::unsetenv("MORVEX_MIDI");
    }

    std::filesystem::path syx() const { return logs.path() / "received.syx"; }
    std::filesystem::path monitorOutput() const { return logs.path() / "monitor.txt"; }
    std::vector<std::string> monitorLines() const
    {
        return linesOf(std::ifstream(monitorOutput()));
    }

    // Launches Morvex on the JACK server, lists the folder, chooses the monitor, presses Send
    // and waits for the run to end, pressing OK on its alert.
    void sendFolder(const std::filesystem::path& folder)
    {
        controller = std::make_unique<_Controller>(
            [](const std::string& name) { return midi::Client::open(name); });
        controller->applicationWillFinishLaunching();
        QMainWindow* window = controller->mainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        controller->scanDirectory(QString::fromStdString(folder.string()));
        auto* popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
        // Chosen by its place, not its name: JACK keeps pretty names in one store for all of a
        // user's servers, keyed by port ids that every fresh server hands out alike, so a test
        // running beside this one on a server of its own can rename our monitor.
        ASSERT_EQ(popUp->count(), 3) << "the monitor is the private server's one destination";
        QTest::keyClick(popUp, Qt::Key_Down);
        destination = popUp->currentText().toStdString();
        auto* sendButton = window->findChild<QPushButton*>("mSendButton");
        ASSERT_TRUE(sendButton->isEnabled());

        // The alert runs an event loop of its own: it is seen and answered from a timer that
        // fires inside that loop.
        QObject::connect(&alertWatch, &QTimer::timeout, [this] {
            if (auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                alertWatch.stop();
                alertTitle = alert->windowTitle().toStdString();
                alertLines = linesOf(std::istringstream(alert->informativeText().toStdString()));
                QTest::mouseClick(alert->button(QMessageBox::Ok), Qt::LeftButton);
            }
        });
        alertWatch.start(10);
        QTest::mouseClick(sendButton, Qt::LeftButton);
        auto* sheet = window->findChild<QDialog*>("mProgressWindow");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return alertTitle && !sheet->isVisible() && sendButton->isEnabled(); },
            Milliseconds_Patience));
    }

    // A JACK server that misses a deadline around a send (the dummy driver on a loaded machine
    // does) leaves the send uncertain: the message was handed over, but JACK cannot vouch for it.
    // The run then rightly ends without claiming success, naming the file to check. The bytes
    // show that it did arrive; what must never happen is any other complaint. These are the
    // others.
    std::vector<std::string> complaints() const
    {
        std::vector<std::string> others;
        for (const std::string& line : alertLines)
            if (line.find(" may not have arrived at " + destination + ". ") == std::string::npos)
                others.push_back(line);
        return others;
    }

    // Every message of the folder's files that JACK carries arrived whole at the monitor, in
    // order, and none sooner than its delay allows.
    void expectEverythingArrived(const std::filesystem::path& folder)
    {
        std::vector<smf::Bytes> expected;
        std::vector<std::uint64_t> leastGap; // microseconds before each expected message
        std::uint64_t waited = 0; // since the last message that arrives
        std::set<std::filesystem::path> files; // named to sort in sending order
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".mid")
                files.insert(entry.path());
        for (const std::filesystem::path& file : files) {
            if (file != *files.begin())
                waited += Microseconds_FilePause;
            std::ifstream in(file, std::ios::binary);
            smf::Bytes image((std::istreambuf_iterator<char>(in)), {});
            std::vector<_Event> events;
            _SMF reader(image.data(), image.size(), &events);
            [[maybe_unused]] const std::uint32_t total = reader.Scan();
            ASSERT_EQ(reader.ending(), _SMF::Ending::EndOfTrack) << file;
            for (const _Event& event : events) {
                // A refused message is still waited for, in full.
                waited += event.time();
                if (event.size() >= Bytes_TooLarge)
                    continue;
                expected.emplace_back(event.ptr(), event.ptr() + event.size());
                leastGap.push_back(waited);
                waited = 0;
            }
        }
        // By the alert every send has returned, and a send returns only after the cycle that
        // carried its message; the monitor prints what arrived within its poll.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return monitorLines().size() >= expected.size() + 1; }, Milliseconds_Patience));
        ASSERT_EQ(monitor->stop(SIGTERM), 0) << "the monitor saves what arrived as it ends";
        const std::vector<std::string> lines = monitorLines();
        ASSERT_EQ(lines.size(), expected.size() + 1) << "where it listens, then one a message";
        smf::Bytes all;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("message " + std::to_string(i) + ": " + lines[i + 1]);
            all.insert(all.end(), expected[i].begin(), expected[i].end());
            char crc[16];
            std::snprintf(crc, sizeof crc, "crc32 %08X", midi::crc32(expected[i]));
            EXPECT_NE(lines[i + 1].find(crc), std::string::npos);
            if (i == 0)
                continue;
            // The monitor stamps a message with the time its JACK cycle is processed, not with
            // the moment it was sent: a stamp stands up to one period after its send. The next
            // message is sent a full delay after the previous one was, and is stamped no earlier
            // than it is sent, so two stamps are at least the delay apart less the one period by
            // which the earlier stamp may lag its send.
            const std::uint64_t gap = std::stoull(lines[i + 1]) - std::stoull(lines[i]);
            EXPECT_GE(gap + Microseconds_Period, leastGap[i]);
        }
        std::ifstream saved(syx(), std::ios::binary);
        EXPECT_TRUE(smf::Bytes(std::istreambuf_iterator<char>(saved), {}) == all)
            << "the bytes saved differ from the messages sent, in order";
    }

    testsupport::TempDir logs;
    std::optional<testsupport::JackServer> server;
    // Started after the server, stopped before it.
    std::optional<testsupport::ChildProcess> monitor;
    std::unique_ptr<_Controller> controller;
    QTimer alertWatch;
    std::string destination; // as the pop-up lists the monitor
    std::optional<std::string> alertTitle;
    std::vector<std::string> alertLines;
};

// The update the build generates: firmware blocks, a 32,000-byte bank near the most JACK
// carries, a file whose tempo changes halfway.
TEST_F(EndToEnd, TheSampleUpdateArrivesWholeInOrderAndNoMessageEarly)
{
    sendFolder(MORVEX_SAMPLE_FOLDER);
    ASSERT_TRUE(alertTitle);
    EXPECT_TRUE(*alertTitle == "Complete Update" || *alertTitle == "Update Incomplete")
        << *alertTitle;
    EXPECT_EQ(complaints(), std::vector<std::string>());
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
    sendFolder(folder.path());
    ASSERT_TRUE(alertTitle);
    EXPECT_EQ(*alertTitle, "Update Incomplete");
    const std::vector<std::string> refused = complaints();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(
        refused[0].rfind(
            "2-too-large.mid: 1 of 1 messages were not delivered to " + destination + ". ", 0),
        0u)
        << refused[0];
    expectEverythingArrived(folder.path());
}

} // namespace
