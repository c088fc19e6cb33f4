#include "DemoCommand.h"
#include "PublishCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

static int usage(QTextStream &err)
{
    err << "usage: morvaniel demo\n"
           "       morvaniel publish <input> <output> [options]   (--help for the options)\n";
    return 2;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0, QStringLiteral("demo"));
    if (command == QLatin1String("demo"))
        return runDemo(out);
    if (command == QLatin1String("publish"))
        return Publisher::runPublishCommand(args.mid(1), out, err);
    return usage(err);
}
