#include "Folder.h"

#include <QFile>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

qsizetype endWithoutTrailingSlashes(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    return end;
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

qsizetype digitRunEnd(const QString& s, qsizetype from)
{
    while (from < s.size() && isDigit(s[from]))
        ++from;
    return from;
}

// Compares two runs of digits by their value, however long: leading zeros do not count, a longer
// run is larger, and runs of one length compare digit by digit.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.sliced(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.sliced(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

int compareAsRead(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            if (int order = compareNumbers(
                    QStringView(a).sliced(i, endA - i), QStringView(b).sliced(j, endB - j)))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const char16_t x = a[i].toCaseFolded().unicode();
        const char16_t y = b[j].toCaseFolded().unicode();
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return 0;
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

QString defaultFolder(const QString& executable)
{
    QString folder = executable;
    for (int component = 0; component < 4; ++component)
        folder = deletingLastPathComponent(folder);
    return folder;
}

QString pathExtension(const QString& path)
{
    const QString name = path.left(endWithoutTrailingSlashes(path)).section(u'/', -1);
    const qsizetype period = name.lastIndexOf(u'.');
    return period > 0 ? name.mid(period + 1) : QString();
}

bool readsBefore(const QString& a, const QString& b)
{
    if (int order = compareAsRead(a, b))
        return order < 0;
    return a.toUtf8() < b.toUtf8();
}

MidiFileListing listMidiFiles(const QString& folder)
{
    MidiFileListing listing;
    std::error_code error;
    std::filesystem::directory_iterator entry(QFile::encodeName(folder).toStdString(), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const QString name = QFile::decodeName(entry->path().filename().c_str());
        if (pathExtension(name).compare(u"mid", Qt::CaseInsensitive) == 0)
            listing.names.append(name);
    }
    if (error) {
        listing.names.clear();
        listing.error = QStringLiteral("Cannot list the folder “%1”: %2.")
                            .arg(folder, QString::fromLocal8Bit(error.message()));
        return listing;
    }
    std::sort(listing.names.begin(), listing.names.end(), readsBefore);
    return listing;
}
