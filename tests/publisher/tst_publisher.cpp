#include "PatchBuilder.h"
#include "PatchPlan.h"
#include "PublishCommand.h"
#include "Publisher.h"
#include "ReleaseSigner.h"
#include "SampleGame.h"
#include "blocks/BlockIndex.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "util/Blake2b.h"

#include "../support/TestSupport.h"
#ifdef Q_OS_UNIX
#include "../host/HostTestSupport.h"
#endif

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Publisher;
using TestSupport::copyTree;
using TestSupport::md5Of;
using TestSupport::programPath;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

QStringList lines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Lines of one "--name--" section of a marker-sectioned manifest.
QStringList section(const QStringList &all, const QString &marker)
{
    QStringList out;
    bool inside = false;
    for (const QString &l : all) {
        if (l.startsWith(QLatin1String("--")) && l.endsWith(QLatin1String("--")))
            inside = l == marker;
        else if (inside)
            out << l;
    }
    return out;
}

// A stand-in for hdiffz that writes a tiny patch: enough to check the layout.
QString writeFakeDiffTool(const QString &dir)
{
#ifdef Q_OS_WIN
    // A batch file: "set /p" prints its prompt without a line end.
    const QString path = dir + QStringLiteral("/fake_hdiffz.cmd");
    writeFile(path, "@<nul set /p =PATCH>\"%~3\"\r\n");
#else
    const QString path = dir + QStringLiteral("/fake_hdiffz");
    writeFile(path, "#!/bin/sh\nprintf 'PATCH' > \"$3\"\n");
#endif
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// With the 7z the build links beside the test, as the publisher itself uses.
bool extract(const QString &archive, const QString &dir)
{
    QProcess p;
    p.start(programPath(QStringLiteral("7z")),
        { QStringLiteral("x"), QStringLiteral("-y"), QStringLiteral("-o") + dir, archive });
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class tst_Publisher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void manifestsMatchTrees();
    void fullPacksExtract_data();
    void fullPacksExtract();
    void patchArchiveLayout();
    void reproducible();
    void refusedNames_data();
    void refusedNames();
    void linksAndSpecialFilesNotFollowed();
    void patchPlanEdgeCases();
    void launcherChannel();
    void commandLine();
    void badOptions();
    void byteSizes_data();
    void byteSizes();
    void growByAdding();
    void serialRules_data();
    void serialRules();
    void safeOrder();
    void retention_data();
    void retention();
    void uploadToS3();

private:
    // Publishes the three-version sample game, with patches when a diff tool is given.
    bool publishSample(const QString &out, qint64 splitSize, const QString &diffTool, PublishReport &report);

    // The four-version game published at once, signed, with blocks: the
    // layout the release-cycle tests grow, prune and compare against.
    QString cycleLayout();
    PublishOptions cycleOptions(const QString &out) const;

    QTemporaryDir m_dir;
    QString m_games;
    QStringList m_versions;
    QString m_games4;
    QString m_key;
    QString m_cycleLayout;
};

void tst_Publisher::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFileInfo(programPath(QStringLiteral("7z"))).isExecutable(), "7z is not linked beside the test");
    m_games = m_dir.filePath(QStringLiteral("games"));
    QString error;
    m_versions = generateSampleGame(m_games, 3, error);
    QVERIFY2(m_versions.size() == 3, qPrintable(error));
}

bool tst_Publisher::publishSample(const QString &out, qint64 splitSize, const QString &diffTool, PublishReport &report)
{
    PublishOptions options;
    options.inputDir = m_games;
    options.outputDir = out;
    options.splitSize = splitSize;
    options.defaultPairs = !diffTool.isEmpty();
    options.diffTool = diffTool;
    options.compressionLevel = 1;
    const bool ok = publish(options, report);
    if (!ok)
        qWarning() << report.error;
    return ok;
}

void tst_Publisher::manifestsMatchTrees()
{
    const QString out = m_dir.filePath(QStringLiteral("out-manifests"));
    PublishReport report;
    QVERIFY(publishSample(out, 1 << 20, writeFakeDiffTool(m_dir.path()), report));
    QCOMPARE(report.versions, m_versions);
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/.publish-work")));

    for (const QString &v : qAsConst(m_versions)) {
        const QMap<QString, QByteArray> tree = treeContent(m_games + QLatin1Char('/') + v);
        // One line per file, in key order, "/" separators, size and MD5 of the content.
        const QStringList manifest = lines(out + QStringLiteral("/game/%1/manifest.txt").arg(v));
        QCOMPARE(manifest.size(), tree.size());
        QStringList paths;
        for (const QString &line : manifest) {
            const QStringList f = line.split(QLatin1Char('|'));
            QCOMPARE(f.size(), 3);
            QVERIFY2(tree.contains(f[0]), qPrintable(f[0]));
            QVERIFY(!f[0].contains(QLatin1Char('\\')));
            QCOMPARE(f[1], md5Of(tree[f[0]]));
            QCOMPARE(f[2].toLongLong(), qint64(tree[f[0]].size()));
            paths << f[0];
        }
        QStringList sorted = paths;
        sorted.sort();
        QCOMPARE(paths, sorted);

        // The repair manifest names every file once, under an archive of this version.
        QStringList repaired;
        for (const QString &line : lines(out + QStringLiteral("/game/%1/repair.txt").arg(v))) {
            const QString group = line.section(QLatin1Char(':'), 0, 0);
            QVERIFY2(group.startsWith(QStringLiteral("game/%1/full_%1").arg(v)), qPrintable(group));
            QVERIFY(QFileInfo::exists(out + QLatin1Char('/') + group));
            repaired << line.section(QLatin1Char(':'), 1).split(QLatin1Char('|'));
        }
        repaired.sort();
        QCOMPARE(repaired, sorted);
    }

    // The guide lists every archive with its real MD5 and size, then the newest version.
    const QStringList guide = lines(out + QStringLiteral("/game/manifest.txt"));
    QCOMPARE(guide.first(), QStringLiteral("--download_version--"));
    QCOMPARE(section(guide, QStringLiteral("--last_version--")), QStringList{ m_versions.last() });
    const QStringList packages = section(guide, QStringLiteral("--download_version--"));
    QCOMPARE(packages.size(), report.archives.size());
    QSet<QString> steps;
    for (const QString &line : packages) {
        const QStringList f = line.split(QLatin1Char('|'));
        QCOMPARE(f.size(), 4);
        const QByteArray archive = readFile(out + QLatin1Char('/') + f[1]);
        QVERIFY2(!archive.isEmpty(), qPrintable(f[1]));
        QCOMPARE(f[2], md5Of(archive));
        QCOMPARE(f[3].toLongLong(), qint64(archive.size()));
        steps.insert(f[0]);
    }
    const QSet<QString> expected{ "1.0.0.1->1.0.0.1", "1.0.0.2->1.0.0.2", "1.0.0.3->1.0.0.3", "1.0.0.1->1.0.0.2",
        "1.0.0.2->1.0.0.3" };
    QCOMPARE(steps, expected);
    QVERIFY(QJsonDocument::fromJson(readFile(out + QStringLiteral("/info.json"))).isObject());
}

