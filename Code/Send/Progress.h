#pragma once

#include "MIDI/Midi.h"
#include "Send/Schedule.h"
#include "Transfer/Clock.h"
#include "Transfer/Sheet.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace send {

// The progress sheet of a terminal. The transfer sees it as its sheet, its port and its clock: it
// passes each send and each wait on to the real port and clock and so knows, at every step, the
// file in hand, the bytes handed over and how many of the schedule's waits have begun, hence the
// time left. All its calls come from the thread that runs the transfer.
//
// On a terminal it keeps one line up to date; elsewhere (a pipe, a file, a log) it prints a line
// per file, per whole percent and per wait long enough to look like a hang, each flushed at once.
// "Complete Update" goes to out, "Update Incomplete" and its reasons to err.
class Progress final : public transfer::Sheet, public transfer::Clock, public midi::OutputPort {
public:
    Progress(std::FILE* out, std::FILE* err, bool terminal, std::string folder,
        std::size_t destination, const Schedule& schedule, transfer::Clock& clock,
        midi::OutputPort& port);

    std::string folderText() override { return mFolder; }
    void setFileText(const std::string& name) override;
    void showStatus(const std::string&) override { }
    void stopAnimation() override { }
    void setDeterminate() override { mSending = true; }
    void setProgress(double percent) override;
    void setPercentText(const std::string&) override { }
    int selectedDeviceIndex() override;
    void showAlert(const std::string& title, const std::string& message) override;
    void end() override { endLine(); }

    bool sleep(std::uint32_t microseconds) override;
    bool stopRequested() const override { return mClock.stopRequested(); }

    midi::SendResult send(std::size_t destination, std::span<const std::uint8_t> message) override;
    midi::Settled settle() override { return mPort.settle(); }

private:
    void show(const std::string& text);
    void endLine();
    std::string timeLeft() const;

    std::FILE* const mOut;
    std::FILE* const mErr;
    const bool mTerminal;
    const std::string mFolder;
    const std::size_t mDestination;
    const Schedule& mSchedule;
    transfer::Clock& mClock;
    midi::OutputPort& mPort;

    bool mSending = false; // the size pass is over
    bool mLineUp = false; // a terminal line without its line feed stands on the screen
    std::size_t mFilesTaken = 0; // in the send pass
    std::string mFile;
    std::size_t mWaitsBegun = 0;
    std::uint64_t mBytes = 0; // handed over whole
    int mPercent = -1; // the whole percent last shown
};

} // namespace send
