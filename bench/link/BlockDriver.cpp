// The block worker driven as a host would, for the link benchmark: fetch the
// guide manifest and the block indexes, plan, run, and print one line of
// figures: the worker alone, beside the command line (whose update goes by
// blocks too where the server offers them).
//
//   linkbench-blocks --server <url> --dir <game folder> [--version V] [--installed V]
//                    [--repair <path>]... [--connections n] [--plan-only] [--channel game]
#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockIndex.h"
#include "blocks/BlockJob.h"
#include "core/BlockComponent.h"
#include "core/Global.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdio>

using namespace Morvaniel;

namespace {

QByteArray get(QNetworkAccessManager &network, const QString &url, bool &ok)
{
    QNetworkReply *reply = network.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    ok = reply->error() == QNetworkReply::NoError;
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("server address"), QStringLiteral("url"));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("game folder"), QStringLiteral("dir"));
    const QCommandLineOption version(
        QStringLiteral("version"), QStringLiteral("version to reach"), QStringLiteral("v"));
    const QCommandLineOption installed(
        QStringLiteral("installed"), QStringLiteral("version the folder holds"), QStringLiteral("v"));
    const QCommandLineOption repair(QStringLiteral("repair"), QStringLiteral("file to repair"), QStringLiteral("path"));
    const QCommandLineOption connections(
        QStringLiteral("connections"), QStringLiteral("connections"), QStringLiteral("n"), QStringLiteral("8"));
    const QCommandLineOption planOnly(QStringLiteral("plan-only"), QStringLiteral("print the plan's figures only"));
    const QCommandLineOption channel(
        QStringLiteral("channel"), QStringLiteral("channel"), QStringLiteral("name"), QStringLiteral("game"));
    const QCommandLineOption chain(QStringLiteral("patch-chain"), QStringLiteral("bytes of the patch chain"),
        QStringLiteral("bytes"), QStringLiteral("-1"));
    parser.addOptions({ server, dir, version, installed, repair, connections, planOnly, channel, chain });
    parser.process(app);

    QElapsedTimer clock;
    clock.start();
    QNetworkAccessManager network;
    const QString channelUrl = parser.value(server) + QLatin1Char('/') + parser.value(channel);
    bool ok = true;
    QString target = parser.value(version);
    if (target.isEmpty()) {
        const QByteArray guide = get(network, channelUrl + QStringLiteral("/manifest.txt"), ok);
        const QList<QByteArray> lines = guide.trimmed().split('\n');
        target = QString::fromUtf8(lines.last().trimmed());
    }
    BlockJob job;
    job.folder = parser.value(dir);
    job.channelUrl = channelUrl;
    job.connections = parser.value(connections).toInt();
    job.repairFiles = parser.values(repair);
    job.patchChainBytes = parser.value(chain).toLongLong();
    job.targetIndexUrl = channelUrl + QLatin1Char('/') + BlockIndex::indexPath(target);
    job.targetIndex = get(network, job.targetIndexUrl, ok);
    if (parser.isSet(installed)) {
        job.installedIndexUrl = channelUrl + QLatin1Char('/') + BlockIndex::indexPath(parser.value(installed));
        job.installedIndex = get(network, job.installedIndexUrl, ok);
    }
    if (!ok) {
        std::fprintf(stderr, "cannot fetch the block index of %s\n", qPrintable(target));
        return 1;
    }
    std::shared_ptr<BlockComponent> blocks = GetBlockComponent();
    if (parser.isSet(planOnly)) {
        BlockCost cost;
        QString error;
        if (!blocks->PlanBlocks(job, cost, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("plan fetch=%lld blocks=%lld requests=%lld copy=%lld check=%lld staged=%lld chain=%lld "
                    "prefer_blocks=%d\n",
            cost.fetchBytes, cost.fetchBlocks, cost.requests, cost.copyBytes, cost.checkBytes, cost.stagedBytes,
            cost.patchChainBytes, cost.preferBlocks ? 1 : 0);
        return 0;
    }
    BlockCallbackInfo last;
    bool over = false;
    blocks->RegistCallbackFunc([&](BlockCallbackInfo &info) {
        if (info.bFinished || info.bError || info.bPaused) {
            last = info;
            over = true;
            app.quit();
        }
    });
    blocks->StartBlocks(job);
    if (!over)
        app.exec();
    const double seconds = double(clock.elapsed()) / 1000.0;
    std::printf(
        "blocks seconds=%.2f fetched=%lld wire=%lld copy=%lld check=%lld repaired=%lld planned=%lld ok=%d%s%s\n",
        seconds, last.downloadedSize, last.wireBytes, last.cost.copyBytes, last.cost.checkBytes, last.repairedBlocks,
        last.cost.fetchBytes, last.bFinished ? 1 : 0,
        last.bFinished ? "" : " error=", last.bFinished ? "" : qPrintable(last.errorString));
    return last.bFinished ? 0 : 1;
}
