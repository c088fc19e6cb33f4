#pragma once

#include "Publisher.h"

#include <QString>
#include <QStringList>

namespace Publisher {

// Hands a publication to a server through rclone (https://rclone.org), which
// speaks S3 and every other store a studio may serve from, retries, resumes
// and checks what it sends. Destinations are rclone's: a configured remote
// ("cdn:bucket/game"), an on-the-fly one (":s3,provider=Other,endpoint=...:bucket")
// or a local folder.
struct UploadOptions
{
    QString destination;
    QString rclone; // empty: "rclone" on PATH
};

// Copies the written files from root to the destination in the safe order,
// one rclone run per step: archives and bundles, version documents, the guide
// manifest, release.json, release.json.sig; then deletes the removed ones.
// Stops at the first failed step, so the server keeps serving its previous
// guide and release (with at most new files it does not list yet).
bool uploadPublication(const UploadOptions &options, const QString &root, const QStringList &written,
    const QStringList &removed, const ProgressFn &progress, QString &error);

// Every file of the layout at root (the work folder aside), for uploading it whole.
QStringList layoutFiles(const QString &root);

} // namespace Publisher