void tst_Publisher::fullPacksExtract_data()
{
    QTest::addColumn<qint64>("splitSize");
    QTest::addColumn<bool>("severalArchives");
    QTest::newRow("one archive") << qint64(0) << false;
    QTest::newRow("split at 512 KiB") << qint64(512 * 1024) << true;
}

void tst_Publisher::fullPacksExtract()
{
    QFETCH(qint64, splitSize);
    QFETCH(bool, severalArchives);
    const QString out = m_dir.filePath(QStringLiteral("out-full-%1").arg(splitSize));
    PublishReport report;
    QVERIFY(publishSample(out, splitSize, QString(), report));

    for (const QString &v : qAsConst(m_versions)) {
        const QString target = m_dir.filePath(QStringLiteral("extract-%1-%2").arg(splitSize).arg(v));
        int count = 0;
        for (const PublishedArchive &a : qAsConst(report.archives)) {
            if (a.toVersion != v)
                continue;
            QCOMPARE(a.kind, QStringLiteral("full"));
            QVERIFY2(extract(out + QLatin1Char('/') + a.path, target), qPrintable(a.path));
            ++count;
        }
        QCOMPARE(count > 1, severalArchives);
        if (!severalArchives)
            QCOMPARE(report.archives.value(m_versions.indexOf(v)).path, QStringLiteral("game/%1/full_%1.7z").arg(v));
        QCOMPARE(treeContent(target), treeContent(m_games + QLatin1Char('/') + v));
    }
}

void tst_Publisher::patchArchiveLayout()
{
    const QString out = m_dir.filePath(QStringLiteral("out-patch-layout"));
    PublishReport report;
    QVERIFY(publishSample(out, 0, writeFakeDiffTool(m_dir.path()), report));

    const QString unpacked = m_dir.filePath(QStringLiteral("patch12"));
    QVERIFY(extract(out + QStringLiteral("/game/1.0.0.2/patch_1.0.0.1_1.0.0.2.7z"), unpacked));
    const QStringList manifest = lines(unpacked + QStringLiteral("/manifest.txt"));
    auto paths = [&](const QString &marker) {
        QStringList p;
        for (const QString &l : section(manifest, marker))
            p << l.section(QLatin1Char('|'), 0, 0);
        return p;
    };
    QCOMPARE(paths(QStringLiteral("--del_file--")),
        QStringList({ "PM/Content/Movies/Intro.txt", "PM/Content/Paks/pakchunk9-Legacy.pak" }));
    QCOMPARE(paths(QStringLiteral("--new_file--")),
        QStringList({ "PM/Content/Movies/intro.txt", "PM/Content/Paks/pakchunk2-WindowsNoEditor.pak" }));
    QCOMPARE(paths(QStringLiteral("--patch_file--")),
        QStringList({ "Docs/说明 readme.txt.patch", "PM/Binaries/Win64/PM-Win64-Shipping.exe.patch",
            "PM/Config/Default Game.ini.patch", "PM/Content/Paks/pakchunk0-WindowsNoEditor.pak.patch" }));
    // Whole files lie under their game paths; patches under "<path>.patch".
    const QString v2 = m_games + QStringLiteral("/1.0.0.2/");
    QCOMPARE(readFile(unpacked + QStringLiteral("/PM/Content/Movies/intro.txt")),
        readFile(v2 + QStringLiteral("PM/Content/Movies/intro.txt")));
    QCOMPARE(readFile(unpacked + QStringLiteral("/PM/Config/Default Game.ini.patch")), QByteArray("PATCH"));
    QCOMPARE(section(manifest, QStringLiteral("--patch_file--")).first().section(QLatin1Char('|'), 1),
        QStringLiteral("%1|5").arg(md5Of("PATCH")));
    QCOMPARE(treeContent(unpacked).size(), 1 + 2 + 4);

    // A folder that vanished is deleted as one entry.
    const QString unpacked23 = m_dir.filePath(QStringLiteral("patch23"));
    QVERIFY(extract(out + QStringLiteral("/game/1.0.0.3/patch_1.0.0.2_1.0.0.3.7z"), unpacked23));
    const QStringList del
        = section(lines(unpacked23 + QStringLiteral("/manifest.txt")), QStringLiteral("--del_file--"));
    QCOMPARE(del, QStringList{ QStringLiteral("PM/Content/Legacy||0") });
}

void tst_Publisher::reproducible()
{
    const QString fake = writeFakeDiffTool(m_dir.path());
    const QString a = m_dir.filePath(QStringLiteral("out-a")), b = m_dir.filePath(QStringLiteral("out-b"));
    PublishReport ra, rb;
    QVERIFY(publishSample(a, 700 * 1024, fake, ra));
    // Times and permission bits of the input must not reach the output.
    QDirIterator it(m_games, QDir::Files, QDirIterator::Subdirectories);
    for (int i = 0; it.hasNext(); ++i) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTimeUtc().addDays(-1 - i), QFileDevice::FileModificationTime));
        QVERIFY(f.setPermissions(f.permissions() ^ QFile::ExeOwner));
    }
    QVERIFY(publishSample(b, 700 * 1024, fake, rb));
    const QMap<QString, QByteArray> ta = treeContent(a), tb = treeContent(b);
    QCOMPARE(ta.keys(), tb.keys());
    for (auto it = ta.cbegin(); it != ta.cend(); ++it)
        QVERIFY2(it.value() == tb.value(it.key()), qPrintable(it.key()));
}

