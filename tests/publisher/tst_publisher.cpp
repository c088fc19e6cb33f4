#include "PatchBuilder.h"
#include "PatchPlan.h"
#include "PublishCommand.h"
#include "Publisher.h"
#include "SampleGame.h"

#include "tst_publisher.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Publisher;
using PublisherTest::lines;
using PublisherTest::section;
using TestSupport::md5Of;
using TestSupport::programPath;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

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
        { { "--keep", "1", out, "--info", dir.filePath(QStringLiteral("info.json")) }, 2 },
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

QTEST_GUILESS_MAIN(tst_Publisher)

// The class is declared in tst_publisher.h; its meta-object code is built here.
#include "moc_tst_publisher.cpp"
