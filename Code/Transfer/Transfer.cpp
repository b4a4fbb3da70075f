#include "Transfer/Transfer.h"

#include "FileImage.h"
#include "ThreadTuning.h"

#include <algorithm>
#include <utility>

namespace transfer {
namespace {

// Before every file but the first listed one: time for the device to take in what the previous
// file gave it (a firmware block written to flash) before the next file starts.
constexpr std::uint32_t Time_FilePause = 2000000;

} // namespace

Transfer::Transfer(Sheet& sheet, midi::OutputPort& port, timing::Clock& clock,
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
        if (FileImage image = readFileImage(takeUp(i)); image.read()) {
            _SMF reader(image.bytes.data(), image.bytes.size(), nullptr);
            const std::uint32_t total = reader.Scan();
            mSized[i] = Reading { total, reader.ending() };
            mOutcome.total += total;
        }
    }
    if (!mCancel)
        mSheet.showStatus("Sending...");
    mSheet.startSending();
    mSheet.setProgress(0.0);
    mSheet.setPercentText("0 %");
    mDestination = mSheet.selectedDestination();
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
    FileImage image = readFileImage(takeUp(index));
    if (!image.read()) {
        judge(name, mSized[index], std::nullopt, image.error);
        return true;
    }
    std::vector<_Event> events;
    _SMF reader(image.bytes.data(), image.bytes.size(), &events);
    const std::uint32_t total = reader.Scan();
    judge(name, mSized[index], Reading { total, reader.ending() }, {});
    // By index, not by files sent: a later file pauses even when every earlier one was unreadable.
    if (index != 0 && !mClock.sleep(Time_FilePause))
        return false;
    return sendEvents(name, events);
}

bool Transfer::sendEvents(const std::string& name, const std::vector<_Event>& events)
{
    std::size_t uncertain = 0;
    std::string uncertainReason;
    for (std::size_t j = 0; j < events.size() && !mCancel; ++j) {
        // A delay cut short by a stop request ends the run: its message would go out early.
        if (!mClock.sleep(events[j].time()))
            return false;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(events[j].ptr());
        const midi::SendResult result = mDestination
            ? mPort.send(*mDestination, { bytes, events[j].size() }, mClock)
            : midi::SendResult { midi::SendError::NoSuchDestination, 0,
                  "No MIDI destination was chosen." };
        if (result.error == midi::SendError::Uncertain) {
            // The service handed the message over but hiccupped around it (a JACK server that
            // missed a deadline). Nothing says it was lost, so the update goes on; the user is
            // told at the end which file to check.
            if (uncertain++ == 0)
                uncertainReason = result.reason;
        } else if (!result.ok()) {
            // The rest of this file is not sent. Its messages are parts of one update (a firmware
            // image in blocks), and a block sent after one that was lost would be taken as
            // following it. The device is left half-updated either way; stopping leaves it
            // with the least wrong data. The next file still gets its pause and its chance.
            problem(FileProblem::Kind::Undelivered,
                name + ": " + std::to_string(events.size() - j) + " of "
                    + std::to_string(events.size()) + " messages were not delivered to "
                    + destinationName() + ". " + result.reason);
            break;
        }
        mOutcome.bytesSent += events[j].size();
        showProgress();
    }
    if (uncertain > 0)
        problem(FileProblem::Kind::Uncertain,
            name + ": " + std::to_string(uncertain) + " of " + std::to_string(events.size())
                + " messages may not have arrived at " + destinationName() + ". "
                + uncertainReason);
    return true;
}

// unreadable: why the send pass could not read the file, when it could not.
void Transfer::judge(const std::string& name, const std::optional<Reading>& sized,
    const std::optional<Reading>& sent, const std::string& unreadable)
{
    using Kind = FileProblem::Kind;
    if (!sized && !sent)
        problem(Kind::Unreadable, name + " could not be read: " + unreadable + ".");
    else if (sized != sent)
        problem(Kind::Changed, name + " changed during the update.");
    else if (sent->ending == _SMF::Ending::RejectedHeader)
        problem(Kind::NotFormat0, name + " is not a format-0 MIDI file with one track.");
    else if (sent->ending == _SMF::Ending::CutShort || sent->ending == _SMF::Ending::NoEndOfTrack)
        problem(Kind::Truncated, name + " ends before its end of track.");
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
}

std::string Transfer::destinationName() const
{
    if (!mDestination)
        return "no destination";
    return *mDestination < mDestinations.size() ? mDestinations[*mDestination]
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
