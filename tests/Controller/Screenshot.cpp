#include "SMF/SmfWriter.h"
#include "StandInClient.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <filesystem>

namespace {

bool save(QWidget* widget, const char* path)
{
    // Lays out what changed since the last pass: a field given a longer text is widened.
    QApplication::processEvents();
    if (widget->grab().save(QString::fromLocal8Bit(path)))
        return true;
    std::fprintf(stderr, "cannot save the picture to %s\n", path);
    return false;
}

} // namespace

// Draws the main window as a user first meets it, with three MIDI destinations, a folder of
// update files and a destination chosen, and saves the picture to the first path given; with a
// second path, presses Send and draws the progress sheet partway through the first file:
//   QT_QPA_PLATFORM=offscreen morvex_screenshot doc/main-window.png doc/progress-sheet.png
int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s main-window.png [progress-sheet.png]\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    application.setStyle(QStringLiteral("Fusion"));

    testsupport::TempDir scratch;
    const std::filesystem::path folder = scratch.path() / "Synth Firmware 2.1";
    std::filesystem::create_directory(folder);
    // The transfer stops to wait a long while after the first two messages (one tick a quarter
    // note at the slowest tempo), so that the sheet stands still to be drawn.
    const smf::Bytes file = smf::SmfWriter(1)
                                .sysexOfSize(0, 256)
                                .sysexOfSize(0, 256)
                                .tempo(0, 0xFFFFFF)
                                .sysexOfSize(200, 256)
                                .file();
    for (const char* name : { "Part 10 - Voices.mid", "Part 2 - System.mid", "Part 1 - Boot.mid",
             "Part 3 - Wavetables.mid", "Readme.txt" })
        scratch.write(folder.filename() / name, file);

    _Controller controller(
        testsupport::standInService({ "Synth A MIDI 1", "Synth A MIDI 2", "USB MIDI Interface" }));
    controller.applicationWillFinishLaunching();
    controller.scanDirectory(QString::fromStdString(folder.string()));
    auto* popUp = controller.mainWindow()->findChild<QComboBox*>("mDevicePopUpButton");
    QTest::keyClick(popUp, Qt::Key_Down);
    QApplication::processEvents();

    bool saved = save(controller.mainWindow(), argv[1]);
    if (argc == 3) {
        QTest::mouseClick(
            controller.mainWindow()->findChild<QPushButton*>("mSendButton"), Qt::LeftButton);
        auto* sheet = controller.mainWindow()->findChild<QDialog*>("mProgressWindow");
        auto* percent = sheet->findChild<QLabel*>("mPercentTextField");
        saved = QTest::qWaitFor([&] { return percent->text() == "16 %"; }, 60000)
            && save(sheet, argv[2]) && saved;
    }
    controller.applicationWillTerminate();
    return saved ? 0 : 1;
}
