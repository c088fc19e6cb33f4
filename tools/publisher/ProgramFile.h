#pragma once

#include <QCoreApplication>
#include <QString>

namespace Publisher {

// The path of a program that ships beside this one ("7z", "hdiffz"), with the
// suffix the system gives programs.
inline QString programBesideThisOne(const QString &name)
{
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name + QStringLiteral(".exe");
#else
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
#endif
}

} // namespace Publisher
