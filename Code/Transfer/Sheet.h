#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace transfer {

// What a transfer shows and reads while it runs: the progress sheet, the two choices of the
// window it reads, the final alert and the end of the transfer. Every call comes from the thread
// that runs the transfer, in this order:
//
//   size pass, per file:   folderText, setFileText
//   unless cancelled:      showStatus("Sending...")
//   always:                startSending, setProgress(0), setPercentText("0 %"),
//                          selectedDestination
//   send pass, per file:   folderText, setFileText; then per message sent: setProgress,
//                          setPercentText
//   unless cancelled:      showAlert
//   always, last:          end
//
// A stop request (quitting) skips straight to end. A window forwards each call to its UI thread in
// call order; only the reads, showStatus and showAlert make the calling thread wait.
class Sheet {
public:
    virtual ~Sheet() = default;

    // The folder field's text, read afresh for each file of each pass.
    virtual std::string folderText() = 0;
    // The file field: the name of the file being sized or sent.
    virtual void setFileText(const std::string& name) = 0;
    // The status field, set and redrawn at once; returns once it shows.
    virtual void showStatus(const std::string& text) = 0;
    // The size pass is over: the busy display gives way to a bar that goes from 0 to 100.
    virtual void startSending() = 0;
    virtual void setProgress(double percent) = 0;
    virtual void setPercentText(const std::string& text) = 0;
    // The destination chosen: an index into the MIDI client's destinations, or none.
    virtual std::optional<std::size_t> selectedDestination() = 0;
    // A modal alert with the one button "OK"; returns once the user has dismissed it.
    virtual void showAlert(const std::string& title, const std::string& message) = 0;
    // The transfer is over (completed, cancelled, incomplete or stopped): the window ends the
    // sheet, gives the menus back and releases the send lock.
    virtual void end() = 0;
};

} // namespace transfer
