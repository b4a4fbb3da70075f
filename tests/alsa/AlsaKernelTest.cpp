// Morvex on a real kernel sequencer: each suite runs inside the vm-run machine of its bed
// (README.md here; CTest starts them, label alsa) and is skipped anywhere else. Real programs drive
// what a user would run (morvex-send, aconnect, the slow receiver); the backend itself is used
// where a case needs its steps in a fixed order. Times are printed; the only ones asserted are
// bounds that catch a hang.

#include "MIDI/Midi.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using midi::SendError;
using testsupport::readText;
using testsupport::waitUntil;

constexpr const char* SerialPort = "Serial MIDI (UART16550A): Serial MIDI 1";
constexpr const char* UsbPort = "Test Synth: MIDI 1";
// A DIN wire: 31,250 baud, ten bits a byte.
constexpr double WireBytesPerSecond = 3125;

Bytes sysex(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

Bytes readBytes(const std::filesystem::path& file, std::size_t from = 0)
{
    const std::string text = readText(file);
    return { text.begin() + static_cast<std::ptrdiff_t>(std::min(from, text.size())), text.end() };
}

// Where the bytes differ, rather than thousands of them.
::testing::AssertionResult same(const Bytes& got, const Bytes& sent)
{
    if (got == sent)
        return ::testing::AssertionSuccess();
    const auto differ = std::mismatch(got.begin(), got.end(), sent.begin(), sent.end());
    return ::testing::AssertionFailure()
        << got.size() << " of " << sent.size() << " bytes arrived, the first "
        << (differ.first - got.begin()) << " as sent";
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Shell {
    int status = -1;
    std::string output; // standard output and error
};

Shell shell(const std::string& command)
{
    Shell result;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'"; // the paths and names here hold no quote
}

// Reads a raw MIDI device from now on, as the synthesizer behind it would, until it goes.
class RawReader {
public:
    explicit RawReader(const std::string& device)
        : mFd(::open(device.c_str(), O_RDONLY | O_NONBLOCK))
        , mThread([this](std::stop_token stop) { read(stop); })
    {
    }

    ~RawReader()
    {
        mThread.request_stop();
        mThread.join();
        if (mFd >= 0)
            ::close(mFd);
    }

    std::size_t size() const
    {
        const std::lock_guard lock(mMutex);
        return mBytes.size();
    }

    // Everything read once nothing more came for half a second (within a minute).
    Bytes settled() const
    {
        std::size_t last = size();
        (void)waitUntil(
            60s,
            [&] {
                const std::size_t now = size();
                return std::exchange(last, now) == now;
            },
            500ms);
        const std::lock_guard lock(mMutex);
        return mBytes;
    }

private:
    void read(const std::stop_token& stop)
    {
        pollfd wanted { mFd, POLLIN, 0 };
        while (mFd >= 0 && !stop.stop_requested()) {
            if (::poll(&wanted, 1, 50) <= 0)
                continue;
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(mFd, buffer, sizeof buffer);
            if (n < 0 && errno == EAGAIN)
                continue;
            if (n <= 0)
                return; // the device went with its card
            const std::lock_guard lock(mMutex);
            mBytes.insert(mBytes.end(), buffer, buffer + n);
        }
    }

    const int mFd;
    mutable std::mutex mMutex;
    Bytes mBytes;
    std::jthread mThread;
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

    std::size_t destination(const std::string& name) const
    {
        const auto& listed = mClient->destinations();
        for (std::size_t i = 0; i < listed.size(); ++i)
            if (listed[i].name == name)
                return i;
        ADD_FAILURE() << "\"" << name << "\" is not listed";
        return listed.size();
    }

    std::filesystem::path makeUpdate(const std::string& options)
    {
        const auto folder = mDir.path() / "update";
        std::filesystem::remove_all(folder);
        const Shell made = shell(quoted(MORVEX_MAKE_UPDATE) + " " + quoted(folder) + " " + options);
        EXPECT_EQ(made.status, 0) << made.output;
        return folder;
    }

    testsupport::TempDir mDir;
    timing::SteadyClock mClock;
    std::unique_ptr<midi::Client> mClient;
    std::unique_ptr<midi::OutputPort> mPort; // after its client, so that it goes first
};

// A virtual card ("VirMIDI 0-0" delivers to /dev/snd/midiC0D0), and programs.
class AlsaVirmidi : public AlsaBed {
protected:
    // A program that spends 5 ms over every event it reads, with the sequencer's default input
    // queue, as a slow software synthesizer does; what it gets is saved in mGot, and what it
    // says (whether it lost anything) in mSaid. Listed once it says where it listens.
    void startSlowReceiver()
    {
        mReceiver.emplace(
            std::vector<std::string> { MORVEX_MONITOR, "--service", "alsa", "--client",
                "Slow Receiver", "--name", "Input", "--slow", "5", "--syx", mGot.string() },
            mLines, mSaid);
        ASSERT_TRUE(
            waitUntil(10s, [&] { return readText(mSaid).find("listening") != std::string::npos; }));
    }

    const std::filesystem::path mSaid = mDir.path() / "receiver.txt";
    const std::filesystem::path mLines = mDir.path() / "lines.txt"; // one a whole message
    const std::filesystem::path mGot = mDir.path() / "got.syx";
    std::optional<testsupport::ChildProcess> mReceiver;
};

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

    void TearDown() override
    {
        if (!IsSkipped())
            (void)shell("aconnect -x");
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

// A USB MIDI device, "Test Synth", that usb-gadget unplugs and replugs.
class AlsaUsb : public AlsaBed {
protected:
    // As the next test expects it.
    void TearDown() override
    {
        if (!IsSkipped())
            plugBackIn();
    }

    // The controller's name, or an empty line.
    static bool plugged()
    {
        return readText("/sys/kernel/config/usb_gadget/morvex/UDC").size() > 1;
    }

    static void plugBackIn()
    {
        if (plugged() && shell("usb-gadget product").output == "Test Synth\n")
            return;
        const Shell replugged = shell(std::string(plugged() ? "usb-gadget unplug && " : "")
            + "usb-gadget replug 'Test Synth'");
        ASSERT_EQ(replugged.status, 0) << replugged.output;
    }

    // The raw MIDI device that gets what was sent to the USB device.
    static std::string receiver()
    {
        const std::string path = shell("usb-gadget receiver").output;
        return path.substr(0, path.find('\n'));
    }
};

// The pop-up's list on a real sequencer: cards first, then "Midi Through", then programs. A card
// and "Midi Through", which is often routed on to one, go at a wire's pace; a program's is faster.
TEST_F(AlsaVirmidi, ListsRealClientsWithTheirPace)
{
    ASSERT_NO_FATAL_FAILURE(startSlowReceiver());
    openMorvex();
    std::vector<std::string> names;
    for (const auto& listed : mClient->destinations())
        names.push_back(listed.name);
    EXPECT_EQ(names,
        (std::vector<std::string> { "Virtual Raw MIDI 0-0: VirMIDI 0-0",
            "Virtual Raw MIDI 0-1: VirMIDI 0-1", "Virtual Raw MIDI 0-2: VirMIDI 0-2",
            "Virtual Raw MIDI 0-3: VirMIDI 0-3", "Midi Through: Port-0", "Slow Receiver: Input" }));
    ASSERT_EQ(names.size(), 6u);
    const auto& listed = mClient->destinations();
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(listed[i].bytesPerSecond, listed[0].bytesPerSecond) << names[i];
    EXPECT_GT(listed[0].bytesPerSecond, 0);
    EXPECT_GT(listed[5].bytesPerSecond, listed[0].bytesPerSecond);
}

// A patchbay or aconnect that connects Morvex's port to the device must not stop a send.
TEST_F(AlsaVirmidi, SomeoneElsesConnectionStopsNoSend)
{
    RawReader device("/dev/snd/midiC0D0");
    openMorvex();
    const Shell other = shell("aconnect Morvex:0 'Virtual Raw MIDI 0-0:0'");
    std::cout << "aconnect Morvex:0 to the card: status " << other.status << " " << other.output;
    const Bytes message = sysex(3000, 1);
    const auto result
        = mPort->send(destination("Virtual Raw MIDI 0-0: VirMIDI 0-0"), message, mClock);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(same(device.settled(), message));
}

// A program's input queue is cleared whole when it overflows: the pace must suit a slow receiver
// for as long as a message lasts.
TEST_F(AlsaVirmidi, ASlowReceiverLosesNothingOfA1MiBMessage)
{
    ASSERT_NO_FATAL_FAILURE(startSlowReceiver());
    openMorvex();
    const Bytes message = sysex(1 << 20, 2);
    const auto start = std::chrono::steady_clock::now();
    const auto result = mPort->send(destination("Slow Receiver: Input"), message, mClock);
    const double took = secondsSince(start);
    ASSERT_TRUE(result.ok()) << result.reason;
    std::cout << "1 MiB to a receiver that takes 5 ms an event: " << took << " s, "
              << static_cast<int>(message.size() / took) << " B/s\n";
    // Stopped once the message is whole, it saves what it has and says what it lost.
    EXPECT_TRUE(waitUntil(60s, [&] { return !readText(mLines).empty(); }));
    EXPECT_EQ(mReceiver->stop(SIGTERM), 0);
    const std::string said = readText(mSaid);
    EXPECT_EQ(said.find("lost"), std::string::npos) << said;
    EXPECT_TRUE(same(readBytes(mGot), message));
}

// A whole update with a message over 100 KiB, byte for byte. The device's quiet time before each
// message (to write a block to flash) starts when the bytes before have left the wire; morvex-send
// ends right after the last message, and nothing of it may be lost. A busy host's stalls can
// shorten a silence on the wire; the sends that did not wait for the wire left 0-13 ms for 60 ms
// delays.
TEST_F(AlsaSerial, AWholeUpdateReachesTheWireWithItsPauses)
{
    const auto folder = makeUpdate("--blocks 20 --gap 60-60 --bank-size 110000 --no-tempo-file");
    const auto logs = mDir.path();
    const auto dry = testsupport::runSend({ "--dry-run", "--to", SerialPort, folder }, logs);
    ASSERT_EQ(dry.status, 0) << dry.err;
    const std::string total = dry.out.substr(dry.out.rfind("Total"));
    std::cout << "dry run: " << total;
    // Without the wire's time the estimate would be the delays alone: 3.26 s.
    EXPECT_GT(std::stod(total.substr(total.rfind(", ") + 2)), 115120 / WireBytesPerSecond);

    const auto start = std::chrono::steady_clock::now();
    const auto sent = testsupport::runSend({ "--to", SerialPort, folder }, logs);
    const std::size_t left = sent.out.find(" left\n");
    const std::size_t line = sent.out.rfind('\n', left) + 1;
    std::cout << "morvex-send took " << secondsSince(start)
              << " s; it said first: " << sent.out.substr(line, left + 6 - line);
    EXPECT_EQ(sent.status, 0) << sent.err;

    (void)quietWire();
    const Shell report = shell(std::string(quoted(MORVEX_WIRE_REPORT)) + " --slack 20 --skip "
        + std::to_string(mWireStart) + " " + quoted(folder) + " " + quoted(wire()));
    std::cout << report.output;
    EXPECT_EQ(report.status, 0);
}

// "Midi Through" routed to the interface, paced as a program, got 60,000 B reported sent and
// 33,499 B on the wire.
TEST_F(AlsaSerial, MidiThroughRoutedToTheInterfaceIsPacedAsAWire)
{
    ASSERT_EQ(shell("aconnect 'Midi Through:0' 'Serial MIDI (UART16550A):0'").status, 0);
    openMorvex();
    const Bytes message = sysex(40 * 1024, 3);
    const auto result = mPort->send(destination("Midi Through: Port-0"), message, mClock);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_TRUE(same(quietWire(mWireStart), message));
}

TEST_F(AlsaSerial, ADeviceAnotherProgramHoldsIsNamedSo)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> held(
        std::fopen("/dev/snd/midiC0D0", "w"), std::fclose);
    ASSERT_TRUE(held);
    openMorvex();
    const auto result = mPort->send(destination(SerialPort), sysex(100, 4), mClock);
    EXPECT_EQ(result.error, SendError::NotConnected);
    EXPECT_EQ(result.reason,
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
    auto sender = testsupport::startSend({ "--to", SerialPort, folder }, mDir.path());
    ASSERT_TRUE(waitUntil(60s, [&] {
        return std::filesystem::file_size(wire()) >= mWireStart + 128;
    })) << readText(mDir.path() / "err.txt");
    const auto asked = std::chrono::steady_clock::now();
    const int status = sender.stop(SIGTERM);
    const double took = secondsSince(asked);
    std::cout << "from SIGTERM to the end of morvex-send: " << took * 1000 << " ms\n";
    EXPECT_LT(took, 10.0) << "a bound that catches a hang; the aim is a second";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    const std::string err = readText(mDir.path() / "err.txt");
    EXPECT_NE(err.find("02-sound-bank.mid: 1 of 1 messages were not delivered to "
                  + std::string(SerialPort) + ". Sending to \"" + SerialPort + "\" was stopped"),
        std::string::npos)
        << err;
    const Bytes sent = quietWire(mWireStart);
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent.size(), 262144u);
    EXPECT_EQ(sent.back(), 0xF7);
}

TEST_F(AlsaUsb, AWholeUpdateReachesTheDevice)
{
    const auto folder = makeUpdate("--blocks 20 --gap 60-60 --bank-size 110000 --no-tempo-file");
    const RawReader synth(receiver());
    const auto start = std::chrono::steady_clock::now();
    const auto sent = testsupport::runSend({ "--to", UsbPort, folder }, mDir.path());
    std::cout << "morvex-send took " << secondsSince(start) << " s\n";
    EXPECT_EQ(sent.status, 0) << sent.err;
    const auto received = mDir.write("received", synth.settled());
    const Shell report = shell(
        std::string(quoted(MORVEX_WIRE_REPORT)) + " " + quoted(folder) + " " + quoted(received));
    std::cout << report.output;
    EXPECT_EQ(report.status, 0);
}

// The list is read when Morvex starts. A device unplugged since, or replaced at its address by
// another (a replug takes the same client number), is named as gone and not sent to.
TEST_F(AlsaUsb, ADeviceGoneOrReplacedSinceTheListingIsNamed)
{
    const struct {
        const char* change;
        bool sentBefore;
        std::string reason;
    } cases[] = {
        { "usb-gadget unplug", false,
            "\"Test Synth: MIDI 1\" is no longer there: it was unplugged or closed." },
        { "usb-gadget unplug && usb-gadget replug 'Other Synth'", true,
            "\"Test Synth: MIDI 1\" is no longer there: its place is now taken by \"Other Synth: "
            "MIDI 1\"." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        openMorvex();
        const std::size_t synth = destination(UsbPort);
        if (c.sentBefore) {
            ASSERT_TRUE(mPort->send(synth, sysex(100, 5), mClock).ok());
        }
        ASSERT_EQ(shell(c.change).status, 0);
        std::optional<RawReader> other;
        if (plugged())
            other.emplace(receiver());
        const auto result = mPort->send(synth, sysex(100, 6), mClock);
        EXPECT_EQ(result.error, SendError::DestinationGone);
        EXPECT_EQ(result.reason, c.reason);
        if (other) {
            EXPECT_TRUE(other->settled().empty());
        }
        plugBackIn();
    }
}

// While Morvex runs, a device that goes or comes is told of, and a list read anew follows it.
TEST_F(AlsaUsb, ADeviceThatGoesOrComesIsToldOf)
{
    openMorvex();
    std::atomic<int> told = 0;
    mClient->watchDestinations([&told] { ++told; });
    const auto listed = [this] {
        mClient->refreshDestinations();
        const auto& all = mClient->destinations();
        return std::any_of(
            all.begin(), all.end(), [](const auto& listed) { return listed.name == UsbPort; });
    };
    ASSERT_TRUE(listed());
    ASSERT_EQ(shell("usb-gadget unplug").status, 0);
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
    auto sender = testsupport::startSend({ "--to", UsbPort, folder }, mDir.path());
    ASSERT_TRUE(waitUntil(60s, [&] { return synth.size() >= 2048; }));
    const auto unplugged = std::chrono::steady_clock::now();
    ASSERT_EQ(shell("usb-gadget unplug").status, 0);
    const auto run = testsupport::finishSend(sender, mDir.path());
    const double took = secondsSince(unplugged);
    std::cout << "from the unplug to the end of morvex-send: " << took << " s\n";
    EXPECT_LT(took, 10.0);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("02-sound-bank.mid: 1 of 1 messages were not delivered to Test Synth: "
                           "MIDI 1. Sending to \"Test Synth: MIDI 1\" failed: the destination was "
                           "closed or unplugged"),
        std::string::npos)
        << run.err;
}

} // namespace
