#pragma once

#include <string>
#include <vector>

namespace transfer {

// How an update's folder is seen, by the window and by morvex-send alike: which entries are
// update files and the order in which they are sent. Names and paths are bytes as the file system
// holds them (UTF-8 on any usual system).

// The text after the last period of the last component; empty when there is no period or the
// only one starts the name (".mid" and "mid" have none, "f.mid.bak" has "bak"). Trailing slashes
// are ignored.
std::string pathExtension(const std::string& path);

// The order in which a person reads names: case ignored, runs of digits compared by their value
// ("part2" before "part10"), and names that still tie ordered by their bytes, so that the order
// never depends on the file system. Case is folded for ASCII letters only; other characters
// compare by their UTF-8 bytes, which is their code point order.
bool readsBefore(const std::string& a, const std::string& b);

struct [[nodiscard]] MidiFileListing {
    std::vector<std::string> names; // without folder, in reading order
    std::string error; // why the folder could not be listed; empty when it was
};

// Every entry of folder (hidden entries and subfolders included: what cannot be read as a file is
// the transfer's to report) whose extension is "mid" in any case, sorted with readsBefore.
MidiFileListing listMidiFiles(const std::string& folder);

} // namespace transfer
