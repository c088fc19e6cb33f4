#pragma once

class QString;
class QStringList;
class QTextStream;

namespace Publisher {

// "morvaniel publish <input> <output> [options]": the arguments after "publish".
// Returns the process exit code (0 published, 1 failed, 2 bad usage).
int runPublishCommand(const QStringList &args, QTextStream &out, QTextStream &err);

// Reads "1048576", "512K", "64M" or "2G" (binary units); -1 when malformed.
long long parseByteSize(const QString &text);

} // namespace Publisher