void tst_Publisher::refusedNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("offender");
    QTest::newRow("bar") << QStringList{ "a|b.txt" } << "a|b.txt";
    QTest::newRow("colon") << QStringList{ "a:b.txt" } << "a:b.txt";
    QTest::newRow("two blanks") << QStringList{ "a  b.txt" } << "a  b.txt";
    QTest::newRow("tab") << QStringList{ "a\tb.txt" } << "a\tb.txt";
    QTest::newRow("backslash") << QStringList{ "a\\b.txt" } << "a\\b.txt";
    QTest::newRow("trailing dot") << QStringList{ "dir./x.txt" } << "dir./x.txt";
    QTest::newRow("ideographic space") << QStringList{ QString::fromUtf8("a\u3000b.txt") }
                                       << QString::fromUtf8("a\u3000b.txt");
    QTest::newRow("letter case twins") << QStringList{ "Data/a.pak", "data/b.pak" } << "data";
}

void tst_Publisher::refusedNames()
{
    QFETCH(QStringList, names);
    QFETCH(QString, offender);
    QTemporaryDir dir;
    for (const QString &n : names) {
        // Windows refuses some names and quietly turns others into different
        // ones ("a\\b.txt" a folder and a file, "dir." into "dir").
        if (!writeFile(dir.filePath(QStringLiteral("in/1.0.0.1/") + n), "x")
            || !QDir(dir.filePath(QStringLiteral("in/1.0.0.1")))
                    .entryList()
                    .contains(n.section(QLatin1Char('/'), 0, 0)))
            QSKIP("this file system cannot hold the name at all");
    }
    if (names.size() > 1 && QFileInfo::exists(dir.filePath(QStringLiteral("IN"))))
        QSKIP("twins that differ in letter case only cannot exist on this file system");
    PublishOptions options;
    options.inputDir = dir.filePath(QStringLiteral("in"));
    options.outputDir = dir.filePath(QStringLiteral("out"));
    options.defaultPairs = false;
    PublishReport report;
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(offender), qPrintable(report.error));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("out/game/1.0.0.1"))));
}

void tst_Publisher::linksAndSpecialFilesNotFollowed()
{
#ifndef Q_OS_UNIX
    QSKIP("symbolic links and FIFOs are POSIX file types (QFile::link makes a shortcut here)");
#else
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("secret/key.txt")), "outside"));
    const QString v = dir.filePath(QStringLiteral("in/1.0.0.1"));
    QVERIFY(writeFile(v + QStringLiteral("/ünï cødé/ok.txt"), "inside"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("secret/key.txt")), v + QStringLiteral("/key.txt")));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("secret")), v + QStringLiteral("/secretdir")));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"), v + QStringLiteral("/dangling")));
    // A FIFO would block a reader forever.
    QCOMPARE(::mkfifo(QFile::encodeName(v + QStringLiteral("/pipe")).constData(), 0600), 0);

    PublishOptions options;
    options.inputDir = dir.filePath(QStringLiteral("in"));
    options.outputDir = dir.filePath(QStringLiteral("out"));
    options.defaultPairs = false;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(report.warnings.size(), 4);
    QCOMPARE(lines(dir.filePath(QStringLiteral("out/game/1.0.0.1/manifest.txt"))),
        QStringList{ QStringLiteral("ünï cødé/ok.txt|%1|6").arg(md5Of("inside")) });
    const QString target = dir.filePath(QStringLiteral("extracted"));
    QVERIFY(extract(dir.filePath(QStringLiteral("out/game/1.0.0.1/full_1.0.0.1.7z")), target));
    QCOMPARE(treeContent(target).keys(), QStringList{ QStringLiteral("ünï cødé/ok.txt") });
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
        QStringList{ QStringLiteral("ünï cødé") });
#endif
}

void tst_Publisher::patchPlanEdgeCases()
{
    QTemporaryDir dir;
    auto tree = [&](const QString &version, const QMap<QString, QByteArray> &files) {
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writeFile(dir.filePath(version + QLatin1Char('/') + it.key()), it.value());
        VersionTree t;
        QStringList warnings;
        QString error;
        scanVersionTree(dir.filePath(version), version, t, warnings, error);
        return t;
    };
    const QByteArray big(4096, 'a');
    const VersionTree a = tree(QStringLiteral("1.0.0.1"),
        { { "x", "file" }, { "notes.patch.txt", big }, { "b.pak", big }, { "b.PAK.patch", big },
            { "keep/k.txt", big } });
    const VersionTree b = tree(QStringLiteral("1.0.0.2"),
        { { "x/y", "now a folder" }, { "notes.patch.txt", big + "2" }, { "b.pak", big + "2" },
            { "b.PAK.patch", big + "2" }, { "keep/k.txt", big + "2" } });
    QVERIFY(planPatch(a, b).blocker.contains(QStringLiteral("\"x\"")));
    QVERIFY(planPatch(b, a).blocker.contains(QStringLiteral("\"x\"")));

    // Without the blocker: a name holding ".patch" and a patch name that would
    // clash with a whole file in another letter case both go whole.
    PatchPlan plan = planPatch(a, b);
    plan.added.clear();
    plan.blocker.clear();
    PatchFolder folder;
    QString error;
    const QString patchDir = dir.filePath(QStringLiteral("patch"));
    QDir().mkpath(patchDir);
    QVERIFY2(buildPatchFolder(plan, a, b, writeFakeDiffTool(dir.path()), patchDir, folder, error), qPrintable(error));
    QStringList whole, patches;
    for (const TreeFile &f : qAsConst(folder.added))
        whole << f.path;
    for (const TreeFile &f : qAsConst(folder.patches))
        patches << f.path;
    QCOMPARE(whole, QStringList({ "b.PAK.patch", "b.pak", "notes.patch.txt" }));
    QCOMPARE(patches, QStringList{ "keep/k.txt.patch" });
    QCOMPARE(folder.entries.first(), QStringLiteral("manifest.txt"));

    // A game file named like the patch manifest cannot travel in a patch.
    const VersionTree c = tree(QStringLiteral("1.0.0.3"), { { "Manifest.TXT", "m" } });
    QVERIFY(!planPatch(a, c).blocker.isEmpty());
}

