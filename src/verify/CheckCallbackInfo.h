#pragma once

#include <QString>

namespace Morvaniel {

// What the checker reports to its callback.
struct CheckCallbackInfo
{
    bool bError = false; // a file in use was found
    bool bComplete = false; // true in the report that ends a check
    QString errorPath; // absolute path of the file in use; empty when none
    float progress = 0.0f; // fraction of the files checked
};

} // namespace Morvaniel
