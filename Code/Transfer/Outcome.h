#pragma once

#include "Transfer/Heard.h"

#include <cstdint>
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
        Refused, // the device refused a message (NAK, CANCEL) or went silent after a WAIT
    };
    Kind kind;
    std::string text; // a sentence for a person, the file's name first
};

struct [[nodiscard]] Outcome {
    enum class End {
        Completed, // every file read alike twice, every message delivered: "Complete Update"
        Incomplete, // ran to its end with problems: "Update Incomplete" named them
        Declined, // damaged files or other senders were found and the person chose not to send
        Cancelled, // the cancel flag was seen at a check: no alert
        Stopped, // a stop request ended the run at once: no alert
    };
    End end = End::Completed;
    std::vector<FileProblem> problems; // in list order, for the files taken up before the end
    std::uint64_t total = 0; // message bytes the size pass counted
    std::uint64_t bytesSent = 0; // bytes of the messages delivered whole
    std::uint64_t bytesCut = 0; // bytes that went out of messages cut short
    Heard heard; // what the device said, when it has a way back
};

// The end alert's title, as the person reads it: "Complete Update" only for a completed update.
inline const char* alertTitle(const Outcome& outcome)
{
    return outcome.end == Outcome::End::Completed ? "Complete Update" : "Update Incomplete";
}

} // namespace transfer
