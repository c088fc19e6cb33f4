#include "FlowPrinter.h"

#include "ProgressPrinter.h"
#include "UpdateFlow.h"

#include "download/DownloadCallbackInfo.h"

#include <QJsonArray>

using namespace HostFlow;
using Morvaniel::DownloadCallbackInfo;

void printFlow(UpdateFlow &flow, ProgressPrinter &printer)
{
    ProgressPrinter *out = &printer;
    FlowReporter *reports = flow.reporter();
    QObject::connect(
        reports, &FlowReporter::stageStarted, &flow, [out](Stage stage, const QString &detail, bool background) {
            // Beside the download line: the flow's own log line tells it.
            if (background)
                return;
            switch (stage) {
            case Stage::Fetch:
            case Stage::FilesInUse:
                return; // many and short: the log has them
            case Stage::Download:
            case Stage::Blocks:
                out->stage(stageName(stage), detail);
                out->beginDownload(stageName(stage));
                return;
            case Stage::CheckArchives:
            case Stage::CheckInstall:
                out->stage(stageName(stage));
                return;
            default:
                out->stage(stageName(stage), detail);
                return;
            }
        });
    QObject::connect(reports, &FlowReporter::phaseStarted, &flow,
        [out](const QString &name, const QString &detail) { out->stage(name, detail); });
    QObject::connect(reports, &FlowReporter::message, &flow,
        [out](const QString &text, const QJsonObject &fields) { out->info(text, fields); });
    QObject::connect(reports, &FlowReporter::warningRaised, &flow, [out](const QString &text) { out->warning(text); });
    QObject::connect(reports, &FlowReporter::serverSwitched, &flow,
        [out](const QString &from, const QString &to, const QString &reason) {
            const QString text = FlowReporter::switchText(from, to, reason);
            if (!out->json()) {
                out->warning(text);
                return;
            }
            out->event(QStringLiteral("server"),
                { { QStringLiteral("failed"), from }, { QStringLiteral("server"), to },
                    { QStringLiteral("reason"), reason }, { QStringLiteral("message"), text } });
        });
    QObject::connect(reports, &FlowReporter::errorRaised, &flow,
        [out](const FlowError &error) { out->error(error.message, error.detail); });
    QObject::connect(reports, &FlowReporter::downloadProgress, &flow, [out](const TransferProgress &p) {
        DownloadCallbackInfo info;
        info.downloadedSize = p.done;
        info.totalSize = p.total;
        info.speed = p.speed;
        info.remainTime = p.secondsLeft;
        info.progress = float(p.fraction);
        info.bFinished = p.finished;
        out->download(info);
    });
    QObject::connect(reports, &FlowReporter::stageProgress, &flow,
        [out](Stage, const QString &step, double fraction) { out->percent(step, fraction); });
    QObject::connect(reports, &FlowReporter::progressEnded, &flow, [out]() { out->endLine(); });
    QObject::connect(reports, &FlowReporter::stepStarted, &flow, [out](const QString &from, const QString &to) {
        out->event(QStringLiteral("step"), { { QStringLiteral("from"), from }, { QStringLiteral("to"), to } });
        if (!out->json())
            out->info(QStringLiteral("step %1 -> %2").arg(from, to));
    });
    QObject::connect(reports, &FlowReporter::deliveryChosen, &flow,
        [out](const QString &chosen, qint64 blockBytes, const QString &other, qint64 otherBytes) {
            out->event(QStringLiteral("delivery"),
                { { QStringLiteral("chosen"), chosen }, { QStringLiteral("blocks"), double(blockBytes) },
                    { QStringLiteral("archives"), double(otherBytes) }, { QStringLiteral("via"), other } });
            if (!out->json())
                out->info(QStringLiteral("blocks: %1 bytes to fetch; %2: %3 bytes; taking %4")
                              .arg(blockBytes)
                              .arg(other)
                              .arg(otherBytes)
                              .arg(chosen == QLatin1String("blocks") ? chosen : other));
        });
    QObject::connect(reports, &FlowReporter::updated, &flow, [out](const QString &version, qint64 bytes) {
        out->event(QStringLiteral("done"),
            { { QStringLiteral("version"), version }, { QStringLiteral("bytes"), double(bytes) } });
        if (!out->json())
            out->info(
                QStringLiteral("installed version %1 (%2 bytes downloaded)").arg(version, QString::number(bytes)));
    });
    QObject::connect(reports, &FlowReporter::verified, &flow, [out](const QString &version, const QStringList &bad) {
        if (out->json())
            out->event(QStringLiteral("verified"),
                { { QStringLiteral("version"), version }, { QStringLiteral("bad"), QJsonArray::fromStringList(bad) } });
        else
            for (const QString &file : bad)
                out->info(QStringLiteral("bad: %1").arg(file));
    });
    QObject::connect(reports, &FlowReporter::launcherUpdated, &flow, [out](const QString &version) {
        out->event(QStringLiteral("done"), { { QStringLiteral("version"), version } });
        if (!out->json())
            out->info(QStringLiteral("launcher updated to %1").arg(version));
    });
    // No one can answer at a command line: a file in use stops the run.
    QObject::connect(
        reports, &FlowReporter::filesInUse, &flow, [&flow](const QStringList &) { flow.answerFilesInUse(false); });
}
