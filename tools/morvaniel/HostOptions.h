#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;
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
    QStringList trustedKeys; // --trust: signed releases are required; empty: off

    // What the four commands accept; each shows in its help what it uses
    // (launcher: self-update).
    static QList<QCommandLineOption> commandLineOptions(bool launcher);
    // Takes the options parsed for command. Returns false with a message on
    // err for bad usage.
    bool read(const QString &command, const QCommandLineParser &parser, QTextStream &err);
    // Points Global::Var at the server: Host, HostAndChannel = Host/<channel>.
    void applyServer() const;
};

// Library diagnostics go to stderr only with --verbose; the commands print their own lines.
void routeLibraryMessages(bool verbose);
