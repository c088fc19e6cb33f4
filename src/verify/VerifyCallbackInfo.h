#pragma once

#include <QString>
#include <QVector>

namespace Morvaniel {

// What the verifier reports to its callback.
struct VerifyCallbackInfo
{
    bool bError = false; // at least one file failed in the finished run
    bool bComplete = false; // true in the report that ends a run
    float progress = 0.0f; // fraction done, 0.0 to 1.0
    bool bSingle = false; // archive mode (true) or manifest mode (false)
    QVector<QString> errorFiles; // manifest-relative paths of failed files, in manifest order
    // Archive mode: why the first failed archive failed, for the host's message
    // ("<archive>: MD5 differs", "<archive>: not the archive of the signed release", ...).
    QString errorText;
};

} // namespace Morvaniel
