#include "support/PipeWire.h"

#include "support/Jack.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

// Whether a JACK client opened now runs cycles.
bool cyclesRun()
{
    std::atomic<unsigned> cycles { 0 }; // outlives the client that counts them
    const auto count = [](jack_nframes_t, void* counter) {
        static_cast<std::atomic<unsigned>*>(counter)->fetch_add(1);
        return 0;
    };
    const JackClient probe = ownClient("morvex-probe");
    return probe && runEachCycle(probe.get(), count, &cycles)
        && waitUntil(std::chrono::seconds(2), [&] { return cycles.load() > 2; });
}

} // namespace

bool onPipeWire()
{
    const char* server = std::getenv("MORVEX_TEST_SERVER");
    return server && std::string(server) == "pipewire";
}

bool PipeWireServer::installed()
{
    for (const char* program : { "pipewire", "wireplumber", "pw-jack" })
        if (findProgram(program).empty())
            return false;
    return true;
}

PipeWireServer::PipeWireServer(unsigned quantum)
{
    if (!std::strstr(jack_get_version_string(), "PipeWire"))
        throw std::runtime_error(std::string("this process runs on another libjack than "
                                             "PipeWire's: ")
            + jack_get_version_string());
    const auto runtime = mFolder.path() / "run";
    const auto dropIns = mFolder.path() / "config" / "pipewire" / "pipewire.conf.d";
    std::filesystem::create_directories(dropIns);
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    // The quantum stays put: PipeWire would otherwise follow what its clients ask for, and in a
    // virtual machine raise its least to 1,024.
    const std::string frames = std::to_string(quantum);
    std::ofstream(dropIns / "morvex-test.conf")
        << "context.properties = {\n    default.clock.rate = 48000\n    default.clock.quantum = "
        << frames << "\n    default.clock.min-quantum = " << frames
        << "\n    default.clock.max-quantum = " << frames
        << "\n    vm.overrides = { default.clock.min-quantum = " << frames << " }\n}\n";
    mRuntime.emplace("PIPEWIRE_RUNTIME_DIR", runtime.string());
    mSettings.emplace("XDG_CONFIG_HOME", (mFolder.path() / "config").string());
    mState.emplace("XDG_STATE_HOME", (mFolder.path() / "state").string());
    // No session bus, so that nothing reaches the desktop's: wireplumber goes on without one.
    mNoBus.emplace("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime / "no-bus").string());
    mPipeWire.emplace(std::vector<std::string> { "pipewire" }, mFolder.path() / "pipewire.log");
    if (!waitUntil(std::chrono::seconds(20),
            [&] { return std::filesystem::exists(runtime / "pipewire-0"); }))
        throw std::runtime_error("pipewire did not start:\n" + log());
    mSessionManager.emplace(
        std::vector<std::string> { "wireplumber" }, mFolder.path() / "wireplumber.log");
    if (!waitUntil(std::chrono::seconds(20), cyclesRun, std::chrono::milliseconds(100)))
        throw std::runtime_error("PipeWire ran no JACK client's cycles:\n" + log());
}

std::string PipeWireServer::log() const
{
    std::string text;
    for (const char* name : { "pipewire.log", "wireplumber.log" })
        text += std::string(name) + ":\n" + readText(mFolder.path() / name);
    return text;
}

} // namespace testsupport
