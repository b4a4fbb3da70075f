#pragma once

#include "Transfer/Sheet.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string>

namespace send {

// The progress sheet of a terminal. On a terminal it keeps one line up to date, a file name too
// long for the terminal's width cut in the middle; elsewhere (a pipe, a file, a log) it prints a
// line per file, per whole percent and per wait long enough to look like a hang, each flushed at
// once. "Complete Update" goes to out, "Update Incomplete" and its reasons to err. All its calls
// come from the thread that runs the transfer.
class Progress final : public transfer::Sheet {
public:
    struct Setting {
        bool terminal = false;
        std::string folder;
        std::size_t destination = 0;
        std::size_t files = 0; // how many are listed
        bool sendDamaged = false; // the answer to the damaged files' question
        bool shareDestination = false; // the answer to the other senders' question
        // Set once the first message is about to go out, for the thread that watches signals.
        std::atomic<bool>* sendPass = nullptr;
    };

    Progress(std::FILE* out, std::FILE* err, Setting setting);

    std::string folderText() override { return mSetting.folder; }
    void setFileText(const std::string& name) override;
    bool sendDamaged(const std::string& reasons) override;
    bool shareDestination(const std::string& senders) override;
    void showStatus(const std::string& text) override;
    void startSending() override;
    void setProgress(double percent) override { mPercent = static_cast<int>(percent); }
    void setPercentText(const std::string&) override { }
    void showRemaining(const transfer::Remaining& remaining) override;
    std::optional<std::size_t> selectedDestination() override { return mSetting.destination; }
    void showAlert(const transfer::Outcome& outcome, const std::string& message,
        const std::string& heard) override;
    void end() override { endLine(); }

private:
    void show(const std::string& text);
    void endLine();

    std::FILE* const mOut;
    std::FILE* const mErr;
    const Setting mSetting;

    bool mSending = false; // the size pass is over
    bool mLineUp = false; // a terminal line without its line feed stands on the screen
    std::size_t mFilesTaken = 0; // in the send pass
    std::string mFile;
    int mPercent = 0; // as the bar stands
    int mPercentShown = -1; // as a log line last said it
};

// A pace slower than the files say, as a person reads it: "2× slower", "1.5× slower".
std::string slowerText(double slower);

} // namespace send
