#include "HostOptions.h"

#include "SignedRelease.h"

#include <QCommandLineParser>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

namespace {

bool g_verbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (!g_verbose && type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

void routeLibraryMessages(bool verbose)
{
    g_verbose = verbose;
    qInstallMessageHandler(messageHandler);
}

QList<QCommandLineOption> HostOptions::commandLineOptions(bool launcher)
{
    QCommandLineOption server(QStringLiteral("server"),
        QStringLiteral("The update server, http://host:port; give it again for mirrors, tried in order when a "
                       "server fails."),
        QStringLiteral("url"));
    QCommandLineOption dir(QStringLiteral("dir"),
        launcher ? QStringLiteral("The launcher's folder.")
                 : QStringLiteral("The install folder (the game goes to its MorvanielGame folder)."),
        QStringLiteral("folder"));
    QCommandLineOption channel(QStringLiteral("channel"),
        QStringLiteral("The game's folder on the server (default game)."), QStringLiteral("name"));
    QCommandLineOption limit(QStringLiteral("limit"), QStringLiteral("Download speed limit in KiB/s for this run."),
        QStringLiteral("KiB/s"));
    QCommandLineOption connections(QStringLiteral("connections"),
        QStringLiteral("Connections for one large archive at once (default 8; 1: one per archive)."),
        QStringLiteral("n"));
    QCommandLineOption launcherChannel(QStringLiteral("launcher-channel"),
        QStringLiteral("The launcher's folder on the server (default Launcher)."), QStringLiteral("name"));
    QCommandLineOption launcherVersion(QStringLiteral("launcher-version"),
        QStringLiteral("The installed launcher version (default: the one the last self-update recorded)."),
        QStringLiteral("V"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line on stdout."));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("The library's log lines on stderr."));
    const QCommandLineOption trust(QStringLiteral("trust"),
        QStringLiteral("Requires releases signed by the public key in this file (from `morvaniel keygen`); "
                       "give it again to trust several keys."),
        QStringLiteral("key file"));
    // Every command takes all of them, as it always did; the help leaves out
    // those the command has no use for.
    for (QCommandLineOption *unused : launcher ? QList<QCommandLineOption *>{ &channel, &limit }
                                               : QList<QCommandLineOption *>{ &launcherChannel, &launcherVersion })
        unused->setFlags(QCommandLineOption::HiddenFromHelp);
    return { server, dir, channel, limit, connections, launcherChannel, launcherVersion, json, verbose, trust };
}

bool HostOptions::read(const QString &command, const QCommandLineParser &parser, QTextStream &err)
{
    servers = parser.values(QStringLiteral("server"));
    server = servers.value(0);
    installDir = parser.value(QStringLiteral("dir"));
    if (parser.isSet(QStringLiteral("channel")))
        channel = parser.value(QStringLiteral("channel"));
    if (parser.isSet(QStringLiteral("launcher-channel")))
        launcherChannel = parser.value(QStringLiteral("launcher-channel"));
    launcherVersion = parser.value(QStringLiteral("launcher-version"));
    if (parser.isSet(QStringLiteral("limit"))) {
        bool ok = false;
        limitKiB = parser.value(QStringLiteral("limit")).toInt(&ok);
        if (!ok || limitKiB < 1) {
            err << command << ": --limit takes a speed in KiB/s of at least 1\n";
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("connections"))) {
        bool ok = false;
        split.connections = parser.value(QStringLiteral("connections")).toInt(&ok);
        // Past 16 a server starts to see a flood, not a download.
        if (!ok || split.connections < 1 || split.connections > 16) {
            err << command << ": --connections takes a number from 1 to 16\n";
            return false;
        }
    }
    QString error;
    if (!HostFlow::SignedRelease::readPublicKeys(parser.values(QStringLiteral("trust")), trustedKeys, error)) {
        err << command << ": --trust: " << error << '\n';
        return false;
    }
    json = parser.isSet(QStringLiteral("json"));
    verbose = parser.isSet(QStringLiteral("verbose"));
    if (server.isEmpty() || installDir.isEmpty()) {
        err << "usage: morvaniel " << command
            << " --server <http://host:port> --dir <install folder> [--channel game] [--limit KiB/s] [--json] "
               "[--verbose]\n";
        return false;
    }
    // "127.0.0.1:8080" would be read as a path, and the run would fail late
    // and strangely: an address needs its scheme.
    for (QString &address : servers) {
        const QUrl url(address);
        if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
            || url.host().isEmpty()) {
            err << command << ": --server takes an address with its scheme, http://host:port (not " << address << ")\n";
            return false;
        }
        while (address.endsWith(QLatin1Char('/')))
            address.chop(1);
    }
    server = servers.first();
    return true;
}
