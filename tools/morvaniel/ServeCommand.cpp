#include "ServeCommand.h"

#include "InterruptWatcher.h"

#include "FileServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

int runServeCommand(const QCommandLineParser &options, QTextStream &out, QTextStream &err)
{
    const QString root
        = options.isSet(QStringLiteral("root")) ? options.value(QStringLiteral("root")) : QDir::currentPath();
    int port = 8080;
    if (options.isSet(QStringLiteral("port"))) {
        bool ok = false;
        port = options.value(QStringLiteral("port")).toInt(&ok);
        if (!ok || port < 0 || port > 65535) {
            err << "serve: --port takes 0 to 65535\n";
            return 2;
        }
    }
    const bool log = options.isSet(QStringLiteral("log"));
    if (!QFileInfo(root).isDir()) {
        err << "serve: " << root << " is no folder\n";
        return 1;
    }
    Http::FileServer server;
    server.setRoot(QDir(root).absolutePath());
    if (!server.listen(quint16(port))) {
        err << "serve: cannot listen on 127.0.0.1:" << port << '\n';
        return 1;
    }
    out << "serving " << QDir(root).absolutePath() << " at " << server.url(QStringLiteral("/")) << '\n';
    out.flush();
    // The server remembers every request for the tests; a long-running serve forgets them.
    QObject::connect(&server, &Http::FileServer::requestReceived, &server, [&](int) {
        const QList<Http::FileServer::Request> seen = server.requests();
        server.resetStatistics();
        if (!log || seen.isEmpty())
            return;
        const Http::FileServer::Request &r = seen.last();
        out << r.method << ' ' << r.path;
        const QByteArray range = r.headers.value("range");
        if (!range.isEmpty())
            out << ' ' << range;
        out << '\n';
        out.flush();
    });
    QObject::connect(&InterruptWatcher::instance(), &InterruptWatcher::requested, qApp, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
