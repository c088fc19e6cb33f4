#pragma once

#include "MorvanielGlobal.h"

#include <QMap>
#include <QString>

namespace Morvaniel {

// Game file path -> group entry naming the full-pack archive that holds it.
using RepairManifest = QMap<QString, QString>;

// Reads "group:file|file|..." lines; when a file is listed twice, the later line wins.
// Never fails.
RepairManifest parseRepairManifest(const QString &text);

} // namespace Morvaniel