void tst_Publisher::launcherChannel()
{
    const QString out = m_dir.filePath(QStringLiteral("out-launcher"));
    PublishOptions options;
    options.inputDir = m_games;
    options.outputDir = out;
    options.defaultPairs = false;
    options.splitSize = 1024;
    options.launcherInputDir = m_games;
    options.compressionLevel = 1;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));

    // One archive per launcher version whatever the split size: its planner knows only full_<version>.7z.
    const QStringList guide = lines(out + QStringLiteral("/Launcher/manifest.txt"));
    QCOMPARE(section(guide, QStringLiteral("--last_version--")), QStringList{ m_versions.last() });
    const QStringList packages = section(guide, QStringLiteral("--download_version--"));
    QCOMPARE(packages.size(), m_versions.size());
    for (int i = 0; i < m_versions.size(); ++i) {
        const QString v = m_versions[i];
        const QStringList f = packages[i].split(QLatin1Char('|'));
        QCOMPARE(f[0], v + QStringLiteral("->") + v);
        QCOMPARE(f[1], QStringLiteral("Launcher/%1/full_%1.7z").arg(v));
        QCOMPARE(f[3].toLongLong(), QFileInfo(out + QLatin1Char('/') + f[1]).size());
        QCOMPARE(readFile(out + QStringLiteral("/Launcher/%1/manifest.txt").arg(v)),
            readFile(out + QStringLiteral("/game/%1/manifest.txt").arg(v)));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/Launcher/%1/repair.txt").arg(v)));
    }
    // The game's full packs did split.
    QVERIFY(QFileInfo::exists(out + QStringLiteral("/game/1.0.0.1/full_1.0.0.1_002.7z")));
}

void tst_Publisher::commandLine()
{
    const QString program = programPath(QStringLiteral("morvaniel"));
    QVERIFY(QFileInfo(program).isExecutable());
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("in/2.0.0.0/a b/ü.txt")), "x"));
    QProcess p;
    p.start(program,
        { "publish", dir.filePath(QStringLiteral("in")), dir.filePath(QStringLiteral("out")), "--patches", "none",
            "--split-size", "1K", "--channel", "pc" });
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(lines(dir.filePath(QStringLiteral("out/pc/manifest.txt"))).value(1).section(QLatin1Char('|'), 0, 1),
        QStringLiteral("2.0.0.0->2.0.0.0|pc/2.0.0.0/full_2.0.0.0.7z"));

    p.start(program,
        { "publish", dir.filePath(QStringLiteral("in")), dir.filePath(QStringLiteral("out2")), "--split-size",
            "lots" });
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("out2"))));

    // The cycle: one more version into the layout, then retention, and the usage errors around them.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("next/2.0.0.1/a b/ü.txt")), "y"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QList<QPair<QStringList, int>> runs{
        { { "--add", dir.filePath(QStringLiteral("next/2.0.0.1")), dir.filePath(QStringLiteral("in")), out }, 2 },
        { { "--keep", "0", out }, 2 },
        { { "--dry-run", dir.filePath(QStringLiteral("in")), out }, 2 },
        { { "--add", dir.filePath(QStringLiteral("in/2.0.0.0")), out, "--channel", "pc" }, 1 },
        { { "--add", dir.filePath(QStringLiteral("next/2.0.0.1")), out, "--channel", "pc", "--patches", "none" }, 0 },
        { { "--keep", "1", out, "--channel", "pc", "--dry-run" }, 0 },
    };
    for (const auto &run : runs) {
        p.start(program, QStringList{ "publish" } + run.first);
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == run.second, qPrintable(run.first.join(' ') + ": " + p.readAllStandardError()));
    }
    QVERIFY(p.readAllStandardOutput().contains("would remove pc/2.0.0.0/full_2.0.0.0.7z"));
    QCOMPARE(section(lines(out + QStringLiteral("/pc/manifest.txt")), QStringLiteral("--last_version--")),
        QStringList{ "2.0.0.1" });
}

void tst_Publisher::badOptions()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("in/1.0.0.1/a.txt")), "1"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("in/1.0.0.2/a.txt")), "2"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("busy/user-file.txt")), "mine"));
    PublishOptions options;
    options.inputDir = dir.filePath(QStringLiteral("in"));
    PublishReport report;

    options.outputDir = dir.filePath(QStringLiteral("busy"));
    options.defaultPairs = false;
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("empty")), qPrintable(report.error));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("busy"))).entryList(QDir::Files), QStringList{ "user-file.txt" });

    options.outputDir = dir.filePath(QStringLiteral("out1"));
    QString error;
    QVERIFY(parsePatchPairs(QStringLiteral("1.0.0.2:1.0.0.1"), options, error));
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("newer")), qPrintable(report.error));
    QVERIFY(!parsePatchPairs(QStringLiteral("1.0.0.1-1.0.0.2"), options, error));

    options.outputDir = dir.filePath(QStringLiteral("out2"));
    options.defaultPairs = true;
    options.diffTool = dir.filePath(QStringLiteral("no-such-hdiffz"));
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("no-such-hdiffz")), qPrintable(report.error));

    options.outputDir = dir.filePath(QStringLiteral("out4"));
    options.channel = QStringLiteral("../up");
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("channel")), qPrintable(report.error));
    options.channel = QStringLiteral("game");
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("up"))));

    options.outputDir = dir.filePath(QStringLiteral("in/1.0.0.2/out"));
    options.diffTool.clear();
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("inside")), qPrintable(report.error));

    QVERIFY(writeFile(dir.filePath(QStringLiteral("in/1.0.0.01/a.txt")), "3"));
    options.outputDir = dir.filePath(QStringLiteral("out3"));
    options.defaultPairs = false;
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("1.0.0.01")), qPrintable(report.error));
}

