#pragma once

#include <QMetaType>
#include <QString>

namespace HostFlow {

// Why a run failed, told apart the way a player can act on it.
enum class Failure {
    Other,
    ServerUnreachable, // no answer: refused, unknown host, timed out
    NotOnServer, // the server answered that the file is not there (HTTP 404)
    DiskFull, // path: the folder being written
    NotWritable, // path: the folder or file that refuses writes
    FileInUse, // path: the file another program holds open
    Damaged, // a download failed its MD5 check again, or an archive would not unpack
    Refused, // signed releases: the server's files are not what the publisher signed
    Busy, // another run works on the same install folder
};

// A failed run as the views get it: the flow's own English sentence, and the
// library's own text (which may be Chinese) for the log and the details.
struct FlowError
{
    Failure kind = Failure::Other;
    QString message; // what the command line prints after "error: "
    QString detail; // the library's text or code; empty when the flow itself found the fault
    QString path; // the folder, file or address it is about

    // The sentence a player reads in the window.
    QString playerText() const;
};

// message, followed by the library's text when that is plain English (no
// Chinese, which the views keep for the log and the details).
QString withDetail(const QString &message, const QString &detail);
// A document or a download that failed with Qt's network error code, for address.
FlowError networkError(const QString &what, const QString &address, int networkError, const QString &detail);
// A write into folder that failed (detail: the library's text). Looks at the
// folder to tell a folder that refuses writes from a full disk; other causes
// keep kind Other.
FlowError writeError(const QString &what, const QString &folder, const QString &detail);
// The network error code that a download failure's text carries ("... [code:N]"), or -1.
int downloadNetworkError(const QString &text);
// Whether folder (or, while it does not exist, its nearest existing parent)
// takes a new file; false with the folder that refused it.
bool folderTakesFiles(const QString &folder, QString &refusing);

} // namespace HostFlow

Q_DECLARE_METATYPE(HostFlow::FlowError)
