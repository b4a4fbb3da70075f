#pragma once

#include <QString>
#include <string>

// Path and folder rules of the main window, kept apart from the widgets so that they can be
// checked on their own. Paths are strings as the user sees them; nothing here touches Qt's
// widgets.

// The path without its last component: trailing slashes are ignored, the root stays the root and
// a lone relative name gives the empty string ("/a/b/" gives "/a", "/a" gives "/", "a" gives "").
QString deletingLastPathComponent(const QString& path);

// The absolute path of the running executable as argument 0 gives it, or, when argument 0 holds
// no folder (a bare name found on PATH, as a desktop entry starts it), the program's real path.
QString executablePath(const QString& argument0);

// Whether the executable stands in an AppDir, as the build and an AppDir install lay it out: its
// path ends in <name>.AppDir/usr/bin/<program>. A packaged copy in /usr/bin does not.
bool insideAppDir(const QString& executable);

// The folder that holds the application's AppDir: the executable's path less four components.
// Inside Morvex.AppDir/usr/bin/morvex this is the folder beside Morvex.AppDir, where the update
// files are expected to stand; outside an AppDir the window opens on the working folder instead.
QString defaultFolder(const QString& executable);

// A name from outside (a file, a folder, a destination) as the window shows it: text::printable.
QString displayName(const std::string& bytes);
