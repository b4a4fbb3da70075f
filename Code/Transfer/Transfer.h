#pragma once

#include "MIDI/Midi.h"
#include "SMF/_SMF.h"
#include "Timing/Clock.h"
#include "Transfer/Sheet.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

// What went wrong with one listed file. One file can have two: changed, then not delivered.
struct FileProblem {
    enum class Kind {
        Unreadable, // could be read in neither pass
        NotFormat0, // the reader rejected its header
        Truncated, // the image ended before the track's End of Track
        Changed, // the two passes read it differently, or only one could read it
        Undelivered, // a message did not reach the destination whole
        Uncertain, // the service could not vouch that some messages arrived
    };
    Kind kind;
    std::string text; // a sentence for a person, the file's name first
};

struct [[nodiscard]] Outcome {
    enum class End {
        Completed, // every file read alike twice, every message delivered: "Complete Update"
        Incomplete, // ran to its end with problems: "Update Incomplete" named them
        Cancelled, // the cancel flag was seen at a check: no alert
        Stopped, // a stop request ended the run at once: no alert
    };
    End end = End::Completed;
    std::vector<FileProblem> problems; // in list order, for the files taken up before the end
    std::uint64_t total = 0; // message bytes the size pass counted
    std::uint64_t bytesSent = 0; // bytes of the messages delivered whole
};

// One Send: totals the message bytes of every listed file, then sends each file's messages to
// the destination chosen in the sheet, each after its delay and a 2 s pause before every file
// but the first listed, and shows the progress; it ends with "Complete Update", or with
// "Update Incomplete" naming what went wrong, unless it was cancelled or stopped, and always with
// the sheet's end. Run it on a thread of its own: it sleeps and waits for the sheet.
class Transfer {
public:
    // files: the names, without folder, in list order; the folder comes from the sheet.
    // destinations: the MIDI service's destinations by index, for the failure texts. The clock
    // times every wait, the port's pacing included.
    // cancel: raised by Cancel; read at the checks before each file of each pass, after the size
    // pass, before each message and before the alert, never during a sleep. Stopping goes
    // through the clock. Every reference must outlive run().
    Transfer(Sheet& sheet, midi::OutputPort& port, timing::Clock& clock,
        std::vector<std::string> files, std::vector<std::string> destinations,
        const std::atomic<bool>& cancel);

    Outcome run();

private:
    // What the size pass learnt of one file, to tell whether the send pass reads the same.
    struct Reading {
        std::uint32_t total;
        _SMF::Ending ending;
        bool operator==(const Reading&) const = default;
    };

    // These answer false when a stop request ended the run.
    bool sizePass();
    bool sendPass();
    bool sendFile(std::size_t index);
    bool sendEvents(const std::string& name, const std::vector<_Event>& events);
    void judge(const std::string& name, const std::optional<Reading>& sized,
        const std::optional<Reading>& sent, const std::string& unreadable);
    void problem(FileProblem::Kind kind, std::string text);
    void showProgress();
    std::string destinationName() const;
    std::string takeUp(std::size_t index);
    void finish();

    Sheet& mSheet;
    midi::OutputPort& mPort;
    timing::Clock& mClock;
    const std::vector<std::string> mFiles;
    const std::vector<std::string> mDestinations;
    const std::atomic<bool>& mCancel;

    // One run's state.
    std::vector<std::optional<Reading>> mSized; // by file index; empty: could not be read
    std::optional<std::size_t> mDestination;
    Outcome mOutcome;
};

} // namespace transfer
