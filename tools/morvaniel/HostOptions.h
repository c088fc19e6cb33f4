#pragma once

#include <QString>
#include <QStringList>

class QTextStream;

// The options that update, verify, repair and self-update share.
struct HostOptions
{
    QString server; // the host address, Global::Var::Host
    QString installDir;
    QString channel = QStringLiteral("game");
    QString launcherChannel = QStringLiteral("Launcher");
    QString launcherVersion; // self-update: the installed launcher version
    int limitKiB = -1; // --limit, KiB/s; -1 no limit
    bool json = false;
    bool verbose = false;

    // Parses args (the arguments after the command name). Returns false with a
    // message on err for bad usage.
    bool parse(const QString &command, const QStringList &args, QTextStream &err);
    // Points Global::Var at the server: Host, HostAndChannel = Host/<channel>.
    void applyServer() const;
};

// Library diagnostics go to stderr only with --verbose; the commands print their own lines.
void routeLibraryMessages(bool verbose);
