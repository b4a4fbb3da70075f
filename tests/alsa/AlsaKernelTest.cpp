// Morvex on a real kernel sequencer: each suite runs inside the vm-run machine of its bed
// (README.md here; CTest starts them, label alsa) and is skipped anywhere else. Only what the
// kernel decides is looked at here: the ports it lists, a real wire's pace, a device unplugged,
// the way back through a device's own port; tests/MIDI/AlsaSendTest.cpp has the rules themselves.
// Each suite is one scenario: one machine, its steps in turn. A hang fails by the bounded waits of
// finish, stop and waitFor.

#include "MIDI/Midi.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"

#include <alsa/asoundlib.h>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <strings.h>
#include <sys/wait.h>

namespace {

using namespace testsupport;
using midi::SendError;
using testing::HasSubstr;

constexpr const char* SerialPort = "Serial MIDI (UART16550A): Serial MIDI 1";
constexpr const char* UsbPort = "Test Synth: MIDI 1";
// makeUpdate's: 20 blocks of 256 bytes 60 ms apart in the first file, 110,000 in the second.
constexpr std::size_t Blocks = 20 * 256, UpdateSize = Blocks + 110000;

// A program started in the machine, its standard output in out() and its standard error in
// said(); returns once it has said ready there. Stopped by its process id when it goes.
class Program {
public:
    Program(const std::vector<std::string>& command, const std::string& ready)
        : mProcess(command, out(), mLogs.path() / "said")
    {
        EXPECT_TRUE(waitFor(command[0] + " to say \"" + ready + "\"",
            [&] { return said().find(ready) != std::string::npos; }));
    }

    std::filesystem::path out() const { return mLogs.path() / "out"; }
    std::string said() const { return readText(mLogs.path() / "said"); }
    int stop() { return mProcess.stop(SIGTERM); }

private:
    TempDir mLogs;
    ChildProcess mProcess;
};

// What the synthesizer behind the usb bed's cable gets from now on, as it gets it, in out().
Program synthReading()
{
    return Program(
        { "sh", "-c", "exec 3<\"$(usb-gadget receiver)\"; echo reading >&2; exec cat <&3" },
        "reading");
}

// A suite's name after "Alsa" names its bed, as in CTest's entries.
class AlsaBed : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* bed = ::testing::UnitTest::GetInstance()->current_test_suite()->name() + 4;
        const char* here = std::getenv("MORVEX_VM_BED");
        if (!here || strcasecmp(here, bed) != 0)
            GTEST_SKIP() << "runs inside vm-run --bed " << bed << " (ctest -L alsa)";
    }

    // Morvex's client and port as the window opens them: the destinations are those of now.
    void openMorvex()
    {
        mClient = midi::Client::open("Morvex");
        ASSERT_EQ(mClient->serviceName(), "ALSA") << mClient->problem();
        auto created = mClient->createOutputPort("Morvex Output Port");
        ASSERT_TRUE(created.ok()) << created.reason();
        mPort = created.take();
    }

    // Past the end of the list when it is not listed: a send there fails as no such destination.
    std::size_t destination(const std::string& name) const
    {
        const auto& all = mClient->destinations();
        return std::ranges::find(all, name, &midi::Destination::name) - all.begin();
    }

    // A shell command's status and what it printed, both outputs in out.
    Finished shell(const std::string& command) const
    {
        return run({ "sh", "-c", command + " 2>&1" }, mShellLogs.path());
    }

    // An update of that shape, replacing the one made before.
    std::filesystem::path makeUpdate(
        const std::string& shape = "--blocks 20 --gap 60-60 --bank-size 110000") const
    {
        const auto folder = mDir.path() / "update";
        std::filesystem::remove_all(folder);
        const Finished made
            = shell(MORVEX_MAKE_UPDATE " '" + folder.string() + "' " + shape + " --no-tempo-file");
        EXPECT_EQ(made.status, 0) << made.out;
        return folder;
    }

    // wire-report's verdict on the bytes in got against folder's messages (its options: --skip,
    // --slack).
    ::testing::AssertionResult wireReport(const std::filesystem::path& folder,
        const std::filesystem::path& got, const std::string& options = "") const
    {
        const Finished report = shell(
            MORVEX_WIRE_REPORT " " + options + " '" + folder.string() + "' '" + got.string() + "'");
        if (report.status == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << report.out;
    }

    TempDir mDir; // morvex-send's logs too
    TempDir mShellLogs;
    timing::SteadyClock mClock;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort; // after its client, so that it goes first
};

