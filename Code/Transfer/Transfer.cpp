#include "Transfer/Transfer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace transfer {
namespace {

// Before every file but the first listed one: time for the device to take in what the previous
// file gave it (a firmware block written to flash) before the next file starts.
constexpr std::uint32_t Time_FilePause = 2000000;

// Linux lets a sleeping thread wake up to its timer slack late (50 µs by default) so that it can
// group wake-ups. Paced messages gain nothing from that lateness: 1 µs keeps a wake-up within a
// small part of the 320 µs one byte takes on a MIDI cable, and still lets the kernel round.
constexpr unsigned long Nanoseconds_TimerSlack = 1000;

// Lowers the calling thread's timer slack for its lifetime, then gives back what it found. If the
// kernel refuses, wake-ups only come later, never earlier: precision is lost, no message is early.
class TimerSlack {
public:
    TimerSlack()
        : mSaved(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0))
    {
        if (mSaved > 0)
            ::prctl(PR_SET_TIMERSLACK, Nanoseconds_TimerSlack, 0, 0, 0);
    }
    ~TimerSlack()
    {
        if (mSaved > 0)
            ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(mSaved), 0, 0, 0);
    }
    TimerSlack(const TimerSlack&) = delete;
    TimerSlack& operator=(const TimerSlack&) = delete;

private:
    int mSaved; // the slack in nanoseconds; -1 when it could not be read
};

// On a busy machine a thread that wakes on time can still wait milliseconds for a core. A low
// real-time priority for the send pass puts the transfer ahead of ordinary work the moment a delay
// ends; the thread only sleeps, reads one file at a time and sends, so it takes little from anyone
// and leaves room above it for the MIDI service's own real-time threads. Without the right to it
// (RLIMIT_RTPRIO, which the audio group has, or CAP_SYS_NICE) the thread stays as it was: messages
// may leave later, never earlier.
constexpr int Priority_SendPass = 10;

class RealtimePriority {
public:
    RealtimePriority()
    {
        if (::pthread_getschedparam(::pthread_self(), &mPolicy, &mSaved) != 0)
            return;
        const sched_param raised { Priority_SendPass };
        mRaised = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &raised) == 0;
    }
    ~RealtimePriority()
    {
        if (mRaised)
            ::pthread_setschedparam(::pthread_self(), mPolicy, &mSaved);
    }
    RealtimePriority(const RealtimePriority&) = delete;
    RealtimePriority& operator=(const RealtimePriority&) = delete;

private:
    int mPolicy = SCHED_OTHER;
    sched_param mSaved {};
    bool mRaised = false;
};

class Descriptor {
public:
    explicit Descriptor(int fd)
        : mFd(fd)
    {
    }
    ~Descriptor()
    {
        if (mFd >= 0)
            ::close(mFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return mFd; }

private:
    int mFd;
};

// The whole content of a regular file, in a buffer of its own that the reader may write into;
// nothing when it cannot be read. O_NONBLOCK keeps a pipe that bears a listed name from blocking
// the open; it changes nothing for a regular file.
std::optional<std::vector<std::uint8_t>> readWhole(const std::string& path)
{
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status { };
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    // One byte more than the size found, so that the end is seen without growing the buffer;
    // a file that grows meanwhile is still read whole.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t count = ::read(file.get(), bytes.data() + used, bytes.size() - used);
        if (count == 0)
            break;
        if (count < 0 && errno != EINTR)
            return std::nullopt;
        if (count > 0)
            used += static_cast<std::size_t>(count);
    }
    bytes.resize(used);
    return bytes;
}

} // namespace

Transfer::Transfer(Sheet& sheet, midi::OutputPort& port, Clock& clock,
    std::vector<std::string> files, std::vector<std::string> destinations,
    const std::atomic<bool>& cancel)
    : mSheet(sheet)
    , mPort(port)
    , mClock(clock)
    , mFiles(std::move(files))
    , mDestinations(std::move(destinations))
    , mCancel(cancel)
{
}

Outcome Transfer::run()
{
    const TimerSlack slack;
    mOutcome = {};
    mSized.assign(mFiles.size(), std::nullopt);
    if (!sizePass() || !sendPass() || mClock.stopRequested())
        mOutcome.end = Outcome::End::Stopped;
    else
        finish();
    mSheet.end();
    return std::move(mOutcome);
}

// The folder is read afresh for each file, as the sheet shows it; the file field names the file
// before it is read, even when it cannot be.
std::string Transfer::takeUp(std::size_t index)
{
    const std::string folder = mSheet.folderText();
    mSheet.setFileText(mFiles[index]);
    return folder + "/" + mFiles[index];
}

bool Transfer::sizePass()
{
    for (std::size_t i = 0; i < mFiles.size() && !mCancel; ++i) {
        if (mClock.stopRequested())
            return false;
        if (auto image = readWhole(takeUp(i))) {
            _SMF reader(image->data(), image->size(), nullptr);
            const std::uint32_t total = reader.Scan();
            mSized[i] = Reading { total, reader.ending() };
            mOutcome.total += total;
        }
    }
    if (!mCancel)
        mSheet.showStatus("Sending...");
    mSheet.stopAnimation();
    mSheet.setDeterminate();
    mSheet.setProgress(0.0);
    mSheet.setPercentText("0 %");
    // Entries 0 and 1 are the no-device entry and the separator: below 2 there is no destination,
    // and an index past every destination makes each send fail as such.
    const int entry = mSheet.selectedDeviceIndex();
    mDestination = entry >= 2 ? static_cast<std::size_t>(entry - 2)
                              : std::numeric_limits<std::size_t>::max();
    return true;
}

