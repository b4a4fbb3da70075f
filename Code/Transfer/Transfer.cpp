#include "Transfer/Transfer.h"

#include "FileImage.h"
#include "Listening.h"
#include "Text/Duration.h"
#include "Text/Printable.h"
#include "ThreadTuning.h"

#include <algorithm>
#include <utility>

namespace transfer {

Transfer::Transfer(Sheet& sheet, midi::OutputPort& port, timing::Clock& clock,
    std::vector<std::string> files, std::vector<midi::Destination> destinations,
    const std::atomic<bool>& cancel, double slower, Listen listen)
    : mSheet(sheet)
    , mPort(port)
    , mClock(clock)
    , mFiles(std::move(files))
    , mDestinations(std::move(destinations))
    , mCancel(cancel)
    , mSlower(std::clamp(slower, Factor_LeastSlower, Factor_MostSlower))
    , mListen(std::move(listen))
{
}

namespace {

// After the last message, how long the device has to answer it: the listening ends once it has
// been quiet this long, and at the latest after the longer time.
constexpr std::chrono::milliseconds LastWordQuiet { 500 };
constexpr std::chrono::milliseconds LastWordLimit { 2000 };

} // namespace

Outcome Transfer::run()
{
    const TimerSlack slack;
    mOutcome = {};
    mRouteGone = false;
    mHalted = false;
    mHeld = false;
    mDeviceStopped = false;
    mFollowed = "before the first message";
    const bool sent = sizePass() && askAboutDamage() && sendPass();
    // Before the alert, which may stay up a while: the destination is free once the update is.
    mPort.endUpdate();
    if (sent)
        finish();
    mWayBack.reset();
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
    std::vector<Plan::File> read;
    for (std::size_t i = 0; i < mFiles.size() && !mCancel; ++i) {
        if (mClock.stopRequested())
            return end(Outcome::End::Stopped);
        read.push_back({ mFiles[i], sizeFile(takeUp(i)) });
        if (const auto& size = read.back().reading.size)
            mOutcome.total += size->total;
    }
    // Files a cancel left unread count as unreadable: nothing of them is sent.
    for (std::size_t i = read.size(); i < mFiles.size(); ++i)
        read.push_back({ mFiles[i], {} });
    mPlan = Plan(std::move(read));
    return true;
}

// Before the first byte goes out: a damaged file would leave the device with part of an update.
bool Transfer::askAboutDamage()
{
    if (mCancel || !mPlan.anyDamaged())
        return true;
    std::string reasons;
    for (const Plan::File& file : mPlan.files())
        if (isDamaged(file.reading)) {
            if (!reasons.empty())
                reasons += '\n';
            reasons += judgeReading(file.name, file.reading);
        }
    const bool send = mSheet.sendDamaged(reasons);
    if (mClock.stopRequested())
        return end(Outcome::End::Stopped);
    if (send)
        return true;
    for (const Plan::File& file : mPlan.files())
        if (isDamaged(file.reading))
            problem(FileProblem::Kind::Damaged, judgeReading(file.name, file.reading));
    return end(Outcome::End::Declined);
}

// Before the first byte goes out: another program's messages would land among the update's,
// and a clock byte inside a block of firmware spoils the block.
bool Transfer::askAboutSharing()
{
    if (mCancel || !mDestination)
        return true;
    const std::vector<std::string> others = mPort.otherSenders(*mDestination);
    if (others.empty())
        return true;
    std::string names;
    for (const std::string& other : others)
        names += (names.empty() ? "" : ", ") + text::printable(other);
    const bool share = mSheet.shareDestination("Also sending to " + destinationName() + ": " + names
        + ". Their messages would be mixed into the update.");
    if (mClock.stopRequested())
        return end(Outcome::End::Stopped);
    if (!share)
        return end(Outcome::End::Declined);
    mPort.shareDestination();
    return true;
}

bool Transfer::sendPass()
{
    if (!mCancel)
        mSheet.showStatus("Sending...");
    mSheet.startSending();
    mSheet.setProgress(0.0);
    mSheet.setPercentText("0 %");
    mDestination = mSheet.selectedDestination();
    if (!askAboutSharing())
        return false;
    mPort.setSlower(mSlower);
    mMicrosecondsLeft = mPlan.microsecondsFrom(0, bytesPerSecond(), mSlower);
    showRemaining(0);
    if (mListen && mDestination && !mCancel) {
        midi::WayBackResult listening = mListen(*mDestination);
        if (listening)
            mWayBack = listening.take();
        else
            mOutcome.heard.problem = "Morvex could not listen to the device: " + listening.reason();
    }
    const RealtimePriority priority;
    for (std::size_t i = 0; i < mFiles.size() && !mCancel && !mDeviceStopped; ++i) {
        if (!sendFile(i))
            return end(Outcome::End::Stopped);
    }
    if (!hearTheLastWord())
        return end(Outcome::End::Stopped);
    return !mClock.stopRequested() || end(Outcome::End::Stopped);
}

void Transfer::hear(std::vector<std::vector<std::uint8_t>> arrived)
{
    if (!mWayBack)
        return;
    mWayBack->take(arrived);
    Heard& heard = mOutcome.heard;
    heard.realTimeBytes = mWayBack->realTimeBytes();
    for (auto& bytes : arrived) {
        const ReplyKind kind = kindOf(bytes);
        ++heard.counts[static_cast<std::size_t>(kind)];
        mHeld = kind == ReplyKind::Wait;
        if ((kind == ReplyKind::Nak || kind == ReplyKind::Cancel) && !mDeviceStopped) {
            mDeviceStopped = true;
            problem(FileProblem::Kind::Refused,
                "The device refused " + mFollowed + " (" + nameOf(kind)
                    + "). Nothing was sent after it: a device that refused a message expects the "
                      "whole update again.");
        }
        heard.replies.push_back({ std::move(bytes), mFollowed });
    }
}

Transfer::Go Transfer::deviceLetsGo()
{
    hear();
    if (mDeviceStopped)
        return Go::Halt;
    if (!mHeld)
        return Go::On;
    mSheet.showStatus("Waiting for the device...");
    // A slower pace gives the device longer too.
    const std::uint64_t waitLimit = stretched(Time_DeviceWaitLimit, mSlower);
    const auto limit = std::chrono::microseconds(waitLimit);
    auto until = mClock.now() + limit;
    while (mHeld && !mDeviceStopped && !mCancel) {
        if (mClock.now() >= until) {
            mDeviceStopped = true;
            problem(FileProblem::Kind::Refused,
                "The device asked Morvex to wait (WAIT) after " + mFollowed
                    + " and then said nothing for "
                    + text::duration(waitLimit, text::DurationStyle::Words)
                    + ". Nothing was sent after it: send the whole update again once the "
                      "device is ready.");
            break;
        }
        std::vector<std::vector<std::uint8_t>> arrived;
        if (!awaitWord(*mWayBack, mClock, until, &mCancel, arrived))
            return Go::Stop;
        const bool said = !arrived.empty();
        hear(std::move(arrived));
        if (said && mHeld)
            until = mClock.now() + limit; // a new WAIT starts the limit again
    }
    if (mDeviceStopped || mCancel)
        return Go::Halt;
    mSheet.showStatus("Sending...");
    return Go::On;
}

bool Transfer::hearTheLastWord()
{
    if (!mWayBack || mCancel || mDeviceStopped)
        return true;
    // From the moment the last message left, which on a wire may be a little after its send.
    const auto left = mPort.nextDelayFrom(mClock);
    const auto limit = left + LastWordLimit;
    for (auto quiet = left + LastWordQuiet; mClock.now() < std::min(quiet, limit);) {
        std::vector<std::vector<std::uint8_t>> arrived;
        if (!awaitWord(*mWayBack, mClock, std::min(quiet, limit), &mCancel, arrived))
            return false;
        if (!arrived.empty())
            quiet = mClock.now() + LastWordQuiet;
        hear(std::move(arrived));
    }
    return true;
}

bool Transfer::sendFile(std::size_t index)
{
    if (mClock.stopRequested())
        return false;
    mMicrosecondsLeft = mPlan.microsecondsFrom(index, bytesPerSecond(), mSlower);
    const std::string& name = mFiles[index];
    // The image is freed when this file is done: memory follows the largest file.
    FileImage image = readFileImage(takeUp(index));
    if (!image.read()) {
        judge(index, { std::nullopt, image.error });
        return true;
    }
    std::vector<_Event> events;
    _SMF reader(image.bytes.data(), image.bytes.size(), &events);
    const std::uint32_t total = reader.Scan();
    judge(index,
        { FileSize { total, reader.count(), reader.delays(), reader.ending(), reader.stopOffset() },
            {} });
    // By index, not by files sent: a later file pauses even when every earlier one was unreadable.
    // Once the destination or the service is known gone there is nothing to pause for.
    if (index != 0 && !mRouteGone && !wait(Time_FilePause))
        return false;
    return sendEvents(name, events);
}

bool Transfer::wait(std::uint32_t microseconds)
{
    const std::uint64_t lasting = stretched(microseconds, mSlower);
    if (lasting > 0)
        showRemaining(lasting);
    // No delay means at once: the message follows the one before however much of that one is
    // still on its way to the device.
    const timing::Clock::TimePoint from = mPort.nextDelayFrom(mClock);
    if (!mClock.sleepUntil(
            lasting > 0 ? from + std::chrono::microseconds(lasting) : std::min(from, mClock.now())))
        return false;
    mMicrosecondsLeft -= std::min(mMicrosecondsLeft, lasting);
    return true;
}

bool Transfer::sendEvents(const std::string& name, const std::vector<_Event>& events)
{
    const std::string shown = text::printable(name);
    std::size_t uncertain = 0;
    std::string uncertainReason;
    std::size_t unsent = 0;
    std::string unsentReason;
    bool stopped = false; // a stop request cut a message short
    for (std::size_t j = 0; j < events.size() && !mCancel; ++j) {
        // A delay cut short by a stop request ends the run: its message would go out early.
        if (!wait(mRouteGone ? 0 : events[j].time()))
            return false;
        // The device's word comes before the message: a refusal stops the update here.
        if (const Go go = deviceLetsGo(); go != Go::On) {
            if (go == Go::Stop)
                return false;
            break;
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(events[j].ptr());
        const midi::SendResult result = mHalted ? midi::SendResult { midi::SendError::Shared, 0,
            "Nothing more was sent once another program sent to " + destinationName() + "." }
            : mDestination ? mPort.send(*mDestination, { bytes, events[j].size() }, mClock)
                           : midi::SendResult { midi::SendError::NoSuchDestination, 0,
                                 "No MIDI destination was chosen." };
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
            mOutcome.bytesCut += result.bytesSent;
            stopped = result.error == midi::SendError::Stopped;
            mRouteGone = mRouteGone || result.error == midi::SendError::DestinationGone
                || result.error == midi::SendError::ServiceStopped
                || result.error == midi::SendError::Shared;
            mHalted = mHalted || result.error == midi::SendError::Shared;
            break;
        }
        mOutcome.bytesSent += events[j].size();
        ++mMessagesSent;
        if (mWayBack)
            mFollowed = "message " + std::to_string(j + 1) + " of " + shown;
        mMicrosecondsLeft
            -= std::min(mMicrosecondsLeft,
                wireMicroseconds(events[j].size(), bytesPerSecond() / mSlower));
        showProgress();
    }
    // A service may still be delivering what it was handed: its account comes before the pause
    // that lets the device take in this file. After a stop nothing more is waited for.
    const midi::Settled settled = stopped ? midi::Settled {} : mPort.settle();
    mRouteGone = mRouteGone || settled.gone;
    mOutcome.bytesSent -= std::min<std::uint64_t>(settled.bytesNotDelivered, mOutcome.bytesSent);
    if (unsent + settled.notDelivered > 0)
        problem(FileProblem::Kind::Undelivered,
            shown + ": " + std::to_string(unsent + settled.notDelivered) + " of "
                + std::to_string(events.size()) + " messages were not delivered to "
                + destinationName() + ". "
                + (settled.notDeliveredReason.empty() ? unsentReason : settled.notDeliveredReason));
    if (uncertain == 0)
        uncertainReason = settled.uncertainReason;
    uncertain += settled.uncertain;
    if (uncertain > 0)
        problem(FileProblem::Kind::Uncertain,
            shown + ": " + std::to_string(uncertain) + " of " + std::to_string(events.size())
                + " messages may not have arrived at " + destinationName() + ". "
                + uncertainReason);
    return !stopped;
}

// sent: how the send pass read file index.
void Transfer::judge(std::size_t index, const FileReading& sent)
{
    const FileReading& sized = mPlan.files()[index].reading;
    if (sized.size != sent.size) {
        // The file was read in one pass only, or differently in each.
        problem(FileProblem::Kind::Changed,
            text::printable(mFiles[index]) + " changed during the update.");
        return;
    }
    if (std::string remark = judgeReading(mFiles[index], sent); !remark.empty())
        problem(isDamaged(sent) ? FileProblem::Kind::Damaged : FileProblem::Kind::NoEndOfTrack,
            std::move(remark));
}

bool Transfer::end(Outcome::End how)
{
    mOutcome.end = how;
    return false;
}

void Transfer::problem(FileProblem::Kind kind, std::string text)
{
    mOutcome.problems.push_back({ kind, std::move(text) });
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
    showRemaining(0);
}

void Transfer::showRemaining(std::uint64_t waiting)
{
    mSheet.showRemaining({ mOutcome.bytesSent, mOutcome.total, mMicrosecondsLeft, waiting });
}

std::string Transfer::destinationName() const
{
    if (!mDestination)
        return "no destination";
    return *mDestination < mDestinations.size() ? text::printable(mDestinations[*mDestination].name)
                                                : "a destination that is not listed";
}

double Transfer::bytesPerSecond() const
{
    return mDestination && *mDestination < mDestinations.size()
        ? mDestinations[*mDestination].bytesPerSecond
        : 0;
}

// A file without its End of Track is only remarked on: every byte of it arrived, so the update is
// complete, and the alert says so and names the file.
void Transfer::finish()
{
    if (mCancel) {
        mOutcome.end = Outcome::End::Cancelled;
        return;
    }
    // A device that acknowledged every message it was sent has vouched for those the service
    // could not: a server may run a receiver late and keep or drop its cycle, which the sender
    // cannot tell apart, but the device can.
    const bool vouched
        = mMessagesSent > 0 && mOutcome.heard.count(ReplyKind::Ack) == mMessagesSent;
    std::string message;
    bool failed = false;
    for (const FileProblem& problem : mOutcome.problems) {
        const bool acknowledged = vouched && problem.kind == FileProblem::Kind::Uncertain;
        message += (message.empty() ? "" : "\n") + problem.text
            + (acknowledged ? " The device acknowledged every message it was sent: they arrived."
                            : "");
        failed = failed || !(problem.kind == FileProblem::Kind::NoEndOfTrack || acknowledged);
    }
    mOutcome.end = failed ? Outcome::End::Incomplete : Outcome::End::Completed;
    mSheet.showAlert(mOutcome, message, heardText(mOutcome.heard));
}

} // namespace transfer
