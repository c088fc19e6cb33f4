#include "FlowPrinter.h"

#include "ProgressPrinter.h"
#include "UpdateFlow.h"

#include "download/DownloadCallbackInfo.h"

#include <QJsonArray>

using namespace Morvaniel;

void printFlow(UpdateFlow &flow, ProgressPrinter &printer)
{
    ProgressPrinter *out = &printer;
    QObject::connect(&flow, &UpdateFlow::stageChanged, &flow,
        [out](const QString &stage, const QString &detail) { out->stage(stage, detail); });
    QObject::connect(&flow, &UpdateFlow::message, &flow,
        [out](const QString &text, const QJsonObject &fields) { out->info(text, fields); });
    QObject::connect(&flow, &UpdateFlow::warningRaised, &flow, [out](const QString &text) { out->warning(text); });
    QObject::connect(&flow, &UpdateFlow::errorRaised, &flow, [out](const QString &text) { out->error(text); });
    QObject::connect(&flow, &UpdateFlow::downloadStarted, &flow, [out]() { out->beginDownload(); });
    QObject::connect(&flow, &UpdateFlow::downloadProgress, &flow, [out](const TransferProgress &p) {
        DownloadCallbackInfo info;
        info.downloadedSize = p.done;
        info.totalSize = p.total;
        info.speed = p.speed;
        info.remainTime = p.secondsLeft;
        info.progress = float(p.fraction);
        info.bFinished = p.finished;
        out->download(info);
    });
    QObject::connect(&flow, &UpdateFlow::stageProgress, &flow,
        [out](const QString &stage, double fraction) { out->percent(stage, fraction); });
    QObject::connect(&flow, &UpdateFlow::progressEnded, &flow, [out]() { out->endLine(); });
    QObject::connect(&flow, &UpdateFlow::stepStarted, &flow, [out](const QString &from, const QString &to) {
        out->event(QStringLiteral("step"), { { QStringLiteral("from"), from }, { QStringLiteral("to"), to } });
        if (!out->json())
            out->info(QStringLiteral("step %1 -> %2").arg(from, to));
    });
    QObject::connect(&flow, &UpdateFlow::updated, &flow, [out](const QString &version, qint64 bytes) {
        out->event(QStringLiteral("done"),
            { { QStringLiteral("version"), version }, { QStringLiteral("bytes"), double(bytes) } });
        if (!out->json())
            out->info(
                QStringLiteral("installed version %1 (%2 bytes downloaded)").arg(version, QString::number(bytes)));
    });
    QObject::connect(&flow, &UpdateFlow::verified, &flow, [out](const QString &version, const QStringList &bad) {
        if (out->json())
            out->event(QStringLiteral("verified"),
                { { QStringLiteral("version"), version }, { QStringLiteral("bad"), QJsonArray::fromStringList(bad) } });
        else
            for (const QString &file : bad)
                out->info(QStringLiteral("bad: %1").arg(file));
    });
    QObject::connect(&flow, &UpdateFlow::launcherUpdated, &flow, [out](const QString &version) {
        out->event(QStringLiteral("done"), { { QStringLiteral("version"), version } });
        if (!out->json())
            out->info(QStringLiteral("launcher updated to %1").arg(version));
    });
    // No one can answer at a command line: a file in use stops the run.
    QObject::connect(
        &flow, &UpdateFlow::filesInUse, &flow, [&flow](const QStringList &) { flow.answerFilesInUse(false); });
}
