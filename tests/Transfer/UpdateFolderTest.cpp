#include "Transfer/UpdateFolder.h"

#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::TempDir;

namespace transfer {
namespace {

TEST(UpdateFolder, ExtensionIsAfterTheLastPeriodOfTheLastComponent)
{
    const std::pair<std::string, std::string> cases[] = {
        { "a.mid", "mid" },
        { "/x.y/a.MID", "MID" },
        { "f.mid.bak", "bak" },
        { ".mid", "" },
        { "mid", "" },
        { "g.", "" },
        { "/x.mid/", "mid" },
        { "/x.y/z", "" },
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(pathExtension(path), expected) << path;
}

TEST(UpdateFolder, NamesAreSortedAsAPersonReadsThem)
{
    std::vector<std::string> names { "part10.mid", "Part1.mid", "part2.mid", "part02.mid", "b.mid",
        "A.mid", "a.mid", "part99999999999999999999.mid", "part100000000000000000000.mid",
        "\xC3\xA9.mid", "z.mid" };
    std::sort(names.begin(), names.end(), readsBefore);
    const std::vector<std::string> expected { "A.mid", "a.mid", "b.mid", "Part1.mid", "part02.mid",
        "part2.mid", "part10.mid", "part99999999999999999999.mid", "part100000000000000000000.mid",
        "z.mid", "\xC3\xA9.mid" };
    EXPECT_EQ(names, expected);
}

TEST(UpdateFolder, ListsEveryEntryWithAMidExtensionInAnyCase)
{
    TempDir folder;
    for (const char* name : { "c.Mid", "a.mid", "B.MID", "d.midi", "e.txt", "mid", ".mid",
             "f.mid.bak", ".h.mid", "g." })
        folder.write(name, {});
    std::filesystem::create_directory(folder.path() / "x.mid");
    const MidiFileListing listing = listMidiFiles(folder.path().string());
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(
        listing.names, std::vector<std::string>({ ".h.mid", "a.mid", "B.MID", "c.Mid", "x.mid" }));
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