void tst_Publisher::byteSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qlonglong>("bytes");
    QTest::newRow("plain") << "1000" << 1000LL;
    QTest::newRow("kibi") << "512K" << 524288LL;
    QTest::newRow("mebi lower") << "64m" << 67108864LL;
    QTest::newRow("gibi") << "2G" << 2147483648LL;
    QTest::newRow("zero") << "0" << 0LL;
    QTest::newRow("negative") << "-1" << -1LL;
    QTest::newRow("junk") << "12X" << -1LL;
    QTest::newRow("overflow") << "99999999999999999G" << -1LL;
}

void tst_Publisher::byteSizes()
{
    QFETCH(QString, text);
    QFETCH(qlonglong, bytes);
    QCOMPARE(parseByteSize(text), bytes);
}

PublishOptions tst_Publisher::cycleOptions(const QString &out) const
{
    PublishOptions options;
    options.outputDir = out;
    options.splitSize = 700 * 1024;
    options.compressionLevel = 1;
    options.diffTool = programPath(QStringLiteral("hdiffz"));
    options.signing.secretKeyFile = m_key;
    return options;
}

QString tst_Publisher::cycleLayout()
{
    if (!m_cycleLayout.isEmpty())
        return m_cycleLayout;
    QString error;
    m_games4 = m_dir.filePath(QStringLiteral("games4"));
    m_key = m_dir.filePath(QStringLiteral("keys/release.key"));
    QDir().mkpath(m_dir.filePath(QStringLiteral("keys")));
    if (generateSampleGame(m_games4, 4, error).size() != 4
        || !Morvaniel::ReleaseKeys::GenerateKeyFiles(m_key, m_key + QStringLiteral(".pub"), error)) {
        qWarning() << error;
        return QString();
    }
    PublishOptions options = cycleOptions(m_dir.filePath(QStringLiteral("cycle-at-once")));
    options.inputDir = m_games4;
    PublishReport report;
    if (!publish(options, report)) {
        qWarning() << report.error;
        return QString();
    }
    m_cycleLayout = options.outputDir;
    return m_cycleLayout;
}

namespace {

Morvaniel::ReleaseDocument releaseOf(const QString &out)
{
    Morvaniel::ReleaseDocument doc;
    QString error;
    Morvaniel::ReleaseDocument::parse(readFile(out + QStringLiteral("/game/release.json")), doc, error);
    return doc;
}

Morvaniel::BlockIndex indexOf(const QString &out, const QString &version)
{
    Morvaniel::BlockIndex index;
    QString error;
    Morvaniel::BlockIndex::parse(
        readFile(out + QStringLiteral("/game/") + Morvaniel::BlockIndex::indexPath(version)), index, error);
    return index;
}

int channelFiles(const QMap<QString, QByteArray> &tree)
{
    const QStringList keys = tree.keys();
    return int(
        std::count_if(keys.begin(), keys.end(), [](const QString &k) { return k.startsWith(QLatin1String("game/")); }));
}

// Versions 1.0.0.1 ... of a game of a few small files, each changed, one added and one gone per version.
bool writeTinyGame(const QString &root, int count)
{
    for (int v = 1; v <= count; ++v) {
        const QString dir = root + QStringLiteral("/1.0.0.%1/").arg(v);
        if (!writeFile(dir + QStringLiteral("game.exe"), QByteArray("binary ").repeated(200 + v))
            || !writeFile(dir + QStringLiteral("data/v%1.pak").arg(v), QByteArray::number(v).repeated(3000))
            || !writeFile(dir + QStringLiteral("data/common.pak"), QByteArray("common").repeated(5000)))
            return false;
    }
    return true;
}

// The documents a change rewrites; every other published file is immutable.
bool isRewritten(const QString &path)
{
    return path == QLatin1String("game/manifest.txt") || path.startsWith(QLatin1String("game/release.json"));
}

// What a reader of the layout may rely on at any moment: the guide names
// archives that are there with their MD5 and size, its newest version has its
// manifests and block index, every index names bundles that are there, and
// the signed release names files that are there as listed (the guide manifest
// itself excepted while it runs one step ahead of the release).
QString inconsistency(const QString &out, bool releaseCurrent)
{
    const QStringList guide = lines(out + QStringLiteral("/game/manifest.txt"));
    for (const QString &line : section(guide, QStringLiteral("--download_version--"))) {
        const QStringList f = line.split(QLatin1Char('|'));
        if (md5Of(readFile(out + QLatin1Char('/') + f.value(1))) != f.value(2))
            return QStringLiteral("guide: ") + line;
    }
    const QString last = section(guide, QStringLiteral("--last_version--")).value(0);
    for (const QString &doc : { QStringLiteral("manifest.txt"), QStringLiteral("repair.txt") })
        if (!QFileInfo::exists(out + QStringLiteral("/game/%1/%2").arg(last, doc)))
            return QStringLiteral("no %1 of %2").arg(doc, last);
    const Morvaniel::BlockIndex index = indexOf(out, last);
    if (index.files.isEmpty())
        return QStringLiteral("no block index of ") + last;
    for (const Morvaniel::IndexBundle &b : index.bundles)
        if (QFileInfo(out + QStringLiteral("/game/") + Morvaniel::BlockIndex::bundlePath(b.digest)).size() != b.size)
            return QStringLiteral("a bundle of %1 is missing").arg(last);
    const Morvaniel::ReleaseDocument doc = releaseOf(out);
    for (auto it = doc.files.cbegin(); it != doc.files.cend(); ++it) {
        if (!releaseCurrent && isRewritten(it.key()))
            continue;
        if (Morvaniel::Blake2b::fileHex(out + QLatin1Char('/') + it.key()) != it.value().blake2b)
            return QStringLiteral("release: ") + it.key();
    }
    return QString();
}

#ifdef Q_OS_UNIX
// nginx on a free loopback port in front of the S3 server's bucket; its address, or empty.
QString startProxy(QProcess &nginx, const QString &folder, const QString &s3Port)
{
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin") });
    QTcpServer probe;
    if (program.isEmpty() || !QDir().mkpath(folder) || !probe.listen(QHostAddress::LocalHost, 0))
        return QString();
    const QString port = QString::number(probe.serverPort());
    probe.close();
    const QByteArray user = geteuid() == 0 ? "user root;\n" : "";
    if (!writeFile(folder + QStringLiteral("/nginx.conf"),
            user + "daemon off;\npid " + folder.toUtf8() + "/pid;\nerror_log " + folder.toUtf8()
                + "/err.log;\nevents {}\nhttp {\n  access_log off;\n  server {\n    listen 127.0.0.1:" + port.toUtf8()
                + ";\n    location / { proxy_pass http://127.0.0.1:" + s3Port.toUtf8() + "/www/cdn/; }\n  }\n}\n"))
        return QString();
    nginx.start(
        program, { QStringLiteral("-c"), folder + QStringLiteral("/nginx.conf"), QStringLiteral("-p"), folder });
    for (int i = 0; i < 100 && nginx.state() != QProcess::NotRunning; ++i) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, quint16(port.toUInt()));
        if (s.waitForConnected(100))
            return QStringLiteral("http://127.0.0.1:") + port;
        QThread::msleep(50);
    }
    return QString();
}
#endif

} // namespace

