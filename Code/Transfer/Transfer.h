#pragma once

#include "MIDI/Midi.h"
#include "SMF/_SMF.h"
#include "Timing/Clock.h"
#include "Transfer/Plan.h"
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
        Damaged, // could not be read, is no format-0 file with one track, or is cut off
        NoEndOfTrack, // whole messages but no End of Track: a remark, not a failure
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
        Declined, // damaged files were found and the person chose not to send
        Cancelled, // the cancel flag was seen at a check: no alert
        Stopped, // a stop request ended the run at once: no alert
    };
    End end = End::Completed;
    std::vector<FileProblem> problems; // in list order, for the files taken up before the end
    std::uint64_t total = 0; // message bytes the size pass counted
    std::uint64_t bytesSent = 0; // bytes of the messages delivered whole
};

// One Send: reads every listed file and totals its message bytes, asks before sending damaged
// files, then sends each file's messages to the destination chosen in the sheet, each after its
// delay and a 2 s pause before every file but the first listed, and shows the progress; it ends
// with "Complete Update", or with "Update Incomplete" naming what went wrong, unless it was
// declined, cancelled or stopped, and always with the sheet's end. Run it on a thread of its own:
// it sleeps and waits for the sheet.
class Transfer {
public:
    // files: the names, without folder, in list order; the folder comes from the sheet.
    // destinations: the MIDI service's destinations by index, for the texts and the wire time.
    // cancel: raised by Cancel; read at the checks before each file of each pass, after the size
    // pass, before each message and before the alert, never during a wait. The clock times every
    // wait, the port's pacing included, and stops the run. Every reference must outlive run().
    // slower: the update's pace, from Factor_LeastSlower (as the files say) to Factor_MostSlower.
    Transfer(Sheet& sheet, midi::OutputPort& port, timing::Clock& clock,
        std::vector<std::string> files, std::vector<midi::Destination> destinations,
        const std::atomic<bool>& cancel, double slower = Factor_LeastSlower);

    Outcome run();

private:
    // The steps of a run. Each answers false when the run ends there, with how in mOutcome.
    bool sizePass();
    bool askAboutDamage();
    bool sendPass();
    // These answer false when a stop request ended the run.
    bool sendFile(std::size_t index);
    bool sendEvents(const std::string& name, const std::vector<_Event>& events);
    bool wait(std::uint32_t microseconds); // as the file says: it lasts longer at a slower pace
    bool end(Outcome::End how); // always false
    void judge(std::size_t index, const FileReading& sent);
    void problem(FileProblem::Kind kind, std::string text);
    void showProgress();
    void showRemaining(std::uint64_t waiting);
    std::string destinationName() const;
    double bytesPerSecond() const; // at the destination's own pace
    std::string takeUp(std::size_t index);
    void finish();

    Sheet& mSheet;
    midi::OutputPort& mPort;
    timing::Clock& mClock;
    const std::vector<std::string> mFiles;
    const std::vector<midi::Destination> mDestinations;
    const std::atomic<bool>& mCancel;
    const double mSlower;

    // One run's state.
    Plan mPlan; // what the size pass read
    std::optional<std::size_t> mDestination;
    std::uint64_t mMicrosecondsLeft = 0; // of the plan, counted down as the send pass goes
    // A send found the destination or the service gone: every later message fails at once, so
    // the files after it are named without their pauses and delays.
    bool mRouteGone = false;
    Outcome mOutcome;
};

} // namespace transfer
