#include "StandInClient.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QTest>
#include <cstdio>
#include <filesystem>

// Draws the main window as a user first meets it, with three MIDI destinations, a folder of
// update files and a destination chosen, and saves the picture to the path given:
//   QT_QPA_PLATFORM=offscreen morvex_screenshot doc/main-window.png
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s picture.png\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    application.setStyle(QStringLiteral("Fusion"));

    testsupport::TempDir scratch;
    const std::filesystem::path folder = scratch.path() / "Synth Firmware 2.1";
    std::filesystem::create_directory(folder);
    const testsupport::Bytes file
        = testsupport::SmfBuilder().sysexOfSize(0, 256).sysexOfSize(24, 256).file();
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

    const QString picture = QString::fromLocal8Bit(argv[1]);
    const bool saved = controller.mainWindow()->grab().save(picture);
    controller.applicationWillTerminate();
    if (!saved) {
        std::fprintf(stderr, "cannot save the picture to %s\n", argv[1]);
        return 1;
    }
    return 0;
}
