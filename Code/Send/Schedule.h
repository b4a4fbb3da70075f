#pragma once

#include "Transfer/Transfer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace send {

// What an update will do and how long it will take, learnt by running the very transfer the
// update runs against a port that sends nothing and a clock that only adds up: the order, the
// pauses and what a file that cannot be read costs are the transfer's own, never a copy of them.
class Schedule {
public:
    struct File {
        std::string name;
        std::uint32_t messages = 0;
        std::uint64_t bytes = 0;
        std::uint64_t microseconds = 0; // its delays and the pause before it
    };

    // files: the names, in sending order, inside folder.
    static Schedule rehearse(const std::string& folder, const std::vector<std::string>& files);

    // In sending order, one for each listed file.
    const std::vector<File>& files() const { return mFiles; }
    // What the update would name in "Update Incomplete" from reading the files alone.
    const std::vector<transfer::FileProblem>& problems() const { return mProblems; }

    std::uint64_t microseconds() const { return microsecondsLeft(0); }
    // The waits of the update from the one numbered waitsBegun (from 0) on: the time left once
    // waitsBegun waits have begun and the message after the last of them has gone out.
    std::uint64_t microsecondsLeft(std::size_t waitsBegun) const;

private:
    std::vector<File> mFiles;
    // mWaitsFrom[k]: the sum of the delays and pauses of the update from the one numbered k on.
    std::vector<std::uint64_t> mWaitsFrom;
    std::vector<transfer::FileProblem> mProblems;
};

// A time of the schedule as a person reads it, to the millisecond: "2.500 s".
std::string secondsText(std::uint64_t microseconds);

} // namespace send
