#pragma once

#include "MorvanielGlobal.h"

#include <QString>

// The library's one log sink. The Log* calls turn a tag and a text into one
// message of Qt's message stream; LogToFile installs the handler that writes
// every message of the process to log/launcher.log while its switch is on (the
// library points the switch at Global::Var::bLog when it loads).
namespace Logger {

// One operation under four names: each sends "[tag]:text" as a debug message.
MORVANIEL_EXPORT void LogInfo(const QString &tag, const QString &text);
MORVANIEL_EXPORT void LogDebug(const QString &tag, const QString &text);
MORVANIEL_EXPORT void LogWarning(const QString &tag, const QString &text);
MORVANIEL_EXPORT void LogCritical(const QString &tag, const QString &text);

// Writes "[tag]:text" as a fatal message; the process ends afterwards.
MORVANIEL_EXPORT void LogFatal(const QString &tag, const QString &text);

// true installs the file handler; false gives Qt's default handler back.
MORVANIEL_EXPORT void LogToFile(bool on);

// The flag the file handler reads before each message; none means off. The flag
// must outlive the process's last message.
void FollowSwitch(const bool *on);

} // namespace Logger
