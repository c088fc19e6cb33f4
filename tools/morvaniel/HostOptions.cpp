#include "HostOptions.h"

#include "core/Global.h"
#include "util/QFileUtils.h"

#include <QTextStream>

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

bool HostOptions::parse(const QString &command, const QStringList &args, QTextStream &err)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto value = [&](QString &into) {
            if (i + 1 >= args.size()) {
                err << command << ": " << a << " needs a value\n";
                return false;
            }
            into = args.at(++i);
            return true;
        };
        QString text;
        if (a == QLatin1String("--server")) {
            if (!value(server))
                return false;
        } else if (a == QLatin1String("--dir")) {
            if (!value(installDir))
                return false;
        } else if (a == QLatin1String("--channel")) {
            if (!value(channel))
                return false;
        } else if (a == QLatin1String("--launcher-channel")) {
            if (!value(launcherChannel))
                return false;
        } else if (a == QLatin1String("--launcher-version")) {
            if (!value(launcherVersion))
                return false;
        } else if (a == QLatin1String("--limit")) {
            if (!value(text))
                return false;
            bool ok = false;
            limitKiB = text.toInt(&ok);
            if (!ok || limitKiB < 1) {
                err << command << ": --limit takes a speed in KiB/s of at least 1\n";
                return false;
            }
        } else if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--verbose")) {
            verbose = true;
        } else {
            err << command << ": unknown argument " << a << '\n';
            return false;
        }
    }
    if (server.isEmpty() || installDir.isEmpty()) {
        err << "usage: morvaniel " << command
            << " --server <http://host:port> --dir <install folder> [--channel game] [--limit KiB/s] [--json] "
               "[--verbose]\n";
        return false;
    }
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return true;
}

void HostOptions::applyServer() const
{
    Global::Var::Host = server;
    Global::Var::HostAndChannel = QFileUtils::CombinePath(server, channel);
    Global::Var::LauncherChannel = launcherChannel;
}
