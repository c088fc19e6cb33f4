#include "manifest/ManifestLines.h"

#include "manifest/FileManifest.h"

#include <limits>

namespace Morvaniel {
namespace ManifestLines {

QVector<QString> split(const QString &text)
{
    QVector<QString> lines;
    int from = 0;
    const int length = text.size();
    while (from <= length) {
        int end = text.indexOf(QLatin1Char('\n'), from);
        if (end < 0)
            end = length;
        const QString line = text.mid(from, end - from).simplified();
        if (!line.isEmpty())
            lines.append(line);
        from = end + 1;
    }
    return lines;
}

quint64 parseSize(const QString &field)
{
    // Qt reads "-1" as a huge unsigned value on some versions; a size never has a sign.
    if (field.contains(QLatin1Char('-')))
        return 0;
    bool ok = false;
    const quint64 value = field.toULongLong(&ok, 10);
    return ok ? value : 0;
}

quint64 addSaturated(quint64 a, quint64 b)
{
    const quint64 max = std::numeric_limits<quint64>::max();
    return a > max - b ? max : a + b;
}

FileManifestEntry parseEntry(const QString &line)
{
    FileManifestEntry entry;
    const int first = line.indexOf(QLatin1Char('|'));
    if (first < 0) {
        entry.path = line;
        return entry;
    }
    entry.path = line.left(first);
    const int second = line.indexOf(QLatin1Char('|'), first + 1);
    if (second < 0) {
        entry.md5 = line.mid(first + 1);
        return entry;
    }
    entry.md5 = line.mid(first + 1, second - first - 1);
    const int third = line.indexOf(QLatin1Char('|'), second + 1);
    entry.size = parseSize(third < 0 ? line.mid(second + 1) : line.mid(second + 1, third - second - 1));
    return entry;
}

} // namespace ManifestLines
} // namespace Morvaniel
