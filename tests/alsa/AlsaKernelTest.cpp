// Morvex on a real kernel sequencer: each suite runs inside the vm-run machine of its bed
// (README.md here; CTest starts them, label alsa) and is skipped anywhere else. Real programs drive
// what a user would run (morvex-send, aconnect, the slow receiver); the backend itself is used
// where a case needs its steps in a fixed order. Each suite is one scenario: one machine, its
// steps in turn. A hang fails by the bounded waits of finish, stop and waitFor.

#include "MIDI/Midi.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <regex>
#include <strings.h>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
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

    // morvex-monitor on the sequencer as "client: Input", once it listens; every byte it gets
    // goes to received(client).
    Program monitor(const std::string& client, const std::vector<std::string>& options = {}) const
    {
        std::vector<std::string> command { MORVEX_MONITOR, "--service", "alsa", "--client", client,
            "--name", "Input", "--syx", received(client).string() };
        command.insert(command.end(), options.begin(), options.end());
        return Program(command, "listening");
    }
    std::filesystem::path received(const std::string& client) const
    {
        return mDir.path() / (client + ".syx");
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

    // Blocks of 256 bytes a second apart, longer than any answer takes to come back.
    std::filesystem::path blocksASecondApart(int blocks) const
    {
        return makeUpdate("--blocks " + std::to_string(blocks) + " --gap 1000-1000 --bank-size 0");
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
// yet must suit a slow receiver, however slow, for as long as a message lasts: a program's input
// queue is cleared whole when it overflows.
TEST_F(AlsaVirmidi, ListsRealClientsWithTheirPaceAndASlowReceiverLosesNothingOfA1MiBMessage)
{
    // Each spends that long over every event it reads, with the sequencer's default input queue,
    // as a slow software synthesizer does, and says on its standard error whether it lost
    // anything. 5 ms is within the pace; 10 ms is slower than it, and the receiver's input queue
    // is looked at before each piece, so it gets everything, only slower.
    Program slow = monitor("Slow Receiver", { "--slow", "5" });
    Program slower = monitor("Slower Receiver", { "--slow", "10" });
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    std::vector<std::string> listed;
    for (const auto& to : mClient->destinations())
        listed.push_back(to.name
            + (to.bytesPerSecond > mClient->destinations()[0].bytesPerSecond ? ", faster" : ""));
    EXPECT_EQ(listed,
        (std::vector<std::string> { "Virtual Raw MIDI 0-0: VirMIDI 0-0",
            "Virtual Raw MIDI 0-1: VirMIDI 0-1", "Virtual Raw MIDI 0-2: VirMIDI 0-2",
            "Virtual Raw MIDI 0-3: VirMIDI 0-3", "Midi Through: Port-0",
            "Slow Receiver: Input, faster", "Slower Receiver: Input, faster" }));

    const std::tuple<Program*, std::string, Bytes> sends[]
        = { { &slow, "Slow Receiver", sysex(1 << 20, 2) },
              { &slower, "Slower Receiver", sysex(256 * 1024, 7) } };
    for (const auto& [receiver, client, message] : sends) {
        SCOPED_TRACE(client);
        const auto result = mPort->send(destination(client + ": Input"), message, mClock);
        ASSERT_TRUE(result.ok()) << result.reason;
        // Stopped once the message is whole, it saves what it has and says what it lost.
        EXPECT_TRUE(waitFor("the receiver to print the message",
            [&] { return !readText(receiver->out()).empty(); }));
        EXPECT_EQ(receiver->stop(), 0);
        EXPECT_THAT(receiver->said(), testing::Not(HasSubstr("lost")));
        EXPECT_TRUE(same(readBytes(received(client)), message));
    }
}

// Other senders to a program's port, through connections as a patchbay makes them: one there
// before Send is named and nothing goes; one connected during the update stops it at once, named.
// Two morvex-send at once: the second names the first and sends nothing; the first arrives whole.
TEST_F(AlsaVirmidi, OtherSendersAreNamedAndStopTheUpdateAndASecondMorvexSendRefuses)
{
    Program receiver = monitor("Receiver");
    const auto folder = makeUpdate("--blocks 20 --gap 100-100 --bank-size 20000");
    const std::vector<std::string> send { MORVEX_SEND, "--to", "Receiver: Input", folder };
    const TempDir one, two; // each morvex-send's logs
    const auto lines = [&] { return readText(receiver.out()).size(); };

    // Midi Through's output, connected to the receiver as a patchbay does, or no longer.
    const auto throughConnected = [&](bool connected) {
        const std::string aconnect = connected ? "aconnect" : "aconnect -d";
        return shell(aconnect + " 'Midi Through:0' Receiver:0").status == 0;
    };
    ASSERT_TRUE(throughConnected(true));
    const Finished refused = run(send, one.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err,
        HasSubstr("Nothing was sent: Also sending to Receiver: Input: Midi Through: Port-0. Their "
                  "messages would be mixed into the update."));
    ASSERT_TRUE(throughConnected(false));
    EXPECT_EQ(lines(), 0u);

    auto joined = start(send, one.path());
    ASSERT_TRUE(waitFor("the update's first message", [&] { return lines() > 0; }));
    ASSERT_TRUE(throughConnected(true));
    const Finished stopped = finish(joined, one.path());
    EXPECT_EQ(stopped.status, 1);
    EXPECT_THAT(stopped.err,
        HasSubstr("Sending to \"Receiver: Input\" stopped: \"Midi Through: Port-0\" began to send "
                  "to it too"));
    ASSERT_TRUE(throughConnected(false));

    const std::size_t seen = lines();
    auto first = start(send, one.path());
    ASSERT_TRUE(waitFor("the first morvex-send's first message", [&] { return lines() > seen; }));
    const Finished second = run(send, two.path());
    EXPECT_EQ(second.status, 1);
    EXPECT_THAT(second.err,
        HasSubstr("Nothing was sent: Also sending to Receiver: Input: Morvex: Output Port."));
    const Finished whole = finish(first, one.path());
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(receiver.stop(), 0);
    // The receiver got the update that was stopped before this one.
    const std::size_t size = readBytes(received("Receiver")).size();
    ASSERT_GE(size, std::size_t { 20 * 256 + 20000 });
    EXPECT_TRUE(wireReport(
        folder, received("Receiver"), "--skip " + std::to_string(size - (20 * 256 + 20000))));
}

// The rehearsal answers through its own port, as a USB device does: Morvex counts its ACKs and
// stops at its NAK, with nothing sent after the message refused.
TEST_F(AlsaVirmidi, TheMonitorAnswersThroughItsOwnPortAckIsCountedAndNakStops)
{
    Program rehearsal = monitor("Rehearsal", { "--answers", "unused", "--ack", "--at", "4:nak" });
    const Finished list = run({ MORVEX_SEND, "--list" }, mDir.path());
    EXPECT_THAT(list.out, HasSubstr("  Rehearsal: Input  (can answer)\n"));
    const Finished refused
        = run({ MORVEX_SEND, "--to", "Rehearsal: Input", blocksASecondApart(6) }, mDir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err,
        testing::AllOf(HasSubstr("The device refused message 4 of 01-firmware-blocks.mid (NAK). "
                                 "Nothing was sent after it"),
            HasSubstr("The device answered 4 times: 3 ACK, 1 NAK.")));
    EXPECT_EQ(rehearsal.stop(), 0);
    EXPECT_EQ(std::ranges::count(readText(rehearsal.out()), '\n'), 4) << readText(rehearsal.out());
}

// With every program's place at the sequencer taken (64), Morvex says so in its own words, and
// libasound says nothing.
TEST_F(AlsaVirmidi, AtTheSequencersClientLimitMorvexSaysSoAndLibasoundNothing)
{
    const Finished full
        = shell("pids=; for i in $(seq 64); do "
                "aseqdump >/dev/null 2>&1 & pids=\"$pids $!\"; done; "
                "for i in $(seq 100); do "
                "[ $(grep -c '^Client 1[2-9][0-9]' /proc/asound/seq/clients) -ge 64 ] && break; "
                "sleep 0.1; done; " MORVEX_SEND " --list 2>&1; echo status $?; kill $pids; wait");
    EXPECT_EQ(full.out,
        "morvex-send: No MIDI service is available. The ALSA sequencer cannot be opened: the "
        "sequencer takes no more programs (64 at most): close one that uses MIDI and try again. "
        "Cannot open the JACK client \"Morvex\": no JACK server is running.\nstatus 3\n");
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

TEST_F(AlsaSerial, UpdatesReachTheWireWholeWithTheirPausesStopsEndWithF7AndPacesHold)
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
    // Within a second of the signal: morvex-send promises to end then whatever the service does,
    // and the stop waits out at most the backlog the interface holds.
    const auto signalled = std::chrono::steady_clock::now();
    const int status = sender.stop(SIGTERM);
    EXPECT_LE(std::chrono::steady_clock::now() - signalled, 1s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    const std::string quit = readText(mDir.path() / "err.txt");
    EXPECT_THAT(quit,
        HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to "
            + std::string(SerialPort) + ". Sending to \"" + SerialPort + "\" was stopped"));
    // The count after "quit" holds the part of the message that went out, as its sentence says.
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(quit, counts,
        std::regex(R"(quit after (\d+) of \d+ bytes[\s\S]*\((\d+) of 110000 bytes went out\))")))
        << quit;
    EXPECT_EQ(std::stoul(counts[1]), Blocks + std::stoul(counts[2]));
    const Bytes cut = quietWire(bank);
    EXPECT_TRUE(!cut.empty() && cut.size() < UpdateSize - Blocks && cut.back() == 0xF7)
        << cut.size();

    // "Midi Through" routed to the interface, paced as a program, got 60,000 B reported sent and
    // 33,499 B on the wire. Once nothing is routed there, a device another program holds is
    // named so.
    ASSERT_EQ(shell("aconnect 'Midi Through:0' 'Serial MIDI (UART16550A):0'").status, 0);
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    const std::size_t through = quietWire().size();
    const Bytes message = sysex(40 * 1024, 3);
    const auto result = mPort->send(destination("Midi Through: Port-0"), message, mClock);
    EXPECT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(same(quietWire(through), message));
    ASSERT_EQ(shell("aconnect -x").status, 0);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> held(
        std::fopen("/dev/snd/midiC0D0", "w"), std::fclose);
    ASSERT_TRUE(held);
    const auto refused = mPort->send(destination(SerialPort), sysex(100, 4), mClock);
    EXPECT_EQ(refused.error, SendError::NotConnected);
    EXPECT_EQ(refused.reason,
        "Cannot connect to \"" + std::string(SerialPort)
            + "\": another program is using the device; close that program and try again.");
}

// A USB MIDI device, "Test Synth", that usb-gadget unplugs and replugs.
using AlsaUsb = AlsaBed;

// The synthesizer behind the cable answers through the device's own port: Morvex lists it as one
// that can answer (Midi Through, which gives back what it is sent, cannot), shows who it is, and
// stops the update at its NAK with nothing sent after the message refused. (Before the case below,
// which leaves another device plugged in.)
TEST_F(AlsaUsb, TheSynthAnswersThroughItsOwnPortWhoItIsAndARefusalStopsTheUpdate)
{
    const Finished list = run({ MORVEX_SEND, "--list" }, mDir.path());
    EXPECT_THAT(list.out,
        testing::AllOf(HasSubstr("  Test Synth: MIDI 1  (can answer)\n"),
            HasSubstr("  Midi Through: Port-0\n")));
    Program synth({ "synth-answers", "--nak", "3" }, "ready");
    const Finished identified = run({ MORVEX_SEND, "--identify", "--to", UsbPort }, mDir.path());
    EXPECT_EQ(identified.status, 0) << identified.err;
    EXPECT_EQ(identified.out,
        "Device ID 11: manufacturer 7D, family 02 00 (2), model 03 00 (3), software revision "
        "01 02 03 04 (1.2.3.4)\n");

    const Finished refused
        = run({ MORVEX_SEND, "--to", UsbPort, blocksASecondApart(5) }, mDir.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err,
        testing::AllOf(HasSubstr("The device refused message 3 of 01-firmware-blocks.mid (NAK). "
                                 "Nothing was sent after it"),
            HasSubstr("The device answered 1 time: 1 NAK.")));
    EXPECT_EQ(readText(synth.out()), "1 256\n2 256\n3 256\n")
        << "the synth got something after the NAK";
}

TEST_F(AlsaUsb, UpdatesArriveWholeAndADeviceThatGoesComesOrIsReplacedIsToldOfAndNamed)
{
    // While Morvex runs, a device that goes or comes is told of, and a list read anew follows it.
    // Gone since the list was last read, it is named so and not sent to.
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    static std::atomic<int> told = 0; // outlives the client's thread that counts
    mClient->watchDestinations([] { ++told; });
    const auto listed = [this] {
        mClient->refreshDestinations();
        return destination(UsbPort) < mClient->destinations().size();
    };
    std::size_t synth = destination(UsbPort);
    ASSERT_EQ(shell("usb-gadget unplug").status, 0);
    auto result = mPort->send(synth, sysex(100, 6), mClock);
    EXPECT_EQ(result.error, SendError::DestinationGone);
    EXPECT_EQ(
        result.reason, "\"Test Synth: MIDI 1\" is no longer there: it was unplugged or closed.");
    EXPECT_TRUE(waitFor("the unplug told of", [&] { return told > 0 && !listed(); }));
    told = 0;
    ASSERT_EQ(shell("usb-gadget replug 'Test Synth'").status, 0);
    EXPECT_TRUE(waitFor("the replug told of", [&] { return told > 0 && listed(); }));

    synth = destination(UsbPort);
    ASSERT_TRUE(mPort->send(synth, sysex(100, 5), mClock).ok());
    // As a transfer does at its end: the device is free for morvex-send, which would otherwise
    // name this port as another sender.
    mPort->endUpdate();

    const auto folder = makeUpdate();
    const auto got = [](const Program& reader) { return std::filesystem::file_size(reader.out()); };
    {
        Program reader = synthReading();
        const auto sent = run({ MORVEX_SEND, "--to", UsbPort, folder }, mDir.path());
        EXPECT_EQ(sent.status, 0) << sent.err;
        EXPECT_TRUE(
            waitFor("the whole update at the synth", [&] { return got(reader) >= UpdateSize; }));
        EXPECT_TRUE(wireReport(folder, reader.out()));

        // Unplugged in the middle of the second file's message (38 s at the wire's pace),
        // morvex-send names it and ends.
        const std::size_t into = got(reader) + Blocks + 2048;
        auto sender = start({ MORVEX_SEND, "--to", UsbPort, folder }, mDir.path());
        ASSERT_TRUE(
            waitFor("the second file's message at the synth", [&] { return got(reader) >= into; }));
        ASSERT_EQ(shell("usb-gadget unplug").status, 0);
        const Finished cut = finish(sender, mDir.path());
        EXPECT_EQ(cut.status, 1);
        EXPECT_THAT(cut.err,
            HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to Test Synth: MIDI "
                      "1. Sending to \"Test Synth: MIDI 1\" failed: the destination was closed or "
                      "unplugged"));
    }

    // Swapped for another during a delay, and held at once by a connection a patchbay made, so
    // that no send fails: the device that took the address gets nothing, and the one that went is
    // named.
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
    ASSERT_EQ(shell("aconnect -x").status, 0);

    // Replaced at its address by another (a replug takes the same client number), it is named as
    // gone, though a send had connected to it before.
    result = mPort->send(synth, sysex(100, 6), mClock);
    EXPECT_EQ(result.error, SendError::DestinationGone);
    EXPECT_EQ(result.reason,
        "\"Test Synth: MIDI 1\" is no longer there: its place is now taken by \"Other Synth: MIDI "
        "1\".");
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