void tst_Publisher::growByAdding()
{
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    const QStringList versions{ "1.0.0.1", "1.0.0.2", "1.0.0.3", "1.0.0.4" };
    QTemporaryDir dir;
    QVERIFY(copyTree(m_games4 + QStringLiteral("/1.0.0.1"), dir.filePath(QStringLiteral("first/1.0.0.1"))));
    const QString grown = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(grown);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    options.inputDir.clear();
    qint64 serial = releaseOf(grown).serial;
    for (const QString &v : versions.mid(1)) {
        const QMap<QString, QByteArray> before = treeContent(grown);
        options.addVersionDir = m_games4 + QLatin1Char('/') + v;
        // The older tree from a local copy once, else unpacked from the published archives.
        options.oldVersionsDir = v == QLatin1String("1.0.0.3") ? m_games4 : QString();
        QVERIFY2(publish(options, report), qPrintable(report.error));
        const QMap<QString, QByteArray> after = treeContent(grown);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(isRewritten(it.key()) || after.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(releaseOf(grown).serial, ++serial);
        QVERIFY(!QFileInfo::exists(grown + QStringLiteral("/.publish-work")));
    }

    // Equal to the layout published at once, the release's serial and expiry aside.
    const QMap<QString, QByteArray> a = treeContent(atOnce), b = treeContent(grown);
    auto outsideBlocks = [](const QMap<QString, QByteArray> &tree) {
        QStringList keys;
        for (const QString &k : tree.keys())
            if (!k.startsWith(QLatin1String("game/blocks/")) && !k.startsWith(QLatin1String("game/release.json")))
                keys << k;
        return keys;
    };
    QCOMPARE(outsideBlocks(b), outsideBlocks(a));
    for (const QString &k : outsideBlocks(a))
        QVERIFY2(a[k] == b[k], qPrintable(k));
    Morvaniel::ReleaseDocument docA = releaseOf(atOnce), docB = releaseOf(grown);
    QCOMPARE(docB.newestVersion, docA.newestVersion);
    QCOMPARE(docB.files.size(), channelFiles(b) - 2);

    // The block store keeps its published bundles, so the grown one places
    // blocks oldest version first; the same blocks, each stored once, in frames
    // of the same bytes.
    QMap<QString, quint32> blocksA, blocksB;
    for (const QString &v : versions) {
        const Morvaniel::BlockIndex ia = indexOf(atOnce, v), ib = indexOf(grown, v);
        QCOMPARE(ib.files.size(), ia.files.size());
        for (int i = 0; i < ia.files.size(); ++i) {
            QCOMPARE(ib.files[i].path, ia.files[i].path);
            QCOMPARE(ib.files[i].md5, ia.files[i].md5);
        }
        for (const Morvaniel::IndexBlock &x : ia.blocks)
            blocksA.insert(x.digest.hex(), x.packedSize);
        for (const Morvaniel::IndexBlock &x : ib.blocks)
            blocksB.insert(x.digest.hex(), x.packedSize);
    }
    QCOMPARE(blocksB, blocksA);
    auto bundleBytes = [](const QMap<QString, QByteArray> &tree) {
        qint64 n = 0;
        for (auto it = tree.cbegin(); it != tree.cend(); ++it)
            n += it.key().endsWith(QLatin1String(".bundle")) ? it.value().size() : 0;
        return n;
    };
    QCOMPARE(bundleBytes(b), bundleBytes(a));
}

void tst_Publisher::serialRules_data()
{
    QTest::addColumn<qlonglong>("published");
    QTest::addColumn<qlonglong>("serial"); // -1: none given
    QTest::addColumn<qlonglong>("validSeconds");
    QTest::addColumn<qlonglong>("expected"); // -1: refused
    QTest::addColumn<QString>("reason");
    const qlonglong max = qlonglong(1) << 53;
    QTest::newRow("published plus one") << 1000LL << -1LL << 86400LL << 1001LL << "";
    QTest::newRow("publishing clock far behind") << (max - 1) << -1LL << 86400LL << max << "";
    QTest::newRow("given above the published") << 1000LL << 5000LL << 86400LL << 5000LL << "";
    QTest::newRow("given equal to the published") << 1000LL << 1000LL << 86400LL << -1LL << "not above";
    QTest::newRow("given below the published") << 1000LL << 999LL << 86400LL << -1LL << "not above";
    QTest::newRow("given above 2^53") << 1000LL << (max + 1) << 86400LL << -1LL << "2^53";
    QTest::newRow("published at 2^53") << max << -1LL << 86400LL << -1LL << "2^53";
    QTest::newRow("expiry past 9999") << 1000LL << -1LL << (qlonglong(1) << 40) << -1LL << "9999";
}

void tst_Publisher::serialRules()
{
    QFETCH(qlonglong, published);
    QFETCH(qlonglong, serial);
    QFETCH(qlonglong, validSeconds);
    QFETCH(qlonglong, expected);
    QFETCH(QString, reason);
    QVERIFY(!cycleLayout().isEmpty());
    QTemporaryDir dir;
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("first")), 1));
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("next")), 2));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    options.defaultPairs = false;
    options.blocks = false;
    options.signing.serial = published;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    const QMap<QString, QByteArray> before = treeContent(www);

    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("next/1.0.0.2"));
    options.signing.serial = serial;
    options.signing.validSeconds = validSeconds;
    const bool ok = publish(options, report);
    if (expected < 0) {
        QVERIFY(!ok);
        QVERIFY2(report.error.contains(reason), qPrintable(report.error));
        // Refused before anything was written.
        QCOMPARE(treeContent(www), before);
        return;
    }
    QVERIFY2(ok, qPrintable(report.error));
    QCOMPARE(releaseOf(www).serial, expected);
    QCOMPARE(releaseOf(www).newestVersion, QStringLiteral("1.0.0.2"));

    // A channel published from scratch refuses the same limits.
    if (serial >= 0) {
        options.addVersionDir.clear();
        options.inputDir = dir.filePath(QStringLiteral("first"));
        options.outputDir = dir.filePath(QStringLiteral("fresh"));
        options.signing.serial = (qlonglong(1) << 53) + 1;
        QVERIFY(!publish(options, report));
        QVERIFY2(report.error.contains(QStringLiteral("2^53")), qPrintable(report.error));
    }
}

