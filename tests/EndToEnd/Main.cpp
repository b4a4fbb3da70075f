#include <QApplication>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: its thread pool hands work over under futex-based locks
// that the sanitizer cannot see, and what Qt does is not checked. The controller's tests tell the
// sanitizer to look away from every uninstrumented library; here libjack would be among them, and
// it cancels its threads inside blocking calls when a client closes, which the sanitizer cannot
// survive while it looks away (it ends the run: "finished with ignores enabled"). So only Qt's
// libraries are named; JACK's locks stay visible, which the code that talks to it needs anyway.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif

// The window runs on a real Qt application and event loop; without a display, on the offscreen
// platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
