// Morvex on a real kernel sequencer: each suite runs inside the vm-run machine of its bed
// (README.md here; CTest starts them, label alsa) and is skipped anywhere else. Real programs drive
// what a user would run (morvex-send, aconnect, the slow receiver); the backend itself is used
// where a case needs its steps in a fixed order. Times are printed; the only ones asserted are
// bounds that catch a hang.

#include "MIDI/Midi.h"
#include "support/Bytes.h"
#include "support/ChildProcess.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <gmock/gmock.h>
#include <iostream>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace testsupport;
using midi::SendError;
using testing::HasSubstr;

constexpr const char* SerialPort = "Serial MIDI (UART16550A): Serial MIDI 1";
constexpr const char* UsbPort = "Test Synth: MIDI 1";

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Reads a raw MIDI device into a file from now on, as the synthesizer behind it would, until the
// device goes. The reader has the device open once it is made: bytes sent before are dropped.
class RawReader {
public:
    explicit RawReader(const std::string& device)
        : mCat({ "sh", "-c", "exec 3<\"$1\"; echo open >&2; exec cat <&3", "sh", device }, mBytes,
            mOpened)
    {
        EXPECT_TRUE(waitUntil(10s, [&] { return !readText(mOpened).empty(); })) << device;
    }

    std::size_t size() const { return std::filesystem::file_size(mBytes); }

    // The file, once nothing more came for half a second (within a minute).
    const std::filesystem::path& settled() const
    {
        for (std::size_t i = 0, last = SIZE_MAX; i < 120 && last != size(); ++i) {
            last = size();
            std::this_thread::sleep_for(500ms);
        }
        return mBytes;
    }

private:
    TempDir mFolder;
    const std::filesystem::path mBytes = mFolder.path() / "read";
    const std::filesystem::path mOpened = mFolder.path() / "opened";
    ChildProcess mCat;
};