void tst_Publisher::safeOrder()
{
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    QTemporaryDir dir;
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("first")), 3));
    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("next")), 4));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));

    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("next/1.0.0.4"));
    options.keep = 2;
    QList<PublishStep> steps;
    QStringList problems;
    options.onStep = [&](PublishStep step) {
        steps << step;
        const bool newGuide = step >= PublishStep::Guide;
        const QString last = section(lines(www + QStringLiteral("/game/manifest.txt")), "--last_version--").value(0);
        if (last != (newGuide ? QStringLiteral("1.0.0.4") : QStringLiteral("1.0.0.3")))
            problems << QStringLiteral("step %1: guide names %2").arg(int(step)).arg(last);
        if (QFileInfo::exists(www + QStringLiteral("/game/1.0.0.4/manifest.txt"))
            != (step >= PublishStep::VersionDocuments))
            problems << QStringLiteral("step %1: the new file manifest came out of order").arg(int(step));
        if (QFileInfo::exists(www + QStringLiteral("/game/1.0.0.1")) != (step < PublishStep::Removed))
            problems << QStringLiteral("step %1: removal out of order").arg(int(step));
        const QString why = inconsistency(www, step != PublishStep::Guide);
        if (!why.isEmpty())
            problems << QStringLiteral("step %1: %2").arg(int(step)).arg(why);
    };
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(steps,
        QList<PublishStep>({ PublishStep::Files, PublishStep::VersionDocuments, PublishStep::Guide,
            PublishStep::Release, PublishStep::Removed }));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // The order an upload follows: immutable files, manifests, guide, release.
    QVERIFY(report.written.size() > 4);
    QCOMPARE(report.written.mid(report.written.size() - 3),
        QStringList({ "game/manifest.txt", "game/release.json", "game/release.json.sig" }));
    QVERIFY(report.written.indexOf(QStringLiteral("game/1.0.0.4/manifest.txt"))
        > report.written.indexOf(QStringLiteral("game/1.0.0.4/full_1.0.0.4.7z")));
}

void tst_Publisher::retention_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QStringList>("steps"); // the guide's lines afterwards
    const QStringList all{ "1.0.0.1->1.0.0.1", "1.0.0.2->1.0.0.2", "1.0.0.3->1.0.0.3", "1.0.0.4->1.0.0.4",
        "1.0.0.1->1.0.0.2", "1.0.0.2->1.0.0.3", "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 2") << 2 << false
                            << QStringList{ "1.0.0.3->1.0.0.3", "1.0.0.4->1.0.0.4", "1.0.0.2->1.0.0.3",
                                   "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 1") << 1 << false << QStringList{ "1.0.0.4->1.0.0.4", "1.0.0.3->1.0.0.4" };
    QTest::newRow("keep 2, dry run") << 2 << true << all;
    QTest::newRow("keep all") << 4 << false << all;
}

void tst_Publisher::retention()
{
    QFETCH(int, keep);
    QFETCH(bool, dryRun);
    QFETCH(QStringList, steps);
    const QString atOnce = cycleLayout();
    QVERIFY(!atOnce.isEmpty());
    QTemporaryDir dir;
    const QString www = dir.filePath(QStringLiteral("www"));
    QVERIFY(copyTree(atOnce, www));
    const QMap<QString, QByteArray> before = treeContent(www);
    PublishOptions options = cycleOptions(www);
    options.keep = keep;
    options.dryRun = dryRun;
    // Only printing needs no key, even for a signed channel.
    if (dryRun)
        options.signing.secretKeyFile.clear();
    PublishReport report;
    QStringList said;
    QVERIFY2(publish(options, report, [&](const QString &line) { said << line; }), qPrintable(report.error));

    QStringList guide;
    for (const QString &line : section(lines(www + QStringLiteral("/game/manifest.txt")), "--download_version--"))
        guide << line.section(QLatin1Char('|'), 0, 0);
    guide.removeDuplicates();
    QCOMPARE(guide, steps);
    const QMap<QString, QByteArray> after = treeContent(www);
    qint64 freed = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const bool removed = report.removed.contains(it.key());
        freed += removed ? it.value().size() : 0;
        if (!isRewritten(it.key()))
            QVERIFY2(after.contains(it.key()) == (dryRun || !removed), qPrintable(it.key()));
        if (removed)
            QVERIFY2(said.join(QLatin1Char('\n')).contains(it.key()), qPrintable(it.key()));
    }
    QCOMPARE(report.freedBytes, freed);
    QVERIFY(said.join(QLatin1Char('\n')).contains(QString::number(freed)) || keep == 4);
    if (dryRun || keep == 4) {
        QCOMPARE(after, before);
        QCOMPARE(report.removed.isEmpty(), keep == 4);
        return;
    }
    // Nothing the kept versions need went; the release lists only what stays.
    QVERIFY2(inconsistency(www, true).isEmpty(), qPrintable(inconsistency(www, true)));
    QCOMPARE(releaseOf(www).files.size(), channelFiles(after) - 2);
    QCOMPARE(releaseOf(www).serial, releaseOf(atOnce).serial + 1);
    for (const QString &v : steps)
        for (const Morvaniel::IndexBundle &b : indexOf(www, v.section(QLatin1String("->"), 1)).bundles)
            QVERIFY(after.contains(QStringLiteral("game/") + Morvaniel::BlockIndex::bundlePath(b.digest)));
    QVERIFY(!QFileInfo::exists(www + QStringLiteral("/game/1.0.0.1")));
    QVERIFY(report.removed.contains(QStringLiteral("game/blocks/1.0.0.1.index")));
}

