#include "DownloadChild.h"

#include "FiveFiles.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "download/DownloadCallbackInfo.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace Morvaniel;

namespace Reliability {

int RunDownloadChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 8)
        return 2;
    const QString cache = args.at(1);
    const QVector<Package> packages = fivePackages(args.at(2).toUInt());
    std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    for (int i = 0; i < packages.size(); ++i)
        ctx->downloadList.append(entryFor(packages.at(i), args.at(3 + i), cache));

    int code = -1;
    QString error;
    GetDownloadComponent()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
        if (info.bError || info.bFinished) {
            code = info.bError ? int(info.errorCode) : 0;
            error = info.errorString;
            app.quit();
        }
    });
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    // Resume keeps what an earlier (killed) child left on disk.
    GetDownloadComponent()->ResumeDownload(*ctx);
    if (code < 0)
        app.exec();
    // The files as they are now: on a full disk the parent cannot look.
    const bool prefixes = notAPrefix(packages, cache).isEmpty() && sizeRightBytesWrong(packages, cache).isEmpty();
    std::printf("code=%d\nerror=%s\nfiles=%s\n", code, error.toUtf8().constData(), prefixes ? "sound" : "corrupt");
    std::fflush(stdout);
    return code < 0 ? 1 : 0;
}

} // namespace Reliability
