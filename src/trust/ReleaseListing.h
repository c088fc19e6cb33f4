#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace Morvaniel {

// What the accepted signed release says about one published file.
struct ListedFile
{
    qint64 size = -1;
    QByteArray blake2b; // raw 32 bytes
};

// The process-wide state the workers consult once a host switched signed
// releases on: whether they are required, and the files of the one release
// document accepted for this run (paths relative to the server's root, as the
// guide manifest writes them). Thread-safe: the verify thread reads it.
namespace ReleaseListing {

void setRequired(bool required);
// True once the host gave trusted keys: every file must then be listed.
bool required();

// Replaces the listing; host is the server address that paths are relative to.
void install(const QString &host, const QHash<QString, ListedFile> &files);
// The listing's paths are now read below host (the run moved to a mirror).
void setHost(const QString &host);
// Drops the listing: with trust required, nothing is listed any more.
void clear();
bool hasListing();

// The entry of a server path or of an address below the installed host.
bool lookup(const QString &pathOrUrl, ListedFile &out);
// True when some listed file named fileName (its last path segment) has this digest.
bool listsArchive(const QString &fileName, const QByteArray &blake2b);

// Bytes fetched for pathOrUrl, held against the listing. A match is recorded:
// planners accept only texts whose bytes were checked this way (see
// isChecked), so that a host cannot plan from a text it forgot to check.
enum class FetchCheck { Unlisted, Matches, Differs };
FetchCheck checkFetched(const QString &pathOrUrl, const QByteArray &bytes);
// Records bytes a host checked itself against the listing.
void recordChecked(const QByteArray &bytes);
// True when these exact bytes matched a listed file since the listing was
// installed.
bool isChecked(const QByteArray &bytes);
// What a planner may use: anything while signed releases are off, else only
// a text whose UTF-8 bytes were checked. A refused text is logged under tag as
// "<what> was not checked against the signed release, refused".
bool textUsable(const QString &text, const QString &what, const QString &tag);

// A server path for an address below host, or the text itself when it is no
// address; "\\" becomes "/", leading "/" and "./" go.
QString relativePath(const QString &host, const QString &pathOrUrl);

} // namespace ReleaseListing

} // namespace Morvaniel
