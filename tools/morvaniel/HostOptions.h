#pragma once

#include "FlowOptions.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;
class QTextStream;

// The options that update, verify, repair and self-update share: what the
// flow works on, and how the command prints it.
struct HostOptions : HostFlow::FlowOptions
{
    bool json = false;
    bool verbose = false;

    // What the four commands accept; each shows in its help what it uses
    // (launcher: self-update).
    static QList<QCommandLineOption> commandLineOptions(bool launcher);
    // Takes the options parsed for command. Returns false with a message on
    // err for bad usage.
    bool read(const QString &command, const QCommandLineParser &parser, QTextStream &err);
};

// Library diagnostics go to stderr only with --verbose; the commands print their own lines.
void routeLibraryMessages(bool verbose);
