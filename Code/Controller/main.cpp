#include "QuitSignals.h"
#include "_Controller.h"

#include <QApplication>
#include <QSessionManager>
#include <cstdio>

int main(int argc, char** argv)
{
    QuitSignals::block();
    QApplication application(argc, argv);
    _Controller controller(&midi::Client::open);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &controller,
        &_Controller::applicationWillTerminate);
    // The session is ending: a transfer cannot outlive it, so it stops now, not at its next check.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &controller,
        [&controller](QSessionManager&) { controller.stopTransfer(); });
    QuitSignals quitSignals(&application);
    if (!quitSignals.error().isEmpty())
        std::fprintf(stderr, "morvex: %s\n", qPrintable(quitSignals.error()));
    QObject::connect(&quitSignals, &QuitSignals::received, &application, &QCoreApplication::quit);
    controller.applicationWillFinishLaunching();
    return QApplication::exec();
}
