#pragma once

#include <QString>
#include <QtGlobal>

namespace Morvaniel {

// The step a patch-stage progress report belongs to; travels inside the
// QVariant of MergeThread::MergeProgress under the meta-type name "MergeStatus".
using MergeStatus = int;
namespace MergeStep {
constexpr MergeStatus Patching = 0;
constexpr MergeStatus Copying = 1;
constexpr MergeStatus Deleting = 2;
} // namespace MergeStep

// What the Patcher reports to its callback. The meaning of percent and
// totalpercent depends on status: patch bytes (0), files copied (1), paths
// deleted (2).
struct PatcherCallbackInfo
{
    quint64 percent = 0;
    quint64 totalpercent = 0;
    bool bError = false; // the report ends a stage with an error
    bool bFinished = false; // a merge stage ended well, or any update stage ended
    bool needMd5CheckPakDir = false; // some patch did not apply: verify the pak folder
    QString errorString; // empty on success
    qint32 status = 0;
};

} // namespace Morvaniel
