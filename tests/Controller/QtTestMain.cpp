#include <QApplication>
#include <gtest/gtest.h>

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
