#pragma once

#include "Transfer/Outcome.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace transfer {

// What a transfer shows and reads while it runs: the progress sheet, the two choices of the
// window it reads, the final alert and the end of the transfer. Every call comes from the thread
// that runs the transfer, in this order:
//
//   size pass, per file:   folderText, setFileText
//   damaged files, unless cancelled: sendDamaged; a no there ends the transfer
//   unless cancelled:      showStatus("Sending...")
//   always:                startSending, setProgress(0), setPercentText("0 %"),
//                          selectedDestination; when other programs send to it too, unless
//                          cancelled: shareDestination, a no there ends the transfer;
//                          showRemaining
//   send pass, per file:   folderText, setFileText; before each wait showRemaining; per
//                          message sent setProgress, setPercentText, showRemaining; while the
//                          device holds the next message (WAIT) showStatus("Waiting for the
//                          device..."), then showStatus("Sending...") when it lets it go
//   unless cancelled:      showAlert
//   always, last:          end
//
// A stop request (quitting) skips straight to end. A window forwards each call to its UI thread in
// call order; only the reads, the question, showStatus and showAlert make the calling thread wait.
// How far a transfer is, as the bar's text shows it.
struct Remaining {
    std::uint64_t bytesSent = 0;
    std::uint64_t bytesTotal = 0; // what the size pass counted
    std::uint64_t microseconds = 0; // the time the rest of the update will take
    std::uint64_t waiting = 0; // microseconds: the wait that begins now; 0 after a message
};

class Sheet {
public:
    virtual ~Sheet() = default;

    // The folder field's text, read afresh for each file of each pass.
    virtual std::string folderText() = 0;
    // The file field: the name of the file being sized or sent.
    virtual void setFileText(const std::string& name) = 0;
    // Some files are damaged (named in reasons, one a line): answers whether to send the update
    // all the same, the damaged files as far as they can be read. Returns once answered.
    virtual bool sendDamaged(const std::string& reasons) = 0;
    // Other programs send to the chosen destination too (named in senders, a sentence): answers
    // whether to send the update all the same, their messages mixed in. Returns once answered.
    virtual bool shareDestination(const std::string& senders) = 0;
    // The status field, set and redrawn at once; returns once it shows.
    virtual void showStatus(const std::string& text) = 0;
    // The size pass is over: the busy display gives way to a bar that goes from 0 to 100.
    virtual void startSending() = 0;
    virtual void setProgress(double percent) = 0;
    virtual void setPercentText(const std::string& text) = 0;
    virtual void showRemaining(const Remaining& remaining) = 0;
    // The destination chosen: an index into the MIDI client's destinations, or none.
    virtual std::optional<std::size_t> selectedDestination() = 0;
    // A modal alert with the one button "OK", titled by the outcome (alertTitle); returns once the
    // user has dismissed it. heard: what the device said back, for the alert's informative text;
    // empty when it said nothing.
    virtual void showAlert(
        const Outcome& outcome, const std::string& message, const std::string& heard)
        = 0;
    // The transfer is over (completed, cancelled, incomplete or stopped): the window ends the
    // sheet, gives the menus back and releases the send lock.
    virtual void end() = 0;
};

} // namespace transfer
