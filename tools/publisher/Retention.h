#pragma once

#include "ManifestText.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace Publisher {

// What keeping the newest versions of a channel leaves and removes.
struct RetentionPlan
{
    QVector<GuideLine> guide; // the lines that stay
    QStringList removed; // relative to the output folder, "/"-separated
    qint64 bytes = 0; // their sizes together
};

// Keeps the newest keep versions of versions (oldest first), and the patches
// into them: a patch from an older version lands on a kept one, whose full
// pack the merge stage's repair falls back on. Every other archive goes with
// its version's folder and block index, and so does every bundle that no
// kept version's index names (read from <channelDir>/blocks/).
bool planRetention(const QString &outputDir, const QString &channel, const QVector<GuideLine> &guide,
    const QStringList &versions, int keep, RetentionPlan &plan, QString &error);

} // namespace Publisher