// A suite's name after "Alsa" names its bed, as in CTest's entries.
class AlsaBed : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string bed = ::testing::UnitTest::GetInstance()->current_test_suite()->name() + 4;
        bed[0] = static_cast<char>(std::tolower(bed[0]));
        const char* here = std::getenv("MORVEX_VM_BED");
        if (!here || here != bed)
            GTEST_SKIP() << "runs inside vm-run --bed " << bed << " (ctest -L alsa)";
    }

    // Morvex's client and port as the window opens them: the destinations are those of now.
    void openMorvex()
    {
        mPort.reset();
        mClient = midi::Client::open("Morvex");
        ASSERT_EQ(mClient->serviceName(), "ALSA") << mClient->problem();
        auto created = mClient->createOutputPort("Morvex Output Port");
        ASSERT_TRUE(created.port) << created.error;
        mPort = std::move(created.port);
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const auto& listed : mClient->destinations())
            names.push_back(listed.name);
        return names;
    }

    // Past the end of the list when it is not listed: a send there fails as no such destination.
    std::size_t destination(const std::string& name) const
    {
        const auto all = names();
        return std::ranges::find(all, name) - all.begin();
    }

    // A shell command's status and what it printed, both outputs in out.
    Finished shell(const std::string& command) const
    {
        return run({ "sh", "-c", command + " 2>&1" }, mShellLogs.path());
    }

    std::filesystem::path makeUpdate(const std::string& options) const
    {
        const auto folder = mDir.path() / "update";
        const Finished made = shell(MORVEX_MAKE_UPDATE " '" + folder.string() + "' " + options);
        EXPECT_EQ(made.status, 0) << made.out;
        return folder;
    }

    // wire-report on what a device got of an update folder's messages.
    void expectReport(const std::string& arguments) const
    {
        const Finished report = shell(MORVEX_WIRE_REPORT " " + arguments);
        std::cout << report.out;
        EXPECT_EQ(report.status, 0);
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
// yet must suit a slow receiver for as long as a message lasts: a program's input queue is cleared
// whole when it overflows.
TEST_F(AlsaVirmidi, ListsRealClientsWithTheirPaceAndASlowReceiverLosesNothingOfA1MiBMessage)
{
    // It spends 5 ms over every event it reads, with the sequencer's default input queue, as a
    // slow software synthesizer does, and says on its standard error whether it lost anything.
    const auto said = mDir.path() / "said.txt", lines = mDir.path() / "lines.txt";
    const auto got = mDir.path() / "got.syx";
    ChildProcess receiver({ MORVEX_MONITOR, "--service", "alsa", "--client", "Slow Receiver",
                              "--name", "Input", "--slow", "5", "--syx", got.string() },
        lines, said);
    ASSERT_TRUE(
        waitUntil(10s, [&] { return readText(said).find("listening") != std::string::npos; }));
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    EXPECT_EQ(names(),
        (std::vector<std::string> { "Virtual Raw MIDI 0-0: VirMIDI 0-0",
            "Virtual Raw MIDI 0-1: VirMIDI 0-1", "Virtual Raw MIDI 0-2: VirMIDI 0-2",
            "Virtual Raw MIDI 0-3: VirMIDI 0-3", "Midi Through: Port-0", "Slow Receiver: Input" }));
    const auto& listed = mClient->destinations();
    ASSERT_EQ(listed.size(), 6u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(listed[i].bytesPerSecond, listed[0].bytesPerSecond) << listed[i].name;
    EXPECT_GT(listed[0].bytesPerSecond, 0);
    EXPECT_GT(listed[5].bytesPerSecond, listed[0].bytesPerSecond);

    const Bytes message = sysex(1 << 20, 2);
    const auto start = std::chrono::steady_clock::now();
    const auto result = mPort->send(5, message, mClock);
    ASSERT_TRUE(result.ok()) << result.reason;
    std::cout << "1 MiB to a receiver that takes 5 ms an event: " << secondsSince(start) << " s\n";
    // Stopped once the message is whole, it saves what it has and says what it lost.
    EXPECT_TRUE(waitUntil(60s, [&] { return !readText(lines).empty(); }));
    EXPECT_EQ(receiver.stop(SIGTERM), 0);
    EXPECT_THAT(readText(said), testing::Not(HasSubstr("lost")));
    EXPECT_TRUE(same(readBytes(got), message));
}

// A patchbay or aconnect that connects Morvex's port to the device must not stop a send.
TEST_F(AlsaVirmidi, SomeoneElsesConnectionStopsNoSend)
{
    RawReader device("/dev/snd/midiC0D0");
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    const Finished other = shell("aconnect Morvex:0 'Virtual Raw MIDI 0-0:0'");
    std::cout << "aconnect Morvex:0 to the card: status " << other.status << " " << other.out;
    const Bytes message = sysex(3000, 1);
    const auto result = mPort->send(0, message, mClock);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(same(readBytes(device.settled()), message));
}

// A serial MIDI interface whose wire the host drains at 3,125 B/s; every byte that reached the
// wire since the machine started is in $MORVEX_VM_SHARE/wire.
class AlsaSerial : public AlsaBed {
protected:
    void SetUp() override
    {
        AlsaBed::SetUp();
        if (!IsSkipped())
            mWireStart = quietWire().size();
    }

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

    std::size_t mWireStart = 0;
};

// A whole update with a message over 100 KiB, byte for byte. The device's quiet time before each
// message (to write a block to flash) starts when the bytes before have left the wire; morvex-send
// ends right after the last message, and nothing of it may be lost. A busy host's stalls can
// shorten a silence on the wire; the sends that did not wait for the wire left 0-13 ms for 60 ms
// delays.
TEST_F(AlsaSerial, AWholeUpdateReachesTheWireWithItsPauses)
{
    const auto folder = makeUpdate("--blocks 20 --gap 60-60 --bank-size 110000 --no-tempo-file");
    const auto dry = run({ MORVEX_SEND, "--dry-run", "--to", SerialPort, folder }, mDir.path());
    ASSERT_EQ(dry.status, 0) << dry.err;
    const std::string total = dry.out.substr(dry.out.rfind("Total"));
    std::cout << "dry run: " << total;
    // At 3,125 B/s; without the wire's time the estimate would be the delays alone, 3.26 s.
    EXPECT_GT(std::stod(total.substr(total.rfind(", ") + 2)), 115120 / 3125.0);

    const auto start = std::chrono::steady_clock::now();
    const auto sent = run({ MORVEX_SEND, "--to", SerialPort, folder }, mDir.path());
    std::cout << "morvex-send took " << secondsSince(start) << " s\n";
    EXPECT_EQ(sent.status, 0) << sent.err;
    (void)quietWire();
    expectReport("--slack 20 --skip " + std::to_string(mWireStart) + " '" + folder.string() + "' '"
        + wire().string() + "'");
}

// "Midi Through" routed to the interface, paced as a program, got 60,000 B reported sent and
// 33,499 B on the wire. Once nothing is routed there, a device another program holds is named so.
TEST_F(AlsaSerial, MidiThroughRoutedToTheInterfaceIsPacedAsAWireAndAHeldDeviceIsNamed)
{
    ASSERT_EQ(shell("aconnect 'Midi Through:0' 'Serial MIDI (UART16550A):0'").status, 0);
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    const Bytes message = sysex(40 * 1024, 3);
    const auto result = mPort->send(destination("Midi Through: Port-0"), message, mClock);
    EXPECT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(same(quietWire(mWireStart), message));
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

// Quitting (SIGTERM) in the middle of a 256 KiB message, 90 s of wire time: morvex-send should end
// within a second, the device see the message closed with F7, and the message and its file be
// named as not delivered. Stopped as its first bytes reach the wire, while the interface still
// holds most of the first kilobyte: its driver drops what it holds when the port lets it close.
TEST_F(AlsaSerial, AStopEndsALongMessageAtOnceClosedWithF7)
{
    const auto folder = makeUpdate("--blocks 0 --bank-size 262144 --no-tempo-file");
    auto sender = start({ MORVEX_SEND, "--to", SerialPort, folder }, mDir.path());
    ASSERT_TRUE(waitUntil(60s, [&] {
        return std::filesystem::file_size(wire()) >= mWireStart + 128;
    })) << readText(mDir.path() / "err.txt");
    const auto asked = std::chrono::steady_clock::now();
    const int status = sender.stop(SIGTERM);
    const double took = secondsSince(asked);
    std::cout << "from SIGTERM to the end of morvex-send: " << took * 1000 << " ms\n";
    EXPECT_LT(took, 10.0) << "a bound that catches a hang; the aim is a second";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_THAT(readText(mDir.path() / "err.txt"),
        HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to "
            + std::string(SerialPort) + ". Sending to \"" + SerialPort + "\" was stopped"));
    const Bytes sent = quietWire(mWireStart);
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent.size(), 262144u);
    EXPECT_EQ(sent.back(), 0xF7);
}

// A USB MIDI device, "Test Synth", that usb-gadget unplugs and replugs.
class AlsaUsb : public AlsaBed {
protected:
    // As the next test expects it.
    void TearDown() override
    {
        if (!IsSkipped())
            plugBackIn();
    }

    void plugBackIn() const
    {
        const Finished replugged
            = shell("if grep -q . /sys/kernel/config/usb_gadget/morvex/UDC; then "
                    "[ \"$(usb-gadget product)\" = 'Test Synth' ] && exit; "
                    "usb-gadget unplug; fi; usb-gadget replug 'Test Synth'");
        ASSERT_EQ(replugged.status, 0) << replugged.out;
    }

    // The raw MIDI device that gets what was sent to the USB device.
    std::string receiver() const
    {
        const std::string path = shell("usb-gadget receiver").out;
        return path.substr(0, path.find('\n'));
    }
};

TEST_F(AlsaUsb, AWholeUpdateReachesTheDevice)
{
    const auto folder = makeUpdate("--blocks 20 --gap 60-60 --bank-size 110000 --no-tempo-file");
    const RawReader synth(receiver());
    const auto start = std::chrono::steady_clock::now();
    const auto sent = run({ MORVEX_SEND, "--to", UsbPort, folder }, mDir.path());
    std::cout << "morvex-send took " << secondsSince(start) << " s\n";
    EXPECT_EQ(sent.status, 0) << sent.err;
    expectReport("'" + folder.string() + "' '" + synth.settled().string() + "'");
}

// The list is read when Morvex starts. A device replaced at its address by another since then (a
// replug takes the same client number) is named as gone and not sent to, though its old
// connection was made by a send before.
TEST_F(AlsaUsb, ADeviceReplacedSinceTheListingIsNamed)
{
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    const std::size_t synth = destination(UsbPort);
    ASSERT_TRUE(mPort->send(synth, sysex(100, 5), mClock).ok());
    ASSERT_EQ(shell("usb-gadget unplug && usb-gadget replug 'Other Synth'").status, 0);
    const RawReader other(receiver());
    const auto result = mPort->send(synth, sysex(100, 6), mClock);
    EXPECT_EQ(result.error, SendError::DestinationGone);
    EXPECT_EQ(result.reason,
        "\"Test Synth: MIDI 1\" is no longer there: its place is now taken by \"Other Synth: MIDI "
        "1\".");
    EXPECT_TRUE(readText(other.settled()).empty());
}

// While Morvex runs, a device that goes or comes is told of, and a list read anew follows it. Gone
// since the list was last read, it is named so and not sent to.
TEST_F(AlsaUsb, ADeviceThatGoesOrComesIsToldOfAndOneGoneIsNamed)
{
    ASSERT_NO_FATAL_FAILURE(openMorvex());
    std::atomic<int> told = 0;
    mClient->watchDestinations([&told] { ++told; });
    const auto listed = [this] {
        mClient->refreshDestinations();
        return std::ranges::count(names(), UsbPort) == 1;
    };
    ASSERT_TRUE(listed());
    const std::size_t synth = destination(UsbPort);
    ASSERT_EQ(shell("usb-gadget unplug").status, 0);
    const auto result = mPort->send(synth, sysex(100, 6), mClock);
    EXPECT_EQ(result.error, SendError::DestinationGone);
    EXPECT_EQ(
        result.reason, "\"Test Synth: MIDI 1\" is no longer there: it was unplugged or closed.");
    EXPECT_TRUE(waitUntil(10s, [&] { return told > 0 && !listed(); }));
    told = 0;
    plugBackIn();
    EXPECT_TRUE(waitUntil(10s, [&] { return told > 0 && listed(); }));
    mPort.reset();
    mClient.reset(); // before told goes
}

TEST_F(AlsaUsb, AnUnplugInTheMiddleOfAMessageIsNamedWithoutAHang)
{
    // 21 s of wire: a sender that did not notice would go on for most of it.
    const auto folder = makeUpdate("--blocks 0 --bank-size 60000 --no-tempo-file");
    const RawReader synth(receiver());
    auto sender = start({ MORVEX_SEND, "--to", UsbPort, folder }, mDir.path());
    ASSERT_TRUE(waitUntil(60s, [&] { return synth.size() >= 2048; }));
    const auto unplugged = std::chrono::steady_clock::now();
    ASSERT_EQ(shell("usb-gadget unplug").status, 0);
    const Finished sent = finish(sender, mDir.path());
    const double took = secondsSince(unplugged);
    std::cout << "from the unplug to the end of morvex-send: " << took << " s\n";
    EXPECT_LT(took, 10.0);
    EXPECT_EQ(sent.status, 1);
    EXPECT_THAT(sent.err,
        HasSubstr("02-sound-bank.mid: 1 of 1 messages were not delivered to Test Synth: MIDI 1. "
                  "Sending to \"Test Synth: MIDI 1\" failed: the destination was closed or "
                  "unplugged"));
}

} // namespace
