#include "Controller/SignalNotifier.h"
#include "Controller/Translations.h"
#include "Controller/_Controller.h"
#include "Morvex/Version.h"

#include <QApplication>
#include <QSessionManager>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <thread>

int main(int argc, char** argv)
{
    // Answered without a display, as the terminal programs answer it: a package check or a
    // person at a bare terminal asks which Morvex this is.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("morvex %s\n", morvex::Version);
        return 0;
    }
    // Before Qt starts any thread, so that every thread inherits the blocked signals.
    process::OpenedQuitSignals quit = process::QuitSignals::open();
    QApplication application(argc, argv);
    installTranslations(application);
    morvex::Result<std::unique_ptr<_Controller>> opened
        = _Controller::open([](const std::string& name) { return midi::Client::open(name); });
    if (!opened) {
        std::fprintf(stderr, "morvex: %s\n", opened.reason().c_str());
        return 1;
    }
    _Controller& controller = *opened.value();
    // Quitting takes a second at most, whatever the MIDI service does: a close or a connection
    // that does not come back is not waited for beyond most of it, the rest being the signal's
    // way to the event loop and the process's end. Morvex keeps nothing to save.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [] {
        std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(750));
            std::fputs("morvex: the MIDI service did not let go within a second; Morvex ended "
                       "without it\n",
                stderr);
            std::_Exit(0);
        }).detach();
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &controller,
        &_Controller::applicationWillTerminate);
    // The session is ending: a transfer cannot outlive it, so it stops now, not at its next check.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &controller,
        [&controller](QSessionManager&) { controller.stopTransfer(); });
    if (quit.quitSignals) {
        auto* notifier = new SignalNotifier(std::move(*quit.quitSignals), &application);
        QObject::connect(notifier, &SignalNotifier::received, &controller, &_Controller::quitNow);
    } else {
        std::fprintf(stderr, "morvex: %s\n", quit.error.c_str());
    }
    controller.applicationWillFinishLaunching();
    return QApplication::exec();
}
