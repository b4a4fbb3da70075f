// The main window and its controller under a real Qt event loop, driven as a user drives them,
// with a stand-in MIDI service, and the whole way to morvex-monitor on a private JACK server.
// Transfers run on their real thread with the real clock.

#include "Controller/SignalNotifier.h"
#include "Controller/Translations.h"
#include "StandInClient.h"
#include "support/Bytes.h"
#include "support/Jack.h"
#include "support/OutsideNames.h"
#include "support/Scanned.h"
#include "support/SmfBuilder.h"

#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

using SmfWriter = testsupport::SmfBuilder;
using Log = std::vector<std::string>;

namespace {

// Runs the event loop until condition holds; a failure naming what when limit passes first.
::testing::AssertionResult waitFor(const std::string& what, const std::function<bool()>& condition,
    std::chrono::seconds limit = testsupport::WaitLimit)
{
    if (QTest::qWaitFor(condition, std::chrono::milliseconds(limit).count()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "gave up after " << limit.count() << " s waiting for " << what;
}

// What a tooltip shows the person: Qt takes one that looks like markup for markup.
std::string shownBy(const QString& toolTip)
{
    return (Qt::mightBeRichText(toolTip) ? QTextDocumentFragment::fromHtml(toolTip).toPlainText()
                                         : toolTip)
        .toStdString();
}

QString pathOf(const std::filesystem::path& folder)
{
    return QString::fromStdString(folder.string());
}

// Whether what a message box says below its title reaches the person whole: read as plain text,
// no line beyond its label's height nor word beyond its width, and the box on the screen.
::testing::AssertionResult shownWhole(const QMessageBox& box)
{
    const auto* said = box.findChild<QLabel*>("qt_msgbox_informativelabel");
    if (!said) // the title alone
        return ::testing::AssertionSuccess();
    const char* fault = said->textFormat() != Qt::PlainText && Qt::mightBeRichText(said->text())
        ? "read as markup, its lines run together"
        : said->heightForWidth(said->width()) > said->height() ? "lines cut off at the bottom"
        : said->minimumSizeHint().width() > said->width()      ? "a word cut off at the right"
        : !box.screen()->availableGeometry().contains(box.geometry()) ? "beyond the screen"
                                                                      : nullptr;
    if (!fault)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << fault << ": " << said->text().toStdString();
}

class Window : public ::testing::Test {
protected:
    // Launches outside an AppDir, so on the working folder, on the stand-in MIDI service unless
    // another is given, then lists files and chooses the first destination.
    void launch(std::vector<std::string> destinations = { "Synth" },
        _Controller::OpenClient service = nullptr)
    {
        midi = std::make_shared<testsupport::StandInScript>();
        morvex::Result<std::unique_ptr<_Controller>> opened = _Controller::open(service
                ? std::move(service)
                : testsupport::standInService(std::move(destinations), midi));
        ASSERT_TRUE(opened.ok()) << opened.reason();
        controller = opened.take();
        controller->applicationWillFinishLaunching();
        window = controller->mainWindow();
        popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
        sendButton = window->findChild<QPushButton*>("mSendButton");
        sheet = window->findChild<QDialog*>("mProgressWindow");
        table = window->findChild<QTableView*>("mTableView")->model();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        EXPECT_EQ(window->findChild<QLineEdit*>("mFolderTextField")->text(), QDir::currentPath());
        controller->scanDirectory(pathOf(files.path()));
        const QString connecting
            = QCoreApplication::translate("DeviceChoice", "Connecting to the MIDI service...");
        ASSERT_TRUE(waitFor("the MIDI service taken up",
            [this, connecting] { return popUp->itemText(0) != connecting; }));
        QTest::keyClick(popUp, Qt::Key_Down);
    }

    void TearDown() override
    {
        if (midi)
            midi->release();
        if (controller)
            controller->applicationWillTerminate();
    }

    // The progress sheet's fields, "status|file|remaining|percent", and whether its bar shows only
    // that work goes on.
    std::string sheetShows() const
    {
        QStringList fields;
        for (const QLabel* field : sheet->findChildren<QLabel*>())
            if (!field->isHidden())
                fields.append(field->text());
        const bool busy = sheet->findChild<QProgressBar*>()->maximum() == 0;
        return fields.join('|').toStdString() + (busy ? " busy" : "");
    }
    // How many of Quit, Select and the Pace menu are enabled: all while the window is the user's
    // (idle), none under the sheet.
    int menuItemsOn() const
    {
        return window->findChild<QAction*>("mQuitMenuItem")->isEnabled()
            + window->findChild<QAction*>("mSelectMenuItem")->isEnabled()
            + window->findChild<QMenu*>("mPaceMenu")->isEnabled();
    }
    bool idle() const { return !sheet->isVisible() && menuItemsOn() == 3; }

    // The pop-up's entries, or the table's rows, joined by '|'.
    static std::string rows(const QAbstractItemModel* model)
    {
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

    // Notes the alert's title and, a line each, what it says, from its details when it has them;
    // presses OK.
    void pressOkOnAlert()
    {
        whenUp<QMessageBox>([this](QMessageBox& alert) {
            EXPECT_TRUE(shownWhole(alert));
            const QString said
                = alert.detailedText().isEmpty() ? alert.informativeText() : alert.detailedText();
            alerts.push_back((alert.windowTitle() + '\n' + said).toStdString());
            QTest::mouseClick(alert.button(QMessageBox::Ok), Qt::LeftButton);
        });
    }

    std::optional<testsupport::JackMonitor> jack; // goes after Morvex's client
    testsupport::TempDir files;
    std::shared_ptr<testsupport::StandInScript> midi;
    std::unique_ptr<_Controller> controller;
    QMainWindow* window = nullptr;
    QComboBox* popUp = nullptr;
    QPushButton* sendButton = nullptr;
    QDialog* sheet = nullptr;
    const QAbstractItemModel* table = nullptr;
    QTimer watch;
    std::vector<std::string> alerts;
};

// A user's way to an update. The pop-up lists every destination whole, twins too, after
// "No device" and a separator. The folder confirmed in the chooser, which Ctrl+O opens, judges
// Send. A damaged file is asked about before anything goes out, as are other programs that send
// to the device; Cancel is the default and sends nothing. Send takes the window under a modal
// sheet, which shows the pace chosen, sends to the destination chosen, and Cancel gives the
// window back without an alert.
TEST_F(Window, AFolderIsChosenQuestionsComeFirstAndTheSheetHoldsTheWindowUntilCancel)
{
    const std::filesystem::path folder = files.path() / "Mises à jour"; // files holds no file
    std::filesystem::create_directory(folder);
    files.write(folder.filename() / "A.mid",
        SmfWriter().sysexOfSize(0, 100, 1).sysexOfSize(0, 300, 2).file());
    // Named as markup would begin, so that the question shows it.
    files.copyData("cut-in-event.mid", folder.filename() / "<i>cut.mid");

    launch({ "Ünïcode Synth ♪", "Synth", "Synth" });
    EXPECT_EQ(rows(popUp->model()), "No device||Ünïcode Synth ♪|Synth|Synth");
    EXPECT_EQ(popUp->currentIndex(), 2) << "the arrow key must pass over the separator";
    QTest::keyClick(popUp, Qt::Key_End); // the second twin: destination 2
    EXPECT_FALSE(sendButton->isEnabled()) << "no file is listed";
    whenUp<QFileDialog>([&](QFileDialog& chooser) {
        auto* name = chooser.findChild<QLineEdit*>("fileNameEdit");
        // Typed a key at a time, the path would open the completer's pop-up.
        name->setText(pathOf(folder));
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_FALSE(watch.isActive()) << "the folder chooser did not open";
    EXPECT_TRUE(sendButton->isEnabled()) << "a confirmed folder judges Send";
    EXPECT_EQ(rows(table), "<i>cut.mid|A.mid");

    // A damaged file, then another program that sends to the device: each question's default is
    // Cancel, and Cancel, taken with the Escape key, sends nothing.
    for (const char* asked :
        { "<i>cut.mid ends before its end of track: it is cut off at byte 34.",
            "Also sending to Synth: Clock: out. Their messages would be mixed into the update." }) {
        whenUp<QMessageBox>([asked](QMessageBox& question) {
            EXPECT_EQ(question.defaultButton(), question.button(QMessageBox::Cancel));
            EXPECT_TRUE(shownWhole(question));
            EXPECT_TRUE(question.informativeText().startsWith(asked))
                << question.informativeText().toStdString();
            QTest::keyClick(&question, Qt::Key_Escape);
        });
        QTest::mouseClick(sendButton, Qt::LeftButton);
        ASSERT_TRUE(waitFor("the question answered and the window idle",
            [&] { return !watch.isActive() && idle(); }));
        std::filesystem::remove(folder / "<i>cut.mid");
        controller->scanDirectory(pathOf(folder));
        midi->others = { "Clock: out" };
    }
    EXPECT_EQ(midi->sends, 0u);
    EXPECT_FALSE(midi->shared);
    midi->others.clear();

    window->findChild<QAction*>("mPace4MenuItem")->trigger();
    auto* summary = window->findChild<QLabel*>("mSummaryTextField");
    ASSERT_TRUE(waitFor("the summary four times slower",
        [&] { return summary->text().endsWith(QString::fromUtf8(" · 4× slower")); }));
    midi->holding = true;
    QTest::mouseClick(sendButton, Qt::LeftButton);
    EXPECT_TRUE(sheet->isVisible() && sheet->isModal());
    EXPECT_EQ(sheetShows(), "|4× slower than the files say||| busy");
    ASSERT_TRUE(waitFor("the first send", [&] { return midi->sends == 1; }));
    EXPECT_EQ(midi->destination, 2u) << "the one chosen, the second twin";
    // A destination that appears under the send is listed only once the send is over.
    midi->names.push_back("New");
    midi->changed();
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(popUp->model()), "No device||Ünïcode Synth ♪|Synth|Synth");
    EXPECT_FALSE(sendButton->isEnabled() || menuItemsOn() > 0);
    EXPECT_FALSE(window->close()) << "the window's close control does nothing under the sheet";
    // Should the action arrive despite the disabled button, the send lock turns it away.
    controller->send(sendButton);
    pressOkOnAlert(); // should one come: a modal left open would hold up the wait below
    QTest::mouseClick(sheet->findChild<QPushButton*>("mCancelButton"), Qt::LeftButton);
    midi->release();
    ASSERT_TRUE(waitFor("the window idle after Cancel", [&] { return idle(); }));
    EXPECT_TRUE(alerts.empty()) << "Cancel shows no alert";
    EXPECT_TRUE(sendButton->isEnabled()) << "a destination is chosen and files are listed";
    EXPECT_EQ(rows(popUp->model()), "No device||Ünïcode Synth ♪|Synth|Synth|New");
    EXPECT_EQ(popUp->currentIndex(), 4);
    EXPECT_EQ(midi->sends, 1u) << "no other transfer and nothing after the cancel";
}

// Update folders come from the internet, and device names from whoever made the device: a file
// named to fake a line and to begin as markup, the longest name Linux allows with controls and
// bytes that are not UTF-8, a folder and a destination whose names hold a line feed. Each shows
// escaped, once, in the pop-up, the folder field, the table and its tooltips, the sheet and the end
// alert, never as markup, and no control reaches a widget. A long name is cut in the middle on the
// sheet and whole in its tooltip and the alert's details. The files are still sent as they are
// named.
TEST_F(Window, NamesFromOutsideShowEscapedOnceAndALongOneIsCutInTheMiddle)
{
    const std::string longShown = testsupport::LongShown;
    const std::string hostileShown = "<b>" + testsupport::HostileShown;
    const std::filesystem::path folder = files.path() / "Update\nFAKE";
    std::filesystem::create_directory(folder);
    // Neither file has its End of Track, so that the end alert names both.
    for (const std::string& name : { testsupport::LongName, "<b>" + testsupport::HostileName })
        files.copyData("no-end-of-track.mid", folder.filename() / name);

    launch({ "Evil\n1  Serial MIDI (UART16550A)" });
    controller->scanDirectory(pathOf(folder));
    controller->device(popUp);
    EXPECT_EQ(rows(popUp->model()), "No device||Evil\\n1  Serial MIDI (UART16550A)");
    EXPECT_EQ(window->findChild<QLineEdit*>("mFolderTextField")->text(),
        pathOf(files.path()) + "/Update\\nFAKE");
    EXPECT_EQ(rows(table), longShown + '|' + hostileShown);
    EXPECT_EQ(shownBy(table->index(0, 0).data(Qt::ToolTipRole).toString()), longShown);
    EXPECT_EQ(shownBy(table->index(1, 0).data(Qt::ToolTipRole).toString()), hostileShown);

    // Held in the long name's first message, the sheet shows it.
    midi->holding = true;
    QTest::mouseClick(sendButton, Qt::LeftButton);
    auto* file = sheet->findChild<QLabel*>("mFileTextField");
    ASSERT_TRUE(waitFor("the file on the sheet", [&] { return !file->text().isEmpty(); }));
    EXPECT_TRUE(file->text().startsWith("\\t\\r\\x7F") && file->text().contains("x…x")
        && file->text().endsWith("x.mid"))
        << file->text().toStdString();
    // Every text a widget shows, the window's title among them, as the test leaves the sheet.
    QStringList texts { window->windowTitle(), sheet->windowTitle(),
        QString::fromStdString(rows(popUp->model())), QString::fromStdString(rows(table)) };
    for (const QLabel* label : window->findChildren<QLabel*>())
        texts << label->text() << label->toolTip();
    // The sheet's fields never take a name for markup.
    for (const QLabel* label : sheet->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    pressOkOnAlert();
    midi->release();
    ASSERT_TRUE(
        waitFor("the end alert and the window idle", [&] { return alerts.size() == 1 && idle(); }));
    EXPECT_EQ(midi->sends, 4u) << "every message went out";
    const std::string noEnd
        = " has no end of track after its last message (byte 46); its messages are whole.";
    EXPECT_EQ(alerts[0].substr(alerts[0].find('\n') + 1),
        longShown + noEnd + '\n' + hostileShown + noEnd);
    texts << QString::fromStdString(alerts[0]).split('\n');
    for (const QString& text : texts)
        EXPECT_EQ(testsupport::controlsIn(text.toStdString()), "") << text.toStdString();
}

// The window and the damaged-file question in the locale's language, English word for word as
// designed where Morvex has no translation: run under LANG=de_DE.UTF-8, ja_JP.UTF-8 and C too
// (CMakeLists.txt). Qt's own buttons take Qt's translations.
TEST_F(Window, SpeaksTheLanguageOfTheLocale)
{
    const std::map<QLocale::Language, std::string> expected {
        { QLocale::C, "&Device:|Se&nd|Damaged Files|Send Anyway|Cancel" },
        { QLocale::German, "&Gerät:|Se&nden|Beschädigte Dateien|Trotzdem senden|Abbrechen" },
        { QLocale::Japanese, "デバイス(&D):|送信(&N)|破損したファイル|それでも送信|キャンセル" },
    };
    installTranslations(*qApp);
    files.copyData("cut-in-event.mid", "cut.mid");
    launch();
    QString shown = window->findChild<QLabel*>("deviceLabel")->text() + '|' + sendButton->text();
    whenUp<QMessageBox>([&](QMessageBox& question) {
        shown += '|' + question.windowTitle() + '|' + question.buttons().front()->text() + '|'
            + question.button(QMessageBox::Cancel)->text();
        QTest::keyClick(&question, Qt::Key_Escape);
    });
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor(
        "the question answered and the window idle", [&] { return !watch.isActive() && idle(); }));
    const auto language = expected.find(QLocale().language());
    EXPECT_EQ(shown.toStdString(),
        (language != expected.end() ? language : expected.find(QLocale::C))->second);
}

// A quit signal ends Morvex within its event loop's next turn, in a delay after the first
// message: the loop returns, the transfer stops without sending more, and the port goes before the
// client.
TEST_F(Window, AQuitSignalInADelayEndsMorvexWithoutSendingMore)
{
    process::OpenedQuitSignals opened = process::QuitSignals::open();
    ASSERT_TRUE(opened.quitSignals) << opened.error;
    SignalNotifier notifier(std::move(*opened.quitSignals), nullptr);
    // One tick a quarter note at the slowest tempo: the second message waits about 56 minutes.
    files.write("A.mid",
        SmfWriter(1).sysexOfSize(0, 10, 1).tempo(0, 0xFFFFFF).sysexOfSize(200, 10, 2).file());
    launch();
    QObject::connect(&notifier, &SignalNotifier::received, controller.get(), &_Controller::quitNow);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, controller.get(),
        &_Controller::applicationWillTerminate);
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor("the first send", [&] { return midi->sends == 1; }));
    ASSERT_EQ(raise(SIGTERM), 0);
    QTimer hang; // a hang fails rather than hangs
    hang.callOnTimeout([] { QCoreApplication::exit(1); });
    hang.start(std::chrono::milliseconds(testsupport::WaitLimit));
    EXPECT_EQ(QApplication::exec(), 0) << "gave up waiting for Morvex to quit on the signal";
    EXPECT_EQ(midi->sends, 1u);
    EXPECT_EQ(midi->closed, Log({ "port", "client" }));
}

// The whole way, as a user sends an update: the real MIDI layer on a private JACK server, with
// morvex-monitor as the one device, and the sample update listed. Firmware blocks, a 32,000-byte
// bank near the most JACK carries, a file whose tempo changes halfway: every message arrives whole
// and in order. Afterwards the pop-up follows the server's destinations: one that appears is
// listed, the one chosen stays chosen while it exists, and when it goes the pop-up falls back to
// no device, which disables Send.
TEST_F(Window, OnJackTheSampleUpdateArrivesWholeInOrderAndThePopUpFollowsDestinations)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    jack.emplace(); // first: destinations are listed when Morvex's client opens
    launch({}, [](const std::string& name) { return midi::Client::open(name); });
    controller->scanDirectory(MORVEX_SAMPLE_FOLDER);
    controller->device(popUp); // as the monitor, chosen before, is chosen again
    ASSERT_EQ(rows(popUp->model()), "No device||monitor:Monitor");
    pressOkOnAlert();
    QTest::mouseClick(sendButton, Qt::LeftButton);
    // The update's own delays and pauses take about 25 s.
    ASSERT_TRUE(waitFor(
        "the end alert", [&] { return alerts.size() == 1 && idle(); }, 2 * testsupport::WaitLimit));
    // A JACK server that misses a deadline around a send (the dummy driver on a loaded machine
    // does) leaves the send uncertain: the run rightly ends without claiming success, naming the
    // file to check. The bytes show that it did arrive; no other complaint may appear.
    const QStringList said = QString::fromStdString(alerts[0]).split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(said[0].startsWith(said.size() > 1 ? "Update Incomplete" : "Complete Update"))
        << alerts[0];
    for (const QString& line : said.mid(1))
        EXPECT_TRUE(line.contains(" may not have arrived at monitor:Monitor. "))
            << line.toStdString();

    // One line a message: a message split or joined with another would show in their number.
    std::vector<smf::Bytes> sent;
    const QDir sample(MORVEX_SAMPLE_FOLDER);
    for (const QString& name : sample.entryList({ "*.mid" }, QDir::Files, QDir::Name)) {
        const auto file
            = testsupport::scan(testsupport::readBytes(sample.filePath(name).toStdString()));
        for (const _Event& event : file.events)
            sent.push_back(file.bytesOf(event));
    }
    EXPECT_TRUE(testsupport::same(jack->received(sent.size()), testsupport::joined(sent)));
    EXPECT_EQ(jack->messages(), sent.size());

    // The monitor, the destination chosen, has gone with the bytes it received.
    ASSERT_TRUE(waitFor("the monitor gone from the pop-up", [&] { return popUp->count() == 2; }));
    EXPECT_FALSE(popUp->currentIndex() != 0 || sendButton->isEnabled());
    std::optional<testsupport::JackReceiver> first(std::in_place, "first", "in");
    testsupport::JackReceiver synth("synth", "in");
    ASSERT_TRUE(waitFor("first and synth in the pop-up", [&] { return popUp->count() == 4; }));
    EXPECT_EQ(rows(popUp->model()), "No device||first:in|synth:in");
    QTest::keyClick(popUp, Qt::Key_End);
    first.reset();
    ASSERT_TRUE(waitFor("first gone from the pop-up", [&] { return popUp->count() == 3; }));
    EXPECT_EQ(popUp->currentText().toStdString(), "synth:in") << "still chosen, at its new place";
}

// The device holds the update: on a private JACK server, morvex-monitor answers the first block
// with a WAIT. The window hears it through the device's way back, the sheet says so, and Cancel
// ends the update there, with nothing sent after the first block and no alert.
TEST_F(Window, OnJackAWaitFromTheDeviceHoldsTheUpdateUntilCancel)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    // At a period the dummy driver keeps up with on a loaded machine, so that the answer to the
    // first block is back before the second is due.
    jack.emplace(std::vector<std::string> { "--at", "1:wait", "--hold", "60000" }, 1024);
    // Blocks a second apart: the WAIT to the first is back long before the second is due.
    files.write("update.mid",
        SmfWriter(48).sysexOfSize(0, 256).sysexOfSize(96, 256, 1).sysexOfSize(96, 256, 2).file());
    launch({}, [](const std::string& name) { return midi::Client::open(name); });
    ASSERT_TRUE(waitFor("Send enabled", [&] { return sendButton->isEnabled(); }));
    pressOkOnAlert(); // should one come: a modal left open would hold up the waits below
    QTest::mouseClick(sendButton, Qt::LeftButton);
    ASSERT_TRUE(waitFor("the sheet waiting for the device", [&] {
        return sheetShows().starts_with("Waiting for the device...|");
    })) << sheetShows();
    QTest::mouseClick(sheet->findChild<QPushButton*>("mCancelButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor("the window idle after Cancel", [&] { return idle(); }));
    EXPECT_TRUE(alerts.empty()) << "Cancel shows no alert";
    EXPECT_EQ(jack->received(1).size(), 256u) << "the first block only";
}

// A JACK server stopped dead (SIGSTOP), in a /dev/shm of the test's own (tests/support/private-shm
// runs these). The window comes up all the same, its pop-up names the server that does not answer,
// and once the server runs again its destination is listed. Stopped anew, it holds up neither the
// quit nor the program.
class FrozenServer : public Window { };

TEST_F(FrozenServer, ThePopUpNamesTheServerAndFillsInOnceItRunsAgain)
{
    MORVEX_SKIP_WITHOUT_JACK_SERVER();
    MORVEX_SKIP_WITHOUT_PRIVATE_SHM();
    jack.emplace();
    jack->server().freeze();
    launch({},
        [](const std::string& name) { return midi::Client::open(name, std::chrono::seconds(2)); });
    EXPECT_EQ(popUp->itemText(0).toStdString(),
        "The JACK server \"" + jack->server().name() + "\" does not answer");
    jack->server().thaw();
    ASSERT_TRUE(waitFor("the pop-up filled in", [&] { return popUp->itemText(0) == "No device"; }));
    EXPECT_EQ(rows(popUp->model()), "No device||monitor:Monitor");

    jack->server().freeze();
    controller->applicationWillTerminate();
    controller.reset();
    testsupport::TempDir logs;
    auto morvex = testsupport::start({ MORVEX_WINDOW }, logs.path());
    // Qt's threads start once the quit signals are blocked: SIGTERM is then Morvex's to take.
    ASSERT_TRUE(
        testsupport::waitUntil(std::chrono::seconds(60), [&] { return morvex.threads() >= 2; }));
    const int status = morvex.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    jack->server().thaw(); // so that the monitor can close its own client
}

} // namespace

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its thread pool (Qt Gui paints and converts images on it)
// hands work over under futex-based locks that the sanitizer cannot see, and what Qt does is not
// checked. The same holds for GLib, whose event loop Qt runs on each thread and whose allocator
// frees on one thread what another allocated, under its own futex-based locks. Only these
// libraries are named: looking away from every uninstrumented library would include libjack,
// which cancels its threads inside blocking calls when a client closes, and the sanitizer cannot
// survive that while it looks away ("finished with ignores enabled").
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
#endif

// The window's tests need a real Qt application and event loop; without a display they run on the
// offscreen platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
