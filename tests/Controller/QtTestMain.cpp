#include <QApplication>
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer. Its thread pool (Qt Gui paints and converts images on it)
// hands work over under futex-based locks that the sanitizer cannot see, and then the allocations
// and copies made inside Qt look like races. Only what instrumented code does is checked: ours.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
#endif

// The controller's tests need a real Qt application and event loop; without a display they run
// on the offscreen platform.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
