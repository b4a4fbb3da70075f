#include "Folder.h"

#include "QtPrinting.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
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

// The rules themselves are tested with the transfer; here only what the window's conversion adds:
// names and paths that are not ASCII come back as they went in.
TEST(Folder, ListsTheUpdateFolderWithNamesAsTheWindowShowsThem)
{
    TempDir folder;
    const QString sub = QString::fromStdString((folder.path() / "Mises à jour").string());
    std::filesystem::create_directory(sub.toStdString());
    for (const char* name : { "b.mid", "Été 2.MID", "Été 10.mid", "notes.txt" })
        std::ofstream(std::filesystem::path(sub.toStdString()) / name);
    const MidiFileListing listing = listMidiFiles(sub);
    EXPECT_EQ(listing.error, "");
    EXPECT_EQ(listing.names, QStringList({ "b.mid", "Été 2.MID", "Été 10.mid" }));
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
