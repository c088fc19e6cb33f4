#include "HostSession.h"

#include "HostOptions.h"
#include "InterruptWatcher.h"
#include "ProgressPrinter.h"
#include "SignedRelease.h"

#include "core/CoreSystem.h"
#include "core/DownloadComponent.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "core/PatchComponent.h"
#include "core/UnZipComponent.h"
#include "core/VerifyComponent.h"
#include "download/DownloadCallbackInfo.h"
#include "planning/ReleaseTrust.h"
#include "unzip/UnZipCallbackInfo.h"
#include "util/QFileUtils.h"
#include "verify/VerifyCallbackInfo.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <functional>

using namespace Morvaniel;

namespace {

// A local event loop for one stage. The worker's final report ends it through
// finish(), which the library calls on this thread; with onInterrupt given,
// Ctrl+C ends it too, after onInterrupt has run once.
class StageWait
{
public:
    void finish()
    {
        m_finished = true;
        m_loop.quit();
    }
    bool finished() const { return m_finished; }

    // Returns at once when the final report came while the stage started.
    void exec(const std::function<void()> &onInterrupt = {})
    {
        if (m_finished)
            return;
        QMetaObject::Connection interrupt;
        bool told = false;
        if (onInterrupt) {
            // Ctrl+C may have come while this thread was busy between two stages.
            if (InterruptWatcher::wasRequested()) {
                onInterrupt();
                return;
            }
            interrupt = QObject::connect(&InterruptWatcher::instance(), &InterruptWatcher::requested, &m_loop, [&]() {
                if (told)
                    return;
                told = true;
                onInterrupt();
                m_loop.quit();
            });
        }
        m_loop.exec();
        QObject::disconnect(interrupt);
    }

private:
    QEventLoop m_loop;
    bool m_finished = false;
};

} // namespace

HostSession::HostSession(ProgressPrinter &printer)
    : m_printer(printer)
{
}

HostSession::~HostSession()
{
    // The components keep the callbacks; none may outlive the frames they point into.
    GetDownloadComponent()->RegistCallbackFunc({});
    GetVerifyComponent()->RegistCallbackFunc({});
    GetUnZipComponent()->RegistCallbackFunc({});
    GetPatchComponent()->RegistCallbackFunc({});
}

int HostSession::runCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out,
    QTextStream &err, const std::function<int(HostSession &, const HostOptions &)> &run)
{
    HostOptions options;
    if (!options.read(command, parser, err))
        return 2;
    routeLibraryMessages(options.verbose);
    Morvaniel::ReleaseTrust::SetTrustedKeys(options.trustedKeys);
    installInterruptHandler();
    ProgressPrinter printer(out, options.json);
    HostSession session(printer);
    return run(session, options);
}

GameUpdateContext &HostSession::ctx()
{
    return *GetCoreSystemInstance()->GetCurGameUpdateContext();
}

void HostSession::installInterruptHandler()
{
    InterruptWatcher::instance();
}

bool HostSession::interrupted()
{
    return InterruptWatcher::wasRequested();
}

bool HostSession::fetchText(const QString &url, QString &text, QString &error)
{
    StageWait wait;
    int code = 0;
    GetDownloadComponent()->GetContentByUrl(
        url,
        [&](const QString &content, int result) {
            text = content;
            code = result;
            wait.finish();
        },
        QString(), false);
    wait.exec();
    if (code != 0)
        error = QStringLiteral("could not fetch %1 (network error %2)").arg(url, QString::number(code));
    return code == 0;
}