bool Transfer::sendPass()
{
    const RealtimePriority priority;
    for (std::size_t i = 0; i < mFiles.size() && !mCancel; ++i) {
        if (!sendFile(i))
            return false;
    }
    return true;
}

bool Transfer::sendFile(std::size_t index)
{
    if (mClock.stopRequested())
        return false;
    const std::string& name = mFiles[index];
    // The image is freed when this file is done: memory follows the largest file.
    auto image = readWhole(takeUp(index));
    if (!image) {
        judge(name, mSized[index], std::nullopt);
        return true;
    }
    std::vector<_Event> events;
    _SMF reader(image->data(), image->size(), &events);
    const std::uint32_t total = reader.Scan();
    judge(name, mSized[index], Reading { total, reader.ending() });
    // By index, not by files sent: a later file pauses even when every earlier one was unreadable.
    if (index != 0 && !mClock.sleep(Time_FilePause))
        return false;
    return sendEvents(name, events);
}

bool Transfer::sendEvents(const std::string& name, const std::vector<_Event>& events)
{
    std::size_t uncertain = 0;
    std::string uncertainReason;
    std::size_t unsent = 0;
    std::string unsentReason;
    for (std::size_t j = 0; j < events.size() && !mCancel; ++j) {
        // A delay cut short by a stop request ends the run: its message would go out early.
        if (!mClock.sleep(events[j].time()))
            return false;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(events[j].ptr());
        const midi::SendResult result = mPort.send(mDestination, { bytes, events[j].size() });
        if (result.error == midi::SendError::Uncertain) {
            // The service handed the message over but hiccupped around it. Nothing says it was
            // lost, so the update goes on; the user is told at the end which file to check.
            if (uncertain++ == 0)
                uncertainReason = result.reason;
        } else if (!result.ok()) {
            // The rest of this file is not sent. Its messages are parts of one update (a firmware
            // image in blocks), and a block sent after one that was lost would be taken as
            // following it. The device is left half-updated either way; stopping leaves it
            // with the least wrong data. The next file still gets its pause and its chance.
            unsent = events.size() - j;
            unsentReason = result.reason;
            break;
        }
        mOutcome.bytesSent += events[j].size();
        showProgress();
    }
    // A service may still be delivering what it was handed: its account comes before the pause
    // that lets the device take in this file.
    const midi::Settled settled = mPort.settle();
    mOutcome.bytesSent -= std::min<std::uint64_t>(settled.bytesNotDelivered, mOutcome.bytesSent);
    if (unsent + settled.notDelivered > 0)
        problem(FileProblem::Kind::Undelivered, name,
            name + ": " + std::to_string(unsent + settled.notDelivered) + " of "
                + std::to_string(events.size()) + " messages were not delivered to "
                + destinationName() + ". "
                + (settled.notDeliveredReason.empty() ? unsentReason : settled.notDeliveredReason));
    if (uncertain == 0)
        uncertainReason = settled.uncertainReason;
    uncertain += settled.uncertain;
    if (uncertain > 0)
        problem(FileProblem::Kind::Uncertain, name,
            name + ": " + std::to_string(uncertain) + " of " + std::to_string(events.size())
                + " messages may not have arrived at " + destinationName() + ". "
                + uncertainReason);
    return true;
}

void Transfer::judge(const std::string& name, const std::optional<Reading>& sized,
    const std::optional<Reading>& sent)
{
    using Kind = FileProblem::Kind;
    if (!sized && !sent)
        problem(Kind::Unreadable, name, name + " could not be read.");
    else if (sized != sent)
        problem(Kind::Changed, name, name + " changed during the update.");
    else if (sent->ending == _SMF::Ending::RejectedHeader)
        problem(Kind::NotFormat0, name, name + " is not a format-0 MIDI file with one track.");
    else if (sent->ending == _SMF::Ending::EndOfImage)
        problem(Kind::Truncated, name, name + " ends before its end of track.");
}

void Transfer::problem(FileProblem::Kind kind, const std::string& name, std::string text)
{
    mOutcome.problems.push_back({ kind, name, std::move(text) });
}

// A total of 0 with something sent (a file readable only in the send pass, or messages of no
// bytes) shows 100; a file that grew between the passes cannot push the bar past 100.
void Transfer::showProgress()
{
    const double percent = mOutcome.total == 0
        ? 100.0
        : std::min(100.0,
            static_cast<double>(mOutcome.bytesSent * 100) / static_cast<double>(mOutcome.total));
    mSheet.setProgress(percent);
    mSheet.setPercentText(std::to_string(static_cast<int>(percent)) + " %");
}

std::string Transfer::destinationName() const
{
    return mDestination < mDestinations.size() ? mDestinations[mDestination]
                                               : "a destination that is not listed";
}

void Transfer::finish()
{
    if (mCancel) {
        mOutcome.end = Outcome::End::Cancelled;
        return;
    }
    if (mOutcome.problems.empty()) {
        mOutcome.end = Outcome::End::Completed;
        mSheet.showAlert("Complete Update", "");
        return;
    }
    mOutcome.end = Outcome::End::Incomplete;
    std::string message;
    for (const FileProblem& problem : mOutcome.problems)
        message += (message.empty() ? "" : "\n") + problem.text;
    mSheet.showAlert("Update Incomplete", message);
}

} // namespace transfer
