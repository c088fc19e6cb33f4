#include "FlowError.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QUrl>

namespace HostFlow {

namespace {

// Below this a write that failed is put down to the disk: 7z and the patch tool
// stop well before the last byte, and the file system keeps some for itself.
constexpr qint64 NearlyFull = 64 * 1024 * 1024;

QString fileOf(const QString &address)
{
    const QString name = QUrl(address).fileName();
    return name.isEmpty() ? address : name;
}

} // namespace

QString FlowError::playerText() const
{
    const QString where = QDir::toNativeSeparators(path);
    switch (kind) {
    case Failure::ServerUnreachable:
        return QStringLiteral("The update server cannot be reached. Check the connection and try again.");
    case Failure::NotOnServer:
        return QStringLiteral("The update server does not have %1. Try again later.").arg(fileOf(path));
    case Failure::DiskFull:
        return QStringLiteral("The disk of %1 is full. Free some space and try again.").arg(where);
    case Failure::NotWritable:
        return QStringLiteral("%1 cannot be written (read-only, or no permission). Choose another install folder.")
            .arg(where);
    case Failure::FileInUse:
        return QStringLiteral("%1 is in use by another program. Close it and try again.").arg(where);
    case Failure::Damaged:
        return QStringLiteral("A downloaded file was damaged. Try again; if it happens again, the server's files "
                              "are broken.");
    case Failure::Refused:
        return QStringLiteral("The update was refused: the server's files are not what the publisher signed.");
    case Failure::Busy:
    case Failure::Other:
        break;
    }
    return message.isEmpty() ? message : message.at(0).toUpper() + message.mid(1);
}

QString withDetail(const QString &message, const QString &detail)
{
    if (detail.isEmpty())
        return message;
    for (const QChar c : detail) {
        if (c.unicode() >= 0x2e80)
            return message;
    }
    return QStringLiteral("%1: %2").arg(message, detail);
}

FlowError networkError(const QString &what, const QString &address, int code, const QString &detail)
{
    FlowError e;
    e.path = address;
    e.detail = detail.isEmpty() ? QStringLiteral("network error %1").arg(code) : detail;
    switch (code) {
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::ContentGoneError:
        e.kind = Failure::NotOnServer;
        e.message = QStringLiteral("%1: the server has no %2 (HTTP 404)").arg(what, fileOf(address));
        return e;
    case QNetworkReply::UnknownContentError:
        // The library ends a request whose body grows past its bound with this code.
        e.message = QStringLiteral("%1: the server sent more than %2 may hold").arg(what, fileOf(address));
        return e;
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::AuthenticationRequiredError:
        e.message = QStringLiteral("%1: the server refused access to %2").arg(what, fileOf(address));
        return e;
    default:
        e.kind = Failure::ServerUnreachable;
        e.message = QStringLiteral("%1: the server could not be reached").arg(what);
        return e;
    }
}

bool folderTakesFiles(const QString &folder, QString &refusing)
{
    QString probe = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo(probe).isDir()) {
        const QString parent = QFileInfo(probe).path();
        if (parent == probe)
            break;
        probe = parent;
    }
    QTemporaryFile file(QDir(probe).filePath(QStringLiteral(".morvaniel-write-test-XXXXXX")));
    if (file.open())
        return true;
    refusing = probe;
    return false;
}

FlowError writeError(const QString &what, const QString &folder, const QString &detail)
{
    FlowError e;
    e.detail = detail;
    e.path = folder;
    QString refusing;
    if (!folderTakesFiles(folder, refusing)) {
        e.kind = Failure::NotWritable;
        e.path = refusing;
        e.message = QStringLiteral("%1: %2 is not writable").arg(what, QDir::toNativeSeparators(refusing));
        return e;
    }
    const QStorageInfo disk(folder);
    if (disk.isValid() && disk.bytesAvailable() < NearlyFull) {
        e.kind = Failure::DiskFull;
        e.message = QStringLiteral("%1: the disk of %2 is full").arg(what, QDir::toNativeSeparators(folder));
        return e;
    }
    e.message = withDetail(what, detail);
    return e;
}

int downloadNetworkError(const QString &text)
{
    static const QRegularExpression code(QStringLiteral("\\[code:(-?\\d+)\\]"));
    const QRegularExpressionMatch m = code.match(text);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace HostFlow