// A virtual card ("VirMIDI 0-0" delivers to /dev/snd/midiC0D0), and programs.
using AlsaVirmidi = AlsaBed;

// The pop-up's list on a real sequencer: cards first, then "Midi Through", then programs. A card
// and "Midi Through", which is often routed on to one, go at a wire's pace; a program's is faster,
// yet must suit a receiver slower than that pace for as long as a message lasts: its input queue,
// as the kernel counts it, is looked at before each piece, for the queue is cleared whole when it
// overflows. A second morvex-send while the first sends names it and sends nothing.
TEST_F(AlsaVirmidi, ListsRealClientsWithTheirPaceAndASlowReceiverGetsAllOfAnUpdateOnlyOneSends)
{
    // 10 ms over every event it reads, with the sequencer's default input queue, as a slow
    // software synthesizer does; it says on its standard error whether it lost anything.
    Program receiver({ MORVEX_MONITOR, "--service", "alsa", "--client", "Slow Receiver", "--name",
                         "Input", "--slow", "10", "--syx", (mDir.path() / "got.syx").string() },
        "listening");
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    std::vector<std::string> listed;
    for (const auto& to : mClient->destinations())
        listed.push_back(to.name
            + (to.bytesPerSecond > mClient->destinations()[0].bytesPerSecond ? ", faster" : ""));
    EXPECT_EQ(listed,
        (std::vector<std::string> { "Virtual Raw MIDI 0-0: VirMIDI 0-0",
            "Virtual Raw MIDI 0-1: VirMIDI 0-1", "Virtual Raw MIDI 0-2: VirMIDI 0-2",
            "Virtual Raw MIDI 0-3: VirMIDI 0-3", "Midi Through: Port-0",
            "Slow Receiver: Input, faster" }));

    const auto folder = makeUpdate();
    const std::vector<std::string> send { MORVEX_SEND, "--to", "Slow Receiver: Input", folder };
    const TempDir one, two; // each morvex-send's logs
    auto first = start(send, one.path());
    ASSERT_TRUE(waitFor("the first morvex-send's first message",
        [&] { return !readText(receiver.out()).empty(); }));
    const Finished second = run(send, two.path());
    EXPECT_EQ(second.status, 1);
    EXPECT_THAT(second.err,
        HasSubstr("Nothing was sent: Also sending to Slow Receiver: Input: Morvex: Output Port."));
    const Finished whole = finish(first, one.path());
    EXPECT_EQ(whole.status, 0) << whole.err;
    // Stopped, it saves what it got and says what it lost.
    EXPECT_EQ(receiver.stop(), 0);
    EXPECT_THAT(receiver.said(), testing::Not(HasSubstr("lost")));
    EXPECT_TRUE(wireReport(folder, mDir.path() / "got.syx"));
}

// A serial MIDI interface whose wire the host drains at 3,125 B/s; every byte that reached the
// wire since the machine started is in $MORVEX_VM_SHARE/wire.
class AlsaSerial : public AlsaBed {
protected:
    static std::filesystem::path wire()
    {
        return std::filesystem::path(std::getenv("MORVEX_VM_SHARE")) / "wire";
    }

    // The interface's driver holds bytes after every write has returned.
    Bytes quietWire(std::size_t from = 0) const
    {
        EXPECT_EQ(shell("wire-quiet 1").status, 0);
        return readBytes(wire(), from);
    }
};

