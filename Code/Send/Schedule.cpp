#include "Send/Schedule.h"

#include <atomic>
#include <cstdio>

namespace send {
namespace {

// The transfer's sheet, port and clock for a rehearsal: it records each file of the send pass,
// each message handed to it and each wait, and lets no time pass.
class Rehearsal final : public transfer::Sheet, public midi::OutputPort, public timing::Clock {
public:
    explicit Rehearsal(std::string folder)
        : mFolder(std::move(folder))
    {
    }

    std::vector<Schedule::File> files;
    std::vector<std::uint64_t> waits;

    std::string folderText() override { return mFolder; }
    void setFileText(const std::string& name) override
    {
        if (mSending)
            files.push_back({ name });
    }
    void showStatus(const std::string&) override { }
    void startSending() override { mSending = true; }
    void setProgress(double) override { }
    void setPercentText(const std::string&) override { }
    std::optional<std::size_t> selectedDestination() override { return 0; }
    void showAlert(const std::string&, const std::string&) override { }
    void end() override { }

    midi::SendResult send(
        std::size_t, std::span<const std::uint8_t> message, timing::Clock&) override
    {
        ++files.back().messages;
        files.back().bytes += message.size();
        return {};
    }

    TimePoint now() const override { return mNow; }
    bool sleepUntil(TimePoint when) override
    {
        const auto microseconds = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(when - mNow).count());
        files.back().microseconds += microseconds;
        waits.push_back(microseconds);
        mNow = when;
        return true;
    }
    bool stopRequested() const override { return false; }

private:
    const std::string mFolder;
    bool mSending = false; // the size pass is over
    TimePoint mNow; // no time passes but what the waits add
};

} // namespace

Schedule Schedule::rehearse(const std::string& folder, const std::vector<std::string>& files)
{
    Rehearsal rehearsal(folder);
    const std::atomic<bool> neverCancelled { false };
    transfer::Transfer transfer(
        rehearsal, rehearsal, rehearsal, files, { "the rehearsal" }, neverCancelled);
    Schedule schedule;
    schedule.mProblems = transfer.run().problems;
    schedule.mFiles = std::move(rehearsal.files);
    const std::vector<std::uint64_t>& waits = rehearsal.waits;
    schedule.mWaitsFrom.assign(waits.size() + 1, 0);
    for (std::size_t k = waits.size(); k-- > 0;)
        schedule.mWaitsFrom[k] = schedule.mWaitsFrom[k + 1] + waits[k];
    return schedule;
}

std::uint64_t Schedule::microsecondsLeft(std::size_t waitsBegun) const
{
    // A file that grew since the rehearsal can make the update wait more often than it did.
    return waitsBegun < mWaitsFrom.size() ? mWaitsFrom[waitsBegun] : 0;
}

std::string secondsText(std::uint64_t microseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

} // namespace send
