#include "DemoCommand.h"

#include "FlowCommand.h"
#include "FlowPrinter.h"
#include "HostOptions.h"
#include "InstallState.h"
#include "ProgressPrinter.h"
#include "TreeCompare.h"
#include "UpdateFlow.h"

#include "FileServer.h"
#include "Publisher.h"
#include "SampleGame.h"

#include "core/GameUpdateContext.h"
#include "trust/ReleaseKeys.h"
#include "util/QFileUtils.h"
#include "util/QtUtil.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

namespace {

struct Row
{
    QString flow;
    bool ok = false;
    QString archives;
    qint64 bytes = 0;
    qint64 ms = 0;
};

// Overwrites the middle of one file and deletes another: what a bad disk or a
// careless user leaves behind.
QStringList damage(const QString &game)
{
    const QString pak = QFileUtils::CombinePath(
        QFileUtils::CombinePath(game, Publisher::samplePakFolder()), QStringLiteral("pakchunk1-WindowsNoEditor.pak"));
    QFile f(pak);
    if (f.open(QIODevice::ReadWrite)) {
        f.seek(f.size() / 2);
        f.write(QByteArray(4096, '\xEE'));
    }
    QStringList damaged{ Publisher::samplePakFolder() + QStringLiteral("/pakchunk1-WindowsNoEditor.pak") };
    QDir dir(game);
    const QStringList top = dir.entryList(QDir::Files, QDir::Name);
    if (!top.isEmpty() && QFile::remove(dir.filePath(top.first())))
        damaged << top.first();
    return damaged;
}

} // namespace