TEST_F(AlsaSerial, UpdatesReachTheWireWholeWithTheirPausesStopsEndWithF7AndAHeldDeviceIsNamed)
{
    // A whole update, byte for byte. The device's quiet time before each message (to write a block
    // to flash) starts when the bytes before have left the wire; morvex-send ends right after the
    // last message, and nothing of it may be lost. A busy host's stalls can shorten a silence on
    // the wire; the sends that did not wait for the wire left 0-13 ms for 60 ms delays.
    const auto folder = makeUpdate();
    const std::size_t before = quietWire().size();
    const auto sent = run({ MORVEX_SEND, "--to", SerialPort, folder }, mDir.path());
    EXPECT_EQ(sent.status, 0) << sent.err;
    const std::size_t bank = quietWire().size() + Blocks;
    // wire-report compares what the wire got with the folder's messages, the pauses too.
    EXPECT_TRUE(wireReport(folder, wire(), "--slack 20 --skip " + std::to_string(before)));

    // Quitting (SIGTERM) in the middle of the second file's message ends morvex-send, closes the
    // message on the wire with F7 and names it as not delivered. Stopped as its first bytes reach
    // the wire, while the interface still holds most of a kilobyte: its driver drops what it holds
    // when the port lets it close.
    auto sender = start({ MORVEX_SEND, "--to", SerialPort, folder }, mDir.path());
    ASSERT_TRUE(waitFor("the second file's first bytes on the wire", [&] {
        return std::filesystem::file_size(wire()) >= bank + 128;
    })) << readText(mDir.path() / "err.txt");
    const int status = sender.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(readText(mDir.path() / "err.txt"),
        HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to "
            + std::string(SerialPort) + ". Sending to \"" + SerialPort + "\" was stopped"));
    const Bytes cut = quietWire(bank);
    EXPECT_TRUE(!cut.empty() && cut.size() < UpdateSize - Blocks && cut.back() == 0xF7)
        << cut.size();

    // A device another program holds, which the kernel refuses to open twice, is named so.
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> held(
        std::fopen("/dev/snd/midiC0D0", "w"), std::fclose);
    ASSERT_TRUE(held);
    const auto refused = mPort->send(destination(SerialPort), sysex(100, 4), mClock);
    EXPECT_EQ(refused.error, SendError::NotConnected);
    EXPECT_EQ(refused.reason,
        "Cannot connect to \"" + std::string(SerialPort)
            + "\": another program is using the device; close that program and try again.");
}

