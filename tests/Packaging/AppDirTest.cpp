// Morvex laid out as a vendor ships it, Morvex.AppDir inside the update's folder, opens on that
// folder even when started by the desktop entry's command, its bare name found on PATH. (AppRun
// and run-morvex start it by the full path of the program inside the AppDir.)

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <array>
#include <gtest/gtest.h>
#include <regex>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using namespace testsupport;

// Whether folder itself is opened (listed): Morvex lists its default folder at once.
::testing::AssertionResult opened(int watch)
{
    return waitFor("Morvex to list the folder that holds its AppDir", [watch] {
        alignas(inotify_event) std::array<char, 4096> events {};
        const ssize_t size = ::read(watch, events.data(), events.size()); // -1 while none came
        for (ssize_t at = 0; at < size;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events.data() + at);
            if ((event->mask & IN_ISDIR) != 0 && event->len == 0)
                return true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        return false;
    });
}

TEST(AppDir, MorvexStartedByItsDesktopEntryOpensOnTheFolderThatHoldsItsAppDir)
{
    const TempDir update;
    const auto folder = update.path() / "Synth Update";
    std::filesystem::create_directory(folder);
    const TempDir logs;
    const auto installed = run({ "cmake", "--install", MORVEX_BUILD_FOLDER, "--component", "AppDir",
                                   "--prefix", folder.string() },
        logs.path());
    ASSERT_EQ(installed.status, 0) << installed.err;
    const std::string appDir = (folder / "Morvex.AppDir").string();
    const std::string desktop = readText(folder / "Morvex.AppDir" / "morvex.desktop");
    std::smatch exec;
    ASSERT_TRUE(std::regex_search(desktop, exec, std::regex("\nExec=([^\n]*)"))) << desktop;

    // No MIDI service to wait for: a JACK server that does not exist.
    const std::string environment = "QT_QPA_PLATFORM=offscreen MORVEX_MIDI=jack "
                                    "JACK_DEFAULT_SERVER=morvex-test-nobody-"
        + std::to_string(::getpid()) + " PATH='" + appDir + "/usr/bin':\"$PATH\" ";
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_OPEN), 0);
    ChildProcess morvex(
        { "sh", "-c", "cd / && exec env " + environment + exec[1].str() }, logs.path() / "out.txt");
    EXPECT_TRUE(opened(watch)) << readText(logs.path() / "out.txt");
    EXPECT_EQ(morvex.stop(SIGTERM), 0) << "an orderly end";
    ::close(watch);
}

} // namespace