void tst_Publisher::uploadToS3()
{
#ifndef Q_OS_UNIX
    QSKIP("rclone and the S3 test server are run on the Linux side only");
#else
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    if (rclone.isEmpty())
        QSKIP("rclone is not installed (./run.sh test installs it)");
    const QString s3rver = qEnvironmentVariable("MORVANIEL_S3RVER", QStringLiteral(MORVANIEL_S3RVER));
    if (!QFileInfo(s3rver).isExecutable())
        QSKIP("s3rver is not installed (./run.sh test installs it from the npm registry into build-tools/)");
    QVERIFY(!cycleLayout().isEmpty());
    // The server is plain HTTP on loopback; rclone's S3 client refuses to start
    // with a custom CA bundle in its environment.
    qunsetenv("AWS_CA_BUNDLE");
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("s3"))));
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(s3rver,
        { "-d", dir.filePath(QStringLiteral("s3")), "-a", "127.0.0.1", "-p", "0", "--configure-bucket", "www" });
    QByteArray said;
    QString port;
    QElapsedTimer clock;
    clock.start();
    static const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    while (port.isEmpty() && clock.elapsed() < 30000 && server.state() != QProcess::NotRunning) {
        server.waitForReadyRead(500);
        said += server.readAll();
        port = listening.match(QString::fromLocal8Bit(said)).captured(1);
    }
    QVERIFY2(!port.isEmpty(), said.constData());
    const QString destination = QStringLiteral(":s3,provider=Other,endpoint='http://127.0.0.1:%1',"
                                               "access_key_id=S3RVER,secret_access_key=S3RVER:www/cdn")
                                    .arg(port);
    int copies = 0;
    auto remote = [&] {
        const QString copy = dir.filePath(QStringLiteral("remote%1").arg(++copies));
        QProcess p;
        p.start(rclone, { "copy", destination, copy });
        return p.waitForFinished(60000) && p.exitCode() == 0 ? treeContent(copy) : QMap<QString, QByteArray>();
    };

    QVERIFY(writeTinyGame(dir.filePath(QStringLiteral("game")), 4));
    QVERIFY(copyTree(dir.filePath(QStringLiteral("game/1.0.0.1")), dir.filePath(QStringLiteral("first/1.0.0.1"))));
    QVERIFY(copyTree(dir.filePath(QStringLiteral("game/1.0.0.2")), dir.filePath(QStringLiteral("first/1.0.0.2"))));
    const QString www = dir.filePath(QStringLiteral("www"));
    PublishOptions options = cycleOptions(www);
    options.inputDir = dir.filePath(QStringLiteral("first"));
    options.uploadDestination = destination;
    PublishReport report;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));

    // A new version, and the oldest let go on the server too.
    options.inputDir.clear();
    options.addVersionDir = dir.filePath(QStringLiteral("game/1.0.0.3"));
    options.keep = 2;
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));
    QVERIFY(!remote().contains(QStringLiteral("game/1.0.0.1/full_1.0.0.1.7z")));

    // The link fails when the guide manifest's turn comes: the server keeps
    // serving the previous publication, signed and whole.
    const QString failing = dir.filePath(QStringLiteral("failing-rclone"));
    QVERIFY(writeFile(failing,
        "#!/bin/sh\nprev=\nfor a in \"$@\"; do\n  if [ \"$prev\" = --files-from-raw ] && grep -qx game/manifest.txt "
        "\"$a\"; then\n    echo 'connection reset' >&2; exit 1\n  fi\n  prev=$a\ndone\nexec rclone \"$@\"\n"));
    QVERIFY(QFile::setPermissions(failing, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QMap<QString, QByteArray> served = remote();
    options.addVersionDir = dir.filePath(QStringLiteral("game/1.0.0.4"));
    options.keep = 0;
    options.rclone = failing;
    QVERIFY(!publish(options, report));
    QVERIFY2(report.error.contains(QStringLiteral("connection reset")), qPrintable(report.error));
    const QMap<QString, QByteArray> afterFailure = remote();
    for (auto it = served.cbegin(); it != served.cend(); ++it)
        QVERIFY2(afterFailure.value(it.key()) == it.value(), qPrintable(it.key()));
    QVERIFY(afterFailure.contains(QStringLiteral("game/1.0.0.4/full_1.0.0.4.7z")));
    const QString why = inconsistency(dir.filePath(QStringLiteral("remote%1").arg(copies)), true);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    // Uploading the layout alone sends the rest.
    options.addVersionDir.clear();
    options.rclone.clear();
    QVERIFY2(publish(options, report), qPrintable(report.error));
    QCOMPARE(remote(), treeContent(www));

    // A host installs from the bucket through nginx in front of it, checking the signed release.
    QProcess proxy;
    const QString url = startProxy(proxy, dir.filePath(QStringLiteral("nginx")), port);
    if (url.isEmpty())
        QSKIP("nginx is not installed or did not start (./run.sh test installs nginx-light)");
    HostTest::CliFolder cli;
    QVERIFY(cli.create(dir.filePath(QStringLiteral("cli"))));
    QByteArray out, errors;
    const QString install = dir.filePath(QStringLiteral("install"));
    QCOMPARE(cli.run({ "update", "--server", url, "--dir", install, "--trust", m_key + QStringLiteral(".pub") }, &out,
                 120000, &errors),
        0);
    QCOMPARE(treeContent(install + QStringLiteral("/MorvanielGame")),
        treeContent(dir.filePath(QStringLiteral("game/1.0.0.4"))));
    proxy.terminate();
    proxy.waitForFinished(5000);
    server.kill();
    server.waitForFinished(5000);
#endif
}

QTEST_GUILESS_MAIN(tst_Publisher)
#include "tst_publisher.moc"
