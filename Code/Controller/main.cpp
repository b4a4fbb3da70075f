#include "_Controller.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    _Controller controller(&midi::Client::open);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &controller,
        &_Controller::applicationWillTerminate);
    controller.applicationWillFinishLaunching();
    return QApplication::exec();
}
