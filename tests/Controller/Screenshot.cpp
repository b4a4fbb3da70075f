#include "StandInClient.h"
#include "support/SmfBuilder.h"
#include "support/TempDir.h"

#include <QTest>
#include <QtWidgets>
#include <cstdio>
#include <string_view>

namespace {

// Saves what widget shows to path and reads it back: a picture of the widget's size in more than
// one colour, so that a picture that was never drawn fails here rather than reach the README.
bool drawn(QWidget& widget, const char* path)
{
    const QString file = QString::fromLocal8Bit(path);
    if (!widget.grab().save(file))
        return false;
    const QImage image = QImage(file).convertToFormat(QImage::Format_RGB32);
    QImage plain(image.size(), image.format());
    plain.fill(image.pixel(0, 0));
    return image.size() == widget.size() * widget.devicePixelRatio() && image != plain;
}

} // namespace

// Draws the main window as a user first meets it, with three MIDI destinations, a folder of
// update files and a destination chosen, and saves the picture to the first path given; then
// presses Send and draws the progress sheet partway through the update to the second. The folder is
// made in a temporary folder, or with --in-home in the home folder (as the README's pictures
// show it), and removed again:
//   QT_QPA_PLATFORM=offscreen morvex_screenshot --in-home doc/main-window.png
//   doc/progress-sheet.png
int main(int argc, char** argv)
{
    const bool inHome = argc > 1 && std::string_view(argv[1]) == "--in-home";
    if (argc != (inHome ? 4 : 3)) {
        std::fprintf(stderr, "usage: %s [--in-home] main-window.png progress-sheet.png\n", argv[0]);
        return 2;
    }
    const char* const pictures[] = { argv[argc - 2], argv[argc - 1] }; // before Qt takes its own
    QApplication application(argc, argv);
    application.setStyle(QStringLiteral("Fusion"));

    const testsupport::TempDir scratch;
    const std::filesystem::path folder
        = (inHome ? std::filesystem::path(QDir::homePath().toStdString()) : scratch.path())
        / "Synth Firmware 2.1";
    if (!std::filesystem::create_directory(folder)) {
        std::fprintf(stderr, "%s is in the way\n", folder.c_str());
        return 1;
    }
    // Each file's messages, their size and the ticks between them (48 a quarter, 120 a minute).
    const std::tuple<const char*, int, std::uint32_t, std::uint32_t> files[]
        = { { "01 Boot.mid", 24, 256, 3 }, { "02 System.mid", 60, 256, 4 },
              { "03 Wavetables.mid", 1, 32000, 0 }, { "04 Voices.mid", 40, 256, 5 } };
    for (const auto& [name, messages, size, ticks] : files) {
        testsupport::SmfBuilder writer;
        for (int i = 0; i < messages; ++i)
            writer.sysexOfSize(ticks, size, static_cast<std::uint8_t>(i));
        scratch.write(folder / name, writer.file()); // the folder's path is absolute
    }

    const auto midi = std::make_shared<testsupport::StandInScript>();
    morvex::Result<std::unique_ptr<_Controller>> opened
        = _Controller::open(testsupport::standInService(
            { "Synth A MIDI 1", "Synth A MIDI 2", "USB MIDI Interface" }, midi));
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.reason().c_str());
        return 1;
    }
    const std::unique_ptr<_Controller> controller = opened.take();
    controller->applicationWillFinishLaunching();
    controller->scanDirectory(QString::fromStdString(folder.string()));
    QWidget* window = controller->mainWindow();
    auto* popUp = window->findChild<QComboBox*>("mDevicePopUpButton");
    auto* summary = window->findChild<QLabel*>("mSummaryTextField");
    bool saved = QTest::qWaitFor([&] { return popUp->count() > 2; }, 60000);
    QTest::keyClick(popUp, Qt::Key_Down);
    saved = QTest::qWaitFor([&] { return summary->text().startsWith("4 files"); }, 60000) && saved;
    saved = popUp->currentText() == "Synth A MIDI 1" && saved;
    QApplication::processEvents(); // lays out what changed: a field given a longer text widens
    saved = drawn(*window, pictures[0]) && saved;
    // The sheet stands still to be drawn once a third of the messages have gone.
    QTest::mouseClick(window->findChild<QPushButton*>("mSendButton"), Qt::LeftButton);
    saved = QTest::qWaitFor([&] { return midi->sends >= 40; }, 60000) && saved;
    midi->holding = true;
    QTest::qWait(200); // and lays out the sheet's fields anew
    auto* sheet = window->findChild<QDialog*>("mProgressWindow");
    const QString percent = sheet->findChild<QLabel*>("mPercentTextField")->text();
    saved = !percent.isEmpty() && !percent.startsWith("0 ") && drawn(*sheet, pictures[1]) && saved;
    midi->release();
    controller->applicationWillTerminate();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (!saved)
        std::fprintf(stderr, "the update was not shown, or its pictures not saved\n");
    return saved ? 0 : 1;
}
