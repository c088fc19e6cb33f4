#include "ServeCommand.h"

#include "HostSession.h"

#include "FileServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

int runServeCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    QString root = QDir::currentPath();
    int port = 8080;
    bool log = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--root") && i + 1 < args.size()) {
            root = args.at(++i);
        } else if (a == QLatin1String("--port") && i + 1 < args.size()) {
            bool ok = false;
            port = args.at(++i).toInt(&ok);
            if (!ok || port < 0 || port > 65535) {
                err << "serve: --port takes 0 to 65535\n";
                return 2;
            }
        } else if (a == QLatin1String("--log")) {
            log = true;
        } else {
            err << "usage: morvaniel serve [--root DIR] [--port N (default 8080, 0 = any free)] [--log]\n";
            return 2;
        }
    }
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
    HostSession::installInterruptHandler();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, qApp, []() {
        if (HostSession::interrupted())
            QCoreApplication::quit();
    });
    poll.start(100);
    return QCoreApplication::exec();
}
