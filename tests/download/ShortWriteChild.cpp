#include "ShortWriteChild.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "download/DownloadCallbackInfo.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

using namespace Morvaniel;

int ShortWriteChild::Run(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    // Past the limit write() fails with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = args.at(4).toULongLong();
    const rlimit fileSize{ limit, limit };
    if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0)
        return 3;

    std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    DownloadFile entry;
    entry.url = args.at(1);
    entry.localPath = args.at(2);
    entry.size = args.at(3).toLongLong();
    entry.fileName = QStringLiteral("big.bin");
    ctx->downloadList = { entry };

    int code = -1;
    GetDownloadComponent()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
        if (info.bError || info.bFinished) {
            code = info.bError ? int(info.errorCode) : 0;
            app.quit();
        }
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    GetDownloadComponent()->ResumeDownload(*ctx);
    if (code < 0)
        app.exec();
    std::printf("code=%d\n", code);
    std::fflush(stdout);
    return code < 0 ? 1 : 0;
}
