#include "CommandLine.h"
#include "DemoCommand.h"
#include "HostOptions.h"
#include "KeygenCommand.h"
#include "PublishCommand.h"
#include "SelfUpdateCommand.h"
#include "ServeCommand.h"
#include "UpdateCommand.h"
#include "VerifyRepairCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

namespace {

QList<Command> commands()
{
    const QString host = QStringLiteral("--server URL --dir FOLDER");
    return {
        { QStringLiteral("demo"), QStringLiteral("demo [--keep] [--verbose]"),
            QStringLiteral("The whole round trip on loopback in one process: publishes a sample game, serves it,\n"
                           "installs it, updates an old install through the patch chain, damages and repairs it."),
            { { QStringLiteral("keep"), QStringLiteral("Keeps the temporary folder.") },
                { QStringLiteral("verbose"), QStringLiteral("The library's log lines on stderr.") } },
            [](const QCommandLineParser &options, QTextStream &out, QTextStream &) { return runDemo(options, out); },
            {} },
        { QStringLiteral("publish"), QStringLiteral("publish <input> <output> [options]   (--help for the options)"),
            QString(), {}, {}, Publisher::runPublishCommand },
        { QStringLiteral("keygen"),
            QStringLiteral("keygen <dir>   (release.key to sign with, release.pub for --trust)"), QString(), {}, {},
            runKeygenCommand },
        { QStringLiteral("serve"), QStringLiteral("serve [--root DIR] [--port N (default 8080, 0 = any free)] [--log]"),
            QStringLiteral("Serves DIR on 127.0.0.1 with GET, HEAD and Range until Ctrl+C."),
            { { QStringLiteral("root"), QStringLiteral("The folder to serve (default: the current one)."),
                  QStringLiteral("DIR") },
                { QStringLiteral("port"), QStringLiteral("The port (default 8080; 0: any free one)."),
                    QStringLiteral("N") },
                { QStringLiteral("log"), QStringLiteral("Prints one line per request.") } },
            runServeCommand, {} },
        { QStringLiteral("update"),
            QStringLiteral("update %1 [--channel game] [--limit KiB/s] [--json] [--verbose]").arg(host),
            QStringLiteral("Installs or updates the game in FOLDER to the server's newest version.\n"
                           "Ctrl+C stops the run in any stage (exit code 130); the next run resumes it."),
            HostOptions::commandLineOptions(false), runUpdateCommand, {} },
        { QStringLiteral("verify"), QStringLiteral("verify %1 [--channel game] [--json]").arg(host),
            QStringLiteral("Checks every installed file by MD5 and lists the bad ones (exit code 1 if any)."),
            HostOptions::commandLineOptions(false), runVerifyCommand, {} },
        { QStringLiteral("repair"), QStringLiteral("repair %1 [--channel game] [--json]").arg(host),
            QStringLiteral("Checks every installed file by MD5 and repairs the bad ones from the full pack."),
            HostOptions::commandLineOptions(false), runRepairCommand, {} },
        { QStringLiteral("self-update"),
            QStringLiteral("self-update %1 [--launcher-channel Launcher]\n"
                           "                             [--launcher-version V] [--json]")
                .arg(host),
            QStringLiteral("Updates the launcher in FOLDER to the newest version of the launcher channel."),
            HostOptions::commandLineOptions(true), runSelfUpdateCommand, {} },
    };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANIEL_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    return CommandLine(commands()).run(app.arguments(), out, err);
}
