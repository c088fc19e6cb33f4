#include "DemoCommand.h"
#include "PublishCommand.h"
#include "SelfUpdateCommand.h"
#include "ServeCommand.h"
#include "UpdateCommand.h"
#include "VerifyRepairCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

static int usage(QTextStream &err)
{
    err << "usage: morvaniel demo [--keep] [--verbose]\n"
           "       morvaniel publish <input> <output> [options]   (--help for the options)\n"
           "       morvaniel serve [--root DIR] [--port N] [--log]\n"
           "       morvaniel update --server URL --dir FOLDER [--channel game] [--limit KiB/s] [--json] [--verbose]\n"
           "       morvaniel verify --server URL --dir FOLDER [--channel game] [--json]\n"
           "       morvaniel repair --server URL --dir FOLDER [--channel game] [--json]\n"
           "       morvaniel self-update --server URL --dir FOLDER [--launcher-channel Launcher]\n"
           "                             [--launcher-version V] [--json]\n";
    return 2;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0, QStringLiteral("demo"));
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("demo"))
        return runDemo(rest, out);
    if (command == QLatin1String("publish"))
        return Publisher::runPublishCommand(rest, out, err);
    if (command == QLatin1String("serve"))
        return runServeCommand(rest, out, err);
    if (command == QLatin1String("update"))
        return runUpdateCommand(rest, out, err);
    if (command == QLatin1String("verify"))
        return runVerifyCommand(rest, out, err);
    if (command == QLatin1String("repair"))
        return runRepairCommand(rest, out, err);
    if (command == QLatin1String("self-update"))
        return runSelfUpdateCommand(rest, out, err);
    return usage(err);
}
