#include "Folder.h"

#include "QtPrinting.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::TempDir;

TEST(Folder, DeletingTheLastComponentKeepsTheRootAndEmptiesALoneName)
{
    const std::pair<QString, QString> cases[] = {
        { "/opt/updates/Morvex.AppDir", "/opt/updates" },
        { "/opt/updates/", "/opt" },
        { "/opt//updates", "/opt" },
        { "/opt", "/" },
        { "/", "/" },
        { "//", "/" },
        { "morvex", "" },
        { "morvex/", "" },
        { "bin/morvex", "bin" },
        { "", "" },
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(deletingLastPathComponent(path), expected) << path.toStdString();
}

TEST(Folder, DefaultFolderIsFourComponentsUpFromTheExecutable)
{
    EXPECT_EQ(
        defaultFolder("/home/ann/Update 2/Morvex.AppDir/usr/bin/morvex"), "/home/ann/Update 2");
    EXPECT_EQ(defaultFolder("/usr/bin/morvex"), "/");
    EXPECT_EQ(defaultFolder("usr/bin/morvex"), "");
}

TEST(Folder, NamesAreSortedAsAPersonReadsThem)
{
    QStringList names { "part10.mid", "Part1.mid", "part2.mid", "part02.mid", "b.mid", "A.mid",
        "a.mid", "part99999999999999999999.mid", "part100000000000000000000.mid" };
    std::sort(names.begin(), names.end(), readsBefore);
    const QStringList expected { "A.mid", "a.mid", "b.mid", "Part1.mid", "part02.mid", "part2.mid",
        "part10.mid", "part99999999999999999999.mid", "part100000000000000000000.mid" };
    EXPECT_EQ(names, expected);
}

TEST(Folder, ListsEveryEntryWithAMidExtensionInAnyCase)
{
    TempDir folder;
    for (const char* name : { "c.Mid", "a.mid", "B.MID", "d.midi", "e.txt", "mid", ".mid",
             "f.mid.bak", ".h.mid", "g." })
        folder.write(name, {});
    std::filesystem::create_directory(folder.path() / "x.mid");
    const MidiFileListing listing = listMidiFiles(QString::fromStdString(folder.path().string()));
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(listing.names, QStringList({ ".h.mid", "a.mid", "B.MID", "c.Mid", "x.mid" }));
}

TEST(Folder, AFolderThatCannotBeListedGivesNoNamesAndSaysWhy)
{
    TempDir folder;
    const QString file = QString::fromStdString(folder.write("a.mid", {}).string());
    for (const QString& path : { file, file + "-missing", QString() }) {
        const MidiFileListing listing = listMidiFiles(path);
        EXPECT_TRUE(listing.names.isEmpty());
        EXPECT_TRUE(listing.error.contains(path)) << listing.error.toStdString();
    }
}
