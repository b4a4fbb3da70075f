#include "Folder.h"

#include "Text/Printable.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

qsizetype endWithoutTrailingSlashes(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    return end;
}

} // namespace

QString deletingLastPathComponent(const QString& path)
{
    const qsizetype end = endWithoutTrailingSlashes(path);
    const qsizetype slash = path.lastIndexOf(u'/', end - 1);
    if (slash < 0)
        return {};
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(endWithoutTrailingSlashes(path.left(slash)));
}

// Made absolute, so that Morvex.AppDir/usr/bin/morvex typed in the update folder leads back to it
// rather than to the empty path that four components up from a relative name give.
QString executablePath(const QString& argument0)
{
    if (argument0.contains(u'/'))
        return QDir::cleanPath(QDir::current().absoluteFilePath(argument0));
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

bool insideAppDir(const QString& executable)
{
    const QStringList components = executable.split(u'/', Qt::SkipEmptyParts);
    const qsizetype count = components.size();
    const QString suffix = QStringLiteral(".AppDir");
    return count >= 4 && components[count - 2] == u"bin" && components[count - 3] == u"usr"
        && components[count - 4].endsWith(suffix) && components[count - 4].size() > suffix.size();
}

QString defaultFolder(const QString& executable)
{
    QString folder = executable;
    for (int component = 0; component < 4; ++component)
        folder = deletingLastPathComponent(folder);
    return folder;
}

QString displayName(const std::string& bytes)
{
    return QString::fromStdString(text::printable(bytes));
}
