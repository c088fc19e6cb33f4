#pragma once

#include "MorvanielGlobal.h"

#include <QMap>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>

class QLabel;
class QWidget;

// Helpers for the host: launcher configuration files, processes, disk space,
// text and display formatting (QtUtilProcess.cpp), and small widget chores
// (QtUtilWidgets.cpp). Stateless; failures give neutral results (false, 0,
// an empty text) plus a message on Qt's message stream.
namespace QtUtil {

// --- Configuration, processes, text and formatting ---

// Reads the launcher profile ("x*version*launcher channel*game channel*info
// channel") and the channel-arguments file into data under the keys
// "LAUNCHER_VERSION", "LAUNCHER_CHANNEL", "GAME_CHANNEL", "INFO_CHANNEL" and
// "CHANNELARGS" (empty when that file holds only "*"). false, with data
// untouched, when a file is missing or the profile has not exactly five parts.
MORVANIEL_EXPORT bool GetConfigFileData(
    const QString &profilePath, const QString &channelArgsPath, QMap<QString, QString> &data);

// Id of the first running process whose executable is exePath (letter case
// ignored, either separator accepted where the system allows both); 0 if none.
MORVANIEL_EXPORT quint32 GetPIDByPathExeName(const QString &exePath);

// The executable path of process pid. false when the process cannot be queried;
// true with an empty path when the executable lies on no drive letter.
MORVANIEL_EXPORT bool GetProcessFullPathAndCheck(quint32 pid, QString &path);

// Ends at once the first process named exeName (case ignored) whose executable
// lies inside folder or below it. A relative folder is taken relative to the
// application folder. At most one process per call.
MORVANIEL_EXPORT void KillProcess(const QString &folder, const QString &exeName);

// Bytes available to this user on the volume that holds (or would hold) path;
// 0 when no mounted volume does ("Q:/x" with no drive Q).
MORVANIEL_EXPORT qint64 GetStorage(const QString &path);

// The whole file through a text stream (locale codec, a Unicode BOM wins).
MORVANIEL_EXPORT QString ReadAllText(const QString &path);

// Decodes a zero-terminated string in the codec of the system's locale.
MORVANIEL_EXPORT QString GetUnicodeString(const char *text);

// Kept for hosts built against it: hashes the file named by path and returns
// false in every case; expected is not used.
MORVANIEL_EXPORT bool CheckFileIsRight(const QString &expected, const QString &path);

// "1d 1h", "1h 1m 1s", "59s"; below one second "0s".
MORVANIEL_EXPORT QString transformTime(qint64 seconds);

// "1.50 KB", "3.00 GB", with "/S" appended when perSecond is set.
MORVANIEL_EXPORT QString transformUnit(qint64 bytes, bool perSecond);

// Logs "Test" with the tag "Tag": a quick check that the library is loaded.
MORVANIEL_EXPORT void Test();

// --- Widgets (none of the widget pointers is owned) ---

// Sets the style sheet read from path: a resource (":/...") or a file relative
// to the application folder. A file that cannot be read changes nothing.
MORVANIEL_EXPORT void ApplyQSS(QWidget *widget, const QString &path, bool unused = false);

MORVANIEL_EXPORT bool CheckPixMapValid(const QPixmap &pixmap);

// Sets text on label, shortened to a prefix plus "..." when it is wider than the label.
MORVANIEL_EXPORT void GetAdaptLabelString(const QString &text, QLabel *label);

MORVANIEL_EXPORT void MoveToCenter(QWidget *parent, QWidget *child, const QPoint &offset = QPoint());
MORVANIEL_EXPORT void MoveToCenterX(QWidget *parent, QWidget *child, const QPoint &offset = QPoint());
MORVANIEL_EXPORT void MoveToCenterY(QWidget *parent, QWidget *child, const QPoint &offset = QPoint());

// Shows or hides a half-transparent black frame (object name "grayName") over
// widget, creating it once, with widget's size at that moment, as its child.
MORVANIEL_EXPORT void SetGrayFrameVis(QWidget *widget, bool visible);

MORVANIEL_EXPORT void SetWidgetPos(QWidget *widget, int x, int y);

// Sets the launcher's bold or regular font at the widget's current pixel size.
MORVANIEL_EXPORT void UseBoldFont(QWidget *widget, bool bold);

// pixmap scaled to size with corners rounded by radius, outside them transparent.
// A height of 0 gives a square of the width.
MORVANIEL_EXPORT QPixmap getRoundRectPixmap(QPixmap pixmap, const QSize &size, int radius);

// Does nothing; kept for hosts built against it.
MORVANIEL_EXPORT void RefreshWidgetSizeAndPos(QWidget *widget, float scale);

} // namespace QtUtil
