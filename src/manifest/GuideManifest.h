#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QVector>

namespace Morvaniel {

// One archive the server offers for a version step.
struct GuidePackage
{
    QString path; // relative to the download host
    QString md5;
    quint64 size = 0;
};

// All packages of one (from, to) pair. from == to is the full pack of that version.
struct GuideEdge
{
    QString fromVersion;
    QString toVersion;
    QVector<GuidePackage> files;
    bool isPatch = false;
    quint64 totalSize = 0; // sum of files' sizes, held at the largest value rather than wrapping
};

// The server's table of contents for one product. Versions stay as written.
struct GuideManifest
{
    QString lastVersion;
    QVector<GuideEdge> edges; // in the order each pair first appears
};

// Never fails: malformed lines give edges with empty or partial fields.
GuideManifest parseGuideManifest(const QString &text);

} // namespace Morvaniel