int runDemo(const QCommandLineParser &options, QTextStream &out)
{
    const bool keep = options.isSet(QStringLiteral("keep"));
    routeLibraryMessages(options.isSet(QStringLiteral("verbose")));
    QElapsedTimer total;
    total.start();
    QTemporaryDir work;
    work.setAutoRemove(!keep);
    if (!work.isValid()) {
        out << "demo: cannot create a temporary folder\n";
        return 1;
    }
    const QString versions = work.filePath(QStringLiteral("versions"));
    const QString www = work.filePath(QStringLiteral("www"));
    const QString wwwArchives = work.filePath(QStringLiteral("www-archives"));
    QVector<Row> rows;

    out << "== sample game and publishing into " << work.path() << '\n';
    out.flush();
    QElapsedTimer clock;
    clock.start();
    QString error;
    const QStringList names = Publisher::generateSampleGame(versions, 3, error);
    if (names.size() != 3) {
        out << "demo: " << error << '\n';
        return 1;
    }
    // Signed, as a real publication should be: a key of the demo's own signs
    // every channel, and every run below trusts only that key (--trust).
    const QString secretKey = work.filePath(QStringLiteral("release.key"));
    const QString publicKey = work.filePath(QStringLiteral("release.pub"));
    QFile publicKeyFile(publicKey);
    if (!Morvaniel::ReleaseKeys::GenerateKeyFiles(secretKey, publicKey, error)
        || !publicKeyFile.open(QIODevice::ReadOnly)) {
        out << "demo: no signing key: " << error << '\n';
        return 1;
    }
    const QStringList trusted{ QString::fromLatin1(publicKeyFile.readAll()).trimmed() };
    // Published twice: with a block store beside the archives, and without
    // one (publish --no-blocks), so that both delivery paths are shown.
    Publisher::PublishOptions publish;
    publish.inputDir = versions;
    publish.outputDir = www;
    publish.signing.secretKeyFile = secretKey;
    Publisher::PublishReport published;
    bool publishedOk = Publisher::publish(publish, published);
    publish.outputDir = wwwArchives;
    publish.blocks = false;
    Publisher::PublishReport archivesOnly;
    publishedOk = publishedOk && Publisher::publish(publish, archivesOnly);
    rows.append({ QStringLiteral("publish %1 versions, twice").arg(names.size()), publishedOk,
        QStringLiteral("%1 archives, %2 bundles").arg(published.archives.size()).arg(published.blocks.bundles), 0,
        clock.elapsed() });
    if (!publishedOk) {
        out << "demo: publishing failed: " << published.error << archivesOnly.error << '\n';
        return 1;
    }
    const QString newest = names.last();

    // On the main thread with the flow, which never blocks it.
    Http::FileServer blockServer;
    Http::FileServer archiveServer;
    blockServer.setRoot(www);
    archiveServer.setRoot(wwwArchives);
    if (!blockServer.listen(0) || !archiveServer.listen(0)) {
        out << "demo: cannot listen on 127.0.0.1\n";
        return 1;
    }
    out << "== serving " << www << " at " << blockServer.url(QString()) << '\n';
    out << "== serving " << wwwArchives << " (no block store) at " << archiveServer.url(QString()) << '\n';
    out.flush();

    ProgressPrinter printer(out, false);
    HostFlow::UpdateFlow session;
    printFlow(session, printer);
    stopOnInterrupt(session);
    // How a run delivered the game, with the block plan's bytes where the server offered blocks.
    const auto delivery = [&session](const QString &archiveNames) {
        const HostFlow::UpdateReport &r = session.report();
        if (r.blocks)
            return r.archiveBytes >= 0
                ? QStringLiteral("blocks (planned %1 bytes; archives %2)").arg(r.blockBytes).arg(r.archiveBytes)
                : QStringLiteral("blocks (planned %1 bytes)").arg(r.blockBytes);
        if (r.blockBytes >= 0)
            return QStringLiteral("archives, cheaper than %1 bytes of blocks: %2").arg(r.blockBytes).arg(archiveNames);
        return QStringLiteral("archives: %1").arg(archiveNames);
    };
    auto setServer = [&](const QString &dir, const Http::FileServer &server) {
        HostFlow::FlowOptions options;
        options.server = server.url(QString());
        options.trustedKeys = trusted;
        options.installDir = dir;
        session.setOptions(options);
    };
    auto runUpdate = [&](const QString &dir, const QString &flow, const Http::FileServer &server) {
        setServer(dir, server);
        out << "\n== " << flow << '\n';
        out.flush();
        clock.restart();
        const qint64 before = session.bytesDownloaded();
        const bool ok
            = runToEnd(session, [](HostFlow::UpdateFlow &flow) { return flow.update(); }) == HostFlow::UpdateFlow::Ok
            && session.report().toVersion == newest;
        rows.append({ flow, ok, delivery(session.report().archives.join(QStringLiteral(" "))),
            session.bytesDownloaded() - before, clock.elapsed() });
        return ok;
    };
    auto runRepair = [&](const QString &dir, const QString &path, const Http::FileServer &server) {
        const QStringList damaged = damage(HostFlow::InstallState::gameFolder(dir));
        out << "\n== repair (" << path << ") after damaging " << damaged.join(QStringLiteral(", ")) << '\n';
        out.flush();
        setServer(dir, server);
        clock.restart();
        const qint64 before = session.bytesDownloaded();
        const bool ok = runToEnd(session, [](HostFlow::UpdateFlow &flow) { return flow.verify(true); }) == 0
            && session.badFiles().size() == damaged.size();
        QStringList fetched;
        for (const Morvaniel::DownloadFile &file : qAsConst(session.context().downloadList))
            fetched << file.fileName;
        rows.append({ QStringLiteral("repair %1 damaged files (%2)").arg(damaged.size()).arg(path), ok,
            QStringLiteral("%1, %2 bad files found")
                .arg(delivery(fetched.join(QLatin1Char(' '))))
                .arg(session.badFiles().size()),
            session.bytesDownloaded() - before, clock.elapsed() });
    };
    QVector<QPair<QString, QString>> installs; // label, install folder
    for (const bool blocks : { true, false }) {
        const QString path = blocks ? QStringLiteral("blocks") : QStringLiteral("archives");
        const Http::FileServer &server = blocks ? blockServer : archiveServer;
        const QString fresh = work.filePath(QStringLiteral("install-fresh-") + path);
        runUpdate(fresh, QStringLiteral("install %1 from nothing (%2)").arg(newest, path), server);
        const QString old = work.filePath(QStringLiteral("install-old-") + path);
        if (!QDir().mkpath(HostFlow::InstallState::gameFolder(old))
            || !QFileUtils::CopyMultiFiles(
                QDir(versions).filePath(names.first()), HostFlow::InstallState::gameFolder(old))) {
            out << "demo: cannot copy " << names.first() << " into " << old << '\n';
            return 1;
        }
        HostFlow::InstallState::writeVersion(old, names.first());
        runUpdate(old, QStringLiteral("update %1 -> %2 (%3)").arg(names.first(), newest, path), server);
        runRepair(old, path, server);
        installs.append({ QStringLiteral("fresh install (%1)").arg(path), fresh });
        installs.append({ QStringLiteral("updated install (%1)").arg(path), old });
    }
    for (const auto &install : qAsConst(installs)) {
        const TreeDifference d
            = compareTrees(QDir(versions).filePath(newest), HostFlow::InstallState::gameFolder(install.second));
        rows.append({ QStringLiteral("%1 == %2").arg(install.first, newest), d.same(), d.describe(), 0, 0 });
    }

    bool all = true;
    out << "\nSummary\n";
    out << QStringLiteral("  %1 %2 %3 %4  %5\n")
               .arg(QStringLiteral("flow"), -44)
               .arg(QStringLiteral("result"), -6)
               .arg(QStringLiteral("bytes"), 10)
               .arg(QStringLiteral("time"), 8)
               .arg(QStringLiteral("what"));
    for (const Row &row : qAsConst(rows)) {
        all = all && row.ok;
        out << QStringLiteral("  %1 %2 %3 %4  %5\n")
                   .arg(row.flow, -44)
                   .arg(row.ok ? QStringLiteral("ok") : QStringLiteral("FAIL"), -6)
                   .arg(row.bytes ? QtUtil::transformUnit(row.bytes, false) : QStringLiteral("-"), 10)
                   .arg(row.ms ? QStringLiteral("%1 s").arg(row.ms / 1000.0, 0, 'f', 2) : QStringLiteral("-"), 8)
                   .arg(row.archives);
    }
    out << QStringLiteral("  %1 %2 %3 %4\n")
               .arg(QStringLiteral("total"), -44)
               .arg(all ? QStringLiteral("ok") : QStringLiteral("FAIL"), -6)
               .arg(QtUtil::transformUnit(session.bytesDownloaded(), false), 10)
               .arg(QStringLiteral("%1 s").arg(total.elapsed() / 1000.0, 0, 'f', 2), 8);
    // Every run (two updates and a repair on each path) accepted the signed
    // release and checked each manifest against it.
    const bool verified = session.releasesAccepted() == 6;
    all = all && verified;
    out << (verified ? "signed: verified\n" : "signed: NOT VERIFIED\n");
    out << (all ? "every check passed\n" : "SOME CHECKS FAILED\n");
    if (keep)
        out << "kept " << work.path() << '\n';
    out.flush();
    return all ? 0 : 1;
}
