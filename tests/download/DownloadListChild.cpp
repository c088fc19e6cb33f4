#include "DownloadListChild.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "download/DownloadCallbackInfo.h"
#include "download/DownloaderManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace Morvaniel;

int DownloadListChild::Run(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 6 || args.size() % 3 != 0)
        return 2;
    if (args.at(1) != QLatin1String("0")) {
#ifdef Q_OS_UNIX
        // Past the limit write() fails with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = args.at(1).toULongLong();
        const rlimit fileSize{ limit, limit };
        if (setrlimit(RLIMIT_FSIZE, &fileSize) != 0)
            return 3;
#else
        return 4; // no per-process file-size limit on this system
#endif
    }

    std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    ctx->downloadList.clear();
    for (int i = 3; i + 2 < args.size(); i += 3) {
        DownloadFile entry;
        entry.url = args.at(i);
        entry.localPath = args.at(i + 1);
        entry.size = args.at(i + 2).toLongLong();
        entry.fileName = QFileInfo(entry.localPath).fileName();
        ctx->downloadList.append(entry);
    }
    ctx->bGameUpdate = true;
    ctx->setting.LimitSpeed = args.at(2).toInt();
    const QStringList split = qEnvironmentVariable(kSplitEnv).split(QLatin1Char(','));
    if (split.size() == 2)
        DownloaderManager::GetInstance()->SetSplit({ split.at(0).toInt(), split.at(1).toLongLong() });
    GetDownloadComponent()->SetSpeedLimit();

    int code = -1;
    qint64 downloaded = -1;
    QString error;
    GetDownloadComponent()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
        if (info.bError || info.bFinished) {
            code = info.bError ? int(info.errorCode) : 0;
            downloaded = info.downloadedSize;
            error = info.errorString;
            app.quit();
        }
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    GetDownloadComponent()->ResumeDownload(*ctx);
    if (code < 0)
        app.exec();
    std::printf(
        "code=%d downloaded=%lld\nerror=%s\n", code, static_cast<long long>(downloaded), error.toUtf8().constData());
    std::fflush(stdout);
    return code < 0 ? 1 : 0;
}
