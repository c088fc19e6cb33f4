#include <core/GameUpdateContext.h>
#include <core/Version.h>
#include <planning/SolveRemoteInfo.h>

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Morvaniel::GameUpdateContext ctx;
    Morvaniel::SolveRemoteInfo(QStringLiteral(R"({"announcement": [{"title": "hi"}]})"), ctx);
    const bool ok = ctx.remoteInfo.announcement.size() == 1
        && Morvaniel::versionFromString(QStringLiteral("1.2.3")).toString() == QLatin1String("1.2.3.0");
    return ok ? 0 : 1;
}
