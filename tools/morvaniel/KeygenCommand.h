#pragma once

#include <QStringList>

class QTextStream;

// "morvaniel keygen <dir>": a new key pair for signed releases, <dir>/release.key
// (secret, readable by its owner only; for `publish --sign-key`) and
// <dir>/release.pub (for `--trust`). Never overwrites either. Returns the exit code.
int runKeygenCommand(const QStringList &args, QTextStream &out, QTextStream &err);