bool HostSession::fetchBytes(const QString &url, qint64 maxBytes, QByteArray &bytes, QString &error)
{
    QNetworkAccessManager network;
    QNetworkRequest request{ QUrl(url) };
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply *reply = network.get(request);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [&](qint64 received, qint64) {
        if (received > maxBytes && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    bytes = reply->readAll();
    if (tooLarge)
        error = QStringLiteral("could not fetch %1 (more than %2 bytes)").arg(url, QString::number(maxBytes));
    else if (reply->error() != QNetworkReply::NoError)
        error = QStringLiteral("could not fetch %1 (%2)").arg(url, reply->errorString());
    const bool ok = !tooLarge && reply->error() == QNetworkReply::NoError;
    delete reply;
    return ok;
}

bool HostSession::acceptRelease(const QString &channel, QString &error)
{
    if (!ReleaseTrust::IsEnabled())
        return true;
    // The library refuses larger documents anyway; a server need not send more.
    constexpr qint64 MaxDocument = 16 * 1024 * 1024;
    constexpr qint64 MaxSignature = 4096;
    QByteArray document;
    QByteArray signature;
    if (!fetchBytes(QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::DocumentPath(channel)), MaxDocument,
            document, error)
        || !fetchBytes(QFileUtils::CombinePath(Global::Var::Host, ReleaseTrust::SignaturePath(channel)), MaxSignature,
            signature, error))
        return false;
    if (!SignedRelease::accept(document, signature, channel, ctx().setting.InstallPath, error))
        return false;
    ++m_releasesAccepted;
    m_printer.info(QStringLiteral("signed release of %1 accepted").arg(channel));
    return true;
}

bool HostSession::fetchManifest(const QString &url, QString &text, QString &error)
{
    return fetchText(url, text, error) && ReleaseTrust::CheckText(url, text, error);
}

HostSession::DownloadEnd HostSession::download(bool resume, QString &error)
{
    GameUpdateContext &c = ctx();
    StageWait wait;
    bool failed = false;
    qint64 atStart = -1;
    qint64 last = 0;
    GetDownloadComponent()->RegistCallbackFunc([&](DownloadCallbackInfo &info) {
        // The first report of a resumed run already counts what was on disk.
        if (atStart < 0)
            atStart = info.downloadedSize;
        last = info.downloadedSize;
        m_printer.download(info);
        if (info.bError) {
            failed = true;
            error = info.errorString;
        }
        if (info.bError || info.bFinished)
            wait.finish();
    });
    bool paused = false;
    m_printer.beginDownload();
    if (resume)
        GetDownloadComponent()->ResumeDownload(c);
    else
        GetDownloadComponent()->StartDownload(c);
    wait.exec([&]() {
        GetDownloadComponent()->PauseDownload(c);
        paused = true;
    });
    GetDownloadComponent()->RegistCallbackFunc({});
    m_printer.endLine();
    m_bytesDownloaded += qMax<qint64>(0, last - qMax<qint64>(0, atStart));
    if (paused && !wait.finished())
        return DownloadEnd::Paused;
    return failed ? DownloadEnd::Failed : DownloadEnd::Done;
}

bool HostSession::verifyArchives(QString &error)
{
    GameUpdateContext &c = ctx();
    c.verifySingle = true;
    c.updateMode = UpdateModeUpdate;
    c.verifyFileList.clear();
    c.verifyMd5List.clear();
    for (const DownloadFile &file : qAsConst(c.downloadList)) {
        c.verifyFileList.append(file.localPath);
        c.verifyMd5List.append(file.md5);
    }
    const bool bad = runVerify().bError;
    if (bad)
        error = QStringLiteral("a downloaded archive failed its MD5 check and was deleted");
    return !bad;
}

bool HostSession::extract(const QStringList &archives, const QString &target, bool keepTarget, QString &error)
{
    GameUpdateContext &c = ctx();
    c.unzipFiles = archives.toVector();
    c.unzipTargetDir = target;
    c.updateMode = keepTarget ? UpdateModeRepair : UpdateModeUpdate;
    StageWait wait;
    int code = 0;
    QString text;
    GetUnZipComponent()->RegistCallbackFunc([&](UnZipCallbackInfo &info) {
        if (info.bComplete) {
            code = info.code;
            text = info.errStr;
            wait.finish();
        } else if (info.totalCount > 0) {
            m_printer.percent(QStringLiteral("extract"), (info.curCount + info.percent / 100.0) / info.totalCount);
        }
    });
    GetUnZipComponent()->StartUnZip(c);
    wait.exec();
    GetUnZipComponent()->RegistCallbackFunc({});
    m_printer.endLine();
    if (code != UnZipOk)
        error = QStringLiteral("extraction failed (code %1): %2").arg(code).arg(text);
    return code == UnZipOk;
}

// One stage of the patcher; bGameUpdate of the context chooses which.
PatcherCallbackInfo HostSession::runPatchStage()
{
    StageWait wait;
    PatcherCallbackInfo end;
    const bool game = ctx().bGameUpdate;
    GetPatchComponent()->RegistCallbackFunc([&](PatcherCallbackInfo &info) {
        if (info.bFinished || info.bError) {
            end = info;
            wait.finish();
        } else if (info.totalpercent > 0) {
            static const char *const steps[] = { "patch", "copy", "delete" };
            const QString name
                = game ? QString::fromLatin1(steps[qBound(0, int(info.status), 2)]) : QStringLiteral("update");
            m_printer.percent(name, double(info.percent) / double(info.totalpercent));
        }
    });
    GetPatchComponent()->StartApplyPatch(ctx());
    wait.exec();
    GetPatchComponent()->RegistCallbackFunc({});
    m_printer.endLine();
    return end;
}

bool HostSession::merge(
    const QString &patchDir, const QString &target, const QString &temp, bool &needMd5Check, QString &error)
{
    GameUpdateContext &c = ctx();
    c.bGameUpdate = true;
    c.patchDir = patchDir;
    c.mergeTargetPath = target;
    c.mergeTempPath = temp;
    c.skipPatchFiles = false;
    const PatcherCallbackInfo end = runPatchStage();
    needMd5Check = end.needMd5CheckPakDir;
    error = end.errorString;
    return !end.bError && end.errorString.isEmpty();
}

bool HostSession::updateFiles(const QString &target, const QString &source, const QString &oldManifest,
    const QString &newManifest, QString &error)
{
    GameUpdateContext &c = ctx();
    c.bGameUpdate = false;
    c.updateTargetDir = target;
    c.updateSourceDir = source;
    c.oldFileManifestText = oldManifest;
    c.newFileManifestText = newManifest;
    const PatcherCallbackInfo end = runPatchStage();
    error = end.errorString;
    return !end.bError && end.errorString.isEmpty();
}

QVector<QString> HostSession::verifyInstall(const QString &folder, const QString &manifestText, bool withPakFolder)
{
    GameUpdateContext &c = ctx();
    c.verifySingle = false;
    c.verifyFolder = folder;
    c.verifyManifestText = manifestText;
    c.needMd5Check = true;
    c.needMd5CheckPaksDir = withPakFolder;
    c.updateMode = UpdateModeRepair; // failure collection: every file by MD5, every failure listed
    return runVerify().errorFiles;
}

VerifyCallbackInfo HostSession::runVerify()
{
    StageWait wait;
    VerifyCallbackInfo end;
    GetVerifyComponent()->RegistCallbackFunc([&](VerifyCallbackInfo &info) {
        if (info.bComplete) {
            end = info;
            wait.finish();
        } else {
            m_printer.percent(QStringLiteral("verify"), info.progress);
        }
    });
    GetVerifyComponent()->StartVerify(ctx());
    wait.exec();
    GetVerifyComponent()->RegistCallbackFunc({});
    m_printer.endLine();
    return end;
}
