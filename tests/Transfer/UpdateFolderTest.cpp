#include "Transfer/UpdateFolder.h"

#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using testsupport::TempDir;

namespace transfer {
namespace {

// Every entry whose extension is "mid" in any case, files or not, hidden or not, in the order a
// person reads names: case ignored, digits by value however long, ties by bytes, UTF-8 after ASCII.
TEST(UpdateFolder, ListsTheMidEntriesInReadingOrder)
{
    TempDir folder;
    for (const char* name : { "c.Mid", "a.mid", "B.MID", "d.midi", "e.txt", "mid", ".mid",
             "f.mid.bak", ".h.mid", "g.", "part10.mid", "Part1.mid", "part2.mid", "part02.mid",
             "A.mid", "part99999999999999999999.mid", "part100000000000000000000.mid",
             "\xC3\xA9.mid", "z.mid" })
        folder.write(name, {});
    std::filesystem::create_directory(folder.path() / "x.mid");
    const MidiFileListing listing = listMidiFiles(folder.path().string());
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(listing.names,
        std::vector<std::string>({ ".h.mid", "A.mid", "a.mid", "B.MID", "c.Mid", "Part1.mid",
            "part02.mid", "part2.mid", "part10.mid", "part99999999999999999999.mid",
            "part100000000000000000000.mid", "x.mid", "z.mid", "\xC3\xA9.mid" }));
}

TEST(UpdateFolder, AFolderThatCannotBeListedGivesNoNamesAndSaysWhy)
{
    TempDir folder;
    const std::string file = folder.write("a.mid", {}).string();
    for (const std::string& path : { file, file + "-missing", std::string() }) {
        const MidiFileListing listing = listMidiFiles(path);
        EXPECT_TRUE(listing.names.empty());
        EXPECT_NE(listing.error.find("“" + path + "”"), std::string::npos) << listing.error;
    }
}

} // namespace
} // namespace transfer