// Sends message straight to the first port named port, as any program may to a port that others
// can write to, without a subscription; false when there is no such port or it refused.
bool sendStraightTo(const std::string& port, Bytes message)
{
    snd_seq_t* opened = nullptr;
    if (snd_seq_open(&opened, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        return false;
    const std::unique_ptr<snd_seq_t, int (*)(snd_seq_t*)> sequencer(opened, snd_seq_close);
    const int from = snd_seq_create_simple_port(
        opened, "Out", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_APPLICATION);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    while (from >= 0 && snd_seq_query_next_client(opened, client) >= 0) {
        snd_seq_port_info_set_client(info, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(opened, info) >= 0) {
            if (snd_seq_port_info_get_name(info) != port)
                continue;
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            snd_seq_ev_set_source(&event, from);
            snd_seq_ev_set_dest(
                &event, snd_seq_port_info_get_client(info), snd_seq_port_info_get_port(info));
            snd_seq_ev_set_direct(&event);
            snd_seq_ev_set_sysex(&event, message.size(), message.data());
            return snd_seq_event_output_direct(opened, &event) >= 0;
        }
    }
    return false;
}

// A USB MIDI device, "Test Synth", that usb-gadget unplugs and replugs.
using AlsaUsb = AlsaBed;

TEST_F(AlsaUsb, TheSynthsRefusalStopsTheUpdateAndADeviceThatGoesOrIsSwappedIsNamedAndGetsNothing)
{
    // The synthesizer behind the cable answers through the device's own port: its NAK stops the
    // update with nothing sent after the message refused. Blocks two seconds apart, longer than
    // any answer takes to come back. A NAK that another program sends straight to Morvex's own
    // input port, after the first block, is not the device's word: the update goes on.
    {
        Program synth({ "synth-answers", "--nak", "3" }, "ready");
        auto sender = start({ MORVEX_SEND, "--to", UsbPort,
                                makeUpdate("--blocks 5 --gap 2000-2000 --bank-size 0") },
            mDir.path());
        ASSERT_TRUE(waitFor(
            "the first block at the synth", [&] { return !readText(synth.out()).empty(); }));
        EXPECT_TRUE(sendStraightTo("Morvex Input Port", { 0xF0, 0x7E, 0x11, 0x7E, 0x00, 0xF7 }));
        const Finished refused = finish(sender, mDir.path());
        EXPECT_EQ(refused.status, 1);
        EXPECT_THAT(refused.err,
            HasSubstr("The device refused message 3 of 01-firmware-blocks.mid (NAK). Nothing was "
                      "sent after it"));
        EXPECT_EQ(readText(synth.out()), "1 256\n2 256\n3 256\n")
            << "the synth got something after the NAK";
    }

    // Unplugged in the middle of the second file's message (38 s at the wire's pace), morvex-send
    // names it and ends.
    const auto folder = makeUpdate();
    const auto got = [](const Program& reader) { return std::filesystem::file_size(reader.out()); };
    {
        Program reader = synthReading();
        auto sender = start({ MORVEX_SEND, "--to", UsbPort, folder }, mDir.path());
        ASSERT_TRUE(waitFor("the second file's message at the synth",
            [&] { return got(reader) >= Blocks + 2048; }));
        ASSERT_EQ(shell("usb-gadget unplug").status, 0);
        const Finished cut = finish(sender, mDir.path());
        EXPECT_EQ(cut.status, 1);
        EXPECT_THAT(cut.err,
            HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to Test Synth: MIDI "
                      "1. Sending to \"Test Synth: MIDI 1\" failed: the destination was closed or "
                      "unplugged"));
    }

    // Swapped for another during a delay (a replug takes the same client number), and held at
    // once by a connection a patchbay made, so that no send fails: the device that took the
    // address gets nothing, and the one that went is named.
    const auto slow = makeUpdate("--blocks 3 --gap 12000-12000 --bank-size 0");
    ASSERT_EQ(shell("usb-gadget replug 'Test Synth'").status, 0);
    Program before = synthReading();
    auto swapped = start({ MORVEX_SEND, "--to", UsbPort, slow }, mDir.path());
    ASSERT_TRUE(waitFor("the first block at the synth", [&] { return got(before) >= 256; }));
    ASSERT_EQ(shell("usb-gadget unplug && usb-gadget replug 'Other Synth' && "
                    "aconnect 'Midi Through:0' 'Other Synth:0'")
                  .status,
        0);
    Program after = synthReading();
    const Finished held = finish(swapped, mDir.path());
    EXPECT_EQ(held.status, 1);
    EXPECT_THAT(held.err,
        HasSubstr("01-firmware-blocks.mid: 2 of 3 messages were not delivered to Test Synth: MIDI "
                  "1. Sending to \"Test Synth: MIDI 1\" failed: "));
    EXPECT_EQ(readText(after.out()), "") << "the device that took the address got bytes";
}

} // namespace

// A machine whose filter matched no test, or whose every test skipped (the bed named wrongly),
// checked nothing: inside a machine that fails the run.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    const ::testing::UnitTest& tests = *::testing::UnitTest::GetInstance();
    const char* bed = std::getenv("MORVEX_VM_BED");
    if (bed && tests.test_to_run_count() == tests.skipped_test_count()) {
        std::fprintf(stderr, "No test ran on the %s bed.\n", bed);
        return 1;
    }
    return status;
}
