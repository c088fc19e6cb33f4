#include "core/Version.h"

#include <QStringList>

namespace Morvaniel {

quint64 Version::key() const
{
    auto ext = [](int32_t v) { return static_cast<quint64>(static_cast<qint64>(v)); };
    quint64 k = ext(major);
    k = (k << 8) | ext(minor);
    k = (k << 16) | ext(patch);
    k = (k << 32) | ext(build);
    return k;
}

QString Version::toString() const
{
    return QStringLiteral("%1.%2.%3.%4").arg(major).arg(minor).arg(patch).arg(build);
}

void GetVersionByString(QString text, Version &out)
{
    const QStringList sections = text.split(QLatin1Char('.'));
    auto section = [&sections](int i) { return i < sections.size() ? sections.at(i).toInt(nullptr, 10) : 0; };
    out.major = section(0);
    out.minor = section(1);
    out.patch = section(2);
    out.build = section(3);
}

Version versionFromString(const QString &text)
{
    Version v;
    GetVersionByString(text, v);
    return v;
}

QString versionToString(const Version &v)
{
    return v.toString();
}

} // namespace Morvaniel
