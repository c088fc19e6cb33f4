#pragma once

#include "Stage.h"

#include <QString>

namespace Launcher {

// What the window says while a stage of the flow runs: a sentence for the
// status line.
QString stageText(HostFlow::Stage stage);
// The steps inside a stage ("extract", "verify", "patch", "copy", "delete",
// "update") and the parts of the flow that span stages ("repair", "resume"):
// a few words for the line under the progress bar.
QString stepText(const QString &step);

} // namespace Launcher
