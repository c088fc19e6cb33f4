#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QVector>

namespace Morvaniel {

struct DownloadFile;
struct GuidePackage;
struct PackageInfo;

// Turning the server's package records into local downloads. Package paths come
// from the network, so the local file name is checked (IsSafePackageFileName)
// before it is used.
namespace PackageFiles {

// A server size held in the signed byte count the records use; sizes past its
// range stay at its largest value instead of turning negative.
qint64 toByteCount(quint64 size);

// The record of one guide-manifest package; url is Global::Var::Host joined with path.
PackageInfo packageFrom(const GuidePackage &package);

// Appends the download of p into cachePath. A package with an unsafe file name
// is left out with a log line naming it; the result says whether it was added.
bool appendDownload(QVector<DownloadFile> &list, const PackageInfo &p, const QString &cachePath);

} // namespace PackageFiles
} // namespace Morvaniel
