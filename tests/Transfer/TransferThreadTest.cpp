#include "Fakes.h"
#include "Transfer/Transfer.h"
#include "support/Smf.h"
#include "support/TempDir.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <thread>

using testsupport::SmfBuilder;
using transfer::Outcome;

namespace {

// The transfer on a thread of its own with the real clock, as the window and the command line run
// it; the test's thread plays the user (Cancel) or the application quitting (stop).
class TransferThread : public testing::Test {
protected:
    testsupport::TempDir dir;
    transferfakes::RecordingSheet sheet;
    transferfakes::RecordingPort port;
    transfer::SteadyClock clock;
    std::atomic<bool> cancel { false };

    TransferThread() { sheet.folder = dir.path().string(); }

    std::thread start(std::vector<std::string> files, Outcome& outcome)
    {
        return std::thread([this, files, &outcome] {
            transfer::Transfer transfer(sheet, port, clock, files, { "Synth" }, cancel);
            const int slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
            outcome = transfer.run();
            EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), slack) << "timer slack not restored";
        });
    }
};

TEST_F(TransferThread, StopRequestCutsADelayShortAndItsMessageIsNeverSent)
{
    // One tick a quarter note at the slowest tempo: a delay of about 56 minutes.
    dir.write("A.mid", SmfBuilder(1).tempo(0, 0xFFFFFF).sysexOfSize(200, 10).file());
    std::promise<void> sending;
    sheet.hook = [&sending](const std::string& line) {
        if (line == "status Sending...")
            sending.set_value();
    };

    Outcome outcome;
    std::thread transfer = start({ "A.mid" }, outcome);
    sending.get_future().wait();
    clock.requestStop();
    transfer.join();

    EXPECT_EQ(outcome.end, Outcome::End::Stopped);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(sheet.log.back(), "end");
    EXPECT_NE(sheet.log.end()[-2].substr(0, 5), "alert");
}

TEST_F(TransferThread, CancelFromAnotherThreadIsSeenBeforeTheNextMessage)
{
    dir.write("A.mid", SmfBuilder().sysexOfSize(0, 10).sysexOfSize(0, 10).file());
    std::promise<void> firstSent;
    std::promise<void> cancelled;
    port.hook = [&, calls = 0]() mutable {
        if (calls++ == 0) {
            firstSent.set_value();
            cancelled.get_future().wait();
        }
    };

    Outcome outcome;
    std::thread transfer = start({ "A.mid" }, outcome);
    firstSent.get_future().wait();
    cancel = true;
    cancelled.set_value();
    transfer.join();

    EXPECT_EQ(outcome.end, Outcome::End::Cancelled);
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(sheet.log.back(), "end");
}

TEST(SteadyClock, NeverWakesEarlyAndAfterAStopNeverSleeps)
{
    transfer::SteadyClock clock;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(clock.sleep(3000));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::microseconds(3000));

    std::thread stopper([&clock] { clock.requestStop(); });
    stopper.join();
    EXPECT_TRUE(clock.stopRequested());
    EXPECT_FALSE(clock.sleep(0));
    EXPECT_FALSE(clock.sleep(4000000000u));
}

} // namespace
