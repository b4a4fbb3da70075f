#pragma once

#include <QString>
#include <QStringList>

// Path and folder rules of the main window, kept apart from the widgets so that they can be
// checked on their own. Paths are strings as the user sees them; nothing here touches Qt's
// widgets.

// The path without its last component: trailing slashes are ignored, the root stays the root and
// a lone relative name gives the empty string ("/a/b/" gives "/a", "/a" gives "/", "a" gives "").
QString deletingLastPathComponent(const QString& path);

// The folder that holds the application: the executable's path less four components. The build
// and an installed copy both lay the program out as Morvex.AppDir/usr/bin/morvex, so this is the
// folder beside Morvex.AppDir, where the update files are expected to stand.
QString defaultFolder(const QString& executable);

// The text after the last period of the last component; empty when there is no period or the
// only one starts the name (".mid" and "mid" have none, "f.mid.bak" has "bak").
QString pathExtension(const QString& path);

// The order in which a person reads names: case ignored, runs of digits compared by their value
// ("part2" before "part10"), and names that still tie ordered by their bytes, so that the order
// never depends on the file system.
bool readsBefore(const QString& a, const QString& b);

struct [[nodiscard]] MidiFileListing {
    QStringList names; // without folder, in reading order
    QString error; // why the folder could not be listed; empty when it was
};

// Every entry of folder (hidden entries and subfolders included) whose extension is "mid" in any
// case, sorted with readsBefore.
MidiFileListing listMidiFiles(const QString& folder);
