#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QVector>

namespace Morvaniel {

// Room on the disk before a run writes: the block worker and the hosts'
// archive path ask the same question and refuse with the same words.
namespace FreeSpace {

// Bytes a run will write below a folder (which need not exist yet).
struct Need
{
    QString folder;
    qint64 bytes = 0;
};

// "1.25 GiB", "310.0 MiB".
MORVANIEL_EXPORT QString sizeText(qint64 bytes);

// The root of the volume that holds folder, or its nearest existing parent.
MORVANIEL_EXPORT QString volumeOf(const QString &folder);

// True when every volume has room for the needs that fall on it (needs on
// one volume add up). Otherwise false, and error says
// "needs X, has Y free on <volume>" for the first volume short of room.
// A volume whose free space cannot be read is taken to have room.
MORVANIEL_EXPORT bool check(const QVector<Need> &needs, QString &error);

} // namespace FreeSpace

} // namespace Morvaniel
