// Manifests written by an attacker who controls the download server: package
// paths and repair groups that are absolute, carry a drive letter, climb out
// with "..", or end in "", "." or "..". Whatever the planners make of them,
// every download must land as a plain file directly in the cache folder, and
// planning must never delete anything outside the install folder.
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "manifest/ManifestPathCheck.h"
#include "planning/PackageFiles.h"
#include "planning/RepairPlanner.h"
#include "planning/ShortestUpdatePath.h"
#include "planning/SolveGuideManifest.h"
#include "verify/VerifyCallbackInfo.h"

#include "../support/DataRows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Morvaniel;
using TestSupport::textRow;

namespace {

const QString Old = QStringLiteral("1.0.0.1");
const QString Newest = QStringLiteral("1.0.0.2");

// The server paths every test row is built from, with the file name the plan
// may use for it; an empty name means the package must be left out.
void addHostilePaths()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    textRow("absolute", "/etc/x.7z", "x.7z");
    textRow("absolute root only", "/", "");
    textRow("drive with slash", "C:/x.7z", "x.7z");
    textRow("drive with backslash", "C:\\x.7z", "");
    textRow("drive relative", "C:x.7z", "");
    textRow("drive in last section", "f/D:x.7z", "");
    textRow("stream", "f/a.7z:hidden", "");
    textRow("unc", "\\\\host\\share\\x.7z", "");
    textRow("climbs out", "../../x.7z", "x.7z");
    textRow("climbs out inside", "f/../../../x.7z", "x.7z");
    textRow("climbs with backslashes", "..\\..\\x.7z", "");
    textRow("name dot dot", "..", "");
    textRow("last section dot dot", "f/..", "");
    textRow("name dot", ".", "");
    textRow("last section dot", "f/.", "");
    textRow("empty path", "", "");
    textRow("empty last section", "f/", "");
    textRow("dots and blanks", "f/. .", "");
    textRow("three dots", "f/...", "");
    textRow("control character", "f/a\x01.7z", "");
}

// Every localPath names a plain file directly inside cache; returns the names.
QStringList checkedNames(const QVector<DownloadFile> &list, const QString &cache)
{
    QStringList names;
    const QString root = QDir::cleanPath(cache) + QLatin1Char('/');
    for (const DownloadFile &f : list) {
        const QString cleaned = QDir::cleanPath(f.localPath);
        if (!cleaned.startsWith(root) || QFileInfo(cleaned).path() != QDir::cleanPath(cache) || cleaned != f.localPath)
            return { QStringLiteral("<escaped: %1>").arg(f.localPath) };
        names << cleaned.mid(root.size());
    }
    names.sort();
    return names;
}

QStringList expectedNames(const QString &good, const QString &hostile)
{
    QStringList names{ good };
    if (!hostile.isEmpty() && hostile != good)
        names << hostile;
    names.sort();
    return names;
}

const char RestartChildFlag[] = "--restart-child";

// A host whose settings name the game and cache folders, with an unfinished
// update towards a version the server no longer offers: planning restarts from
// the full pack and clears both folders, unless the folder guard refuses.
int restartChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    GameUpdateContext ctx;
    ctx.setting.GamePath = QString::fromLocal8Bit(argv[2]);
    ctx.setting.CachePath = QString::fromLocal8Bit(argv[3]);
    ctx.setting.TargetGameVersion = QStringLiteral("1.0.0.9");
    SolveGuideManifest(QStringLiteral("%1->%1|f/good.7z|m|10\n--last_version--\n%1\n").arg(Newest), ctx);
    return ctx.planResult == 0 ? 0 : 3;
}

} // namespace

class tst_Hostile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void fullPackDownload_data() { addHostilePaths(); }
    void fullPackDownload();
    void patchStepDownload_data() { addHostilePaths(); }
    void patchStepDownload();
    void restartDeletesOnlyInstallFolders_data() { addHostilePaths(); }
    void restartDeletesOnlyInstallFolders();
    void repairDownload_data() { addHostilePaths(); }
    void repairDownload();
    void repairOfHostileFileNames();
    void restartKeepsProtectedFolders_data();
    void restartKeepsProtectedFolders();

private:
    void prepare(GameUpdateContext &ctx);
    // hostileFullPack: the newest full pack has the hostile package as well.
    QString guideText(const QString &path, bool hostileFullPack = true) const;

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_install;
    QString m_cache;
    QString m_game;
    QString m_outside;
};

void tst_Hostile::init()
{
    Global::Var::Host = QStringLiteral("http://127.0.0.1:8080");
    Global::Var::HostAndChannel = QStringLiteral("http://127.0.0.1:8080/ch");
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_install = m_root->filePath(QStringLiteral("install"));
    m_cache = m_install + QStringLiteral("/MorvanielCache");
    m_game = m_install + QStringLiteral("/Game");
    // A file beside the install folder and one in its parent's parent stand for everything else.
    m_outside = m_root->filePath(QStringLiteral("outside.txt"));
    QVERIFY(QDir().mkpath(m_cache) && QDir().mkpath(m_game));
    for (const QString &file : { m_outside, m_cache + QStringLiteral("/x.7z"), m_game + QStringLiteral("/x.pak") }) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
}

void tst_Hostile::prepare(GameUpdateContext &ctx)
{
    ctx.setting.InstallPath = m_install;
    ctx.setting.CachePath = m_cache;
    ctx.setting.GamePath = m_game;
}

// The newest version offers a good full pack and one at the hostile path; the
// only patch step from the old version also has the hostile path.
QString tst_Hostile::guideText(const QString &path, bool hostileFullPack) const
{
    return QStringLiteral("--download_version--\n"
                          "%1->%1|f/good.7z|m|10\n"
                          "%4"
                          "%2->%1|%3|m|1\n"
                          "--last_version--\n%1\n")
        .arg(Newest, Old, path, hostileFullPack ? QStringLiteral("%1->%1|%2|m|20\n").arg(Newest, path) : QString());
}

void tst_Hostile::fullPackDownload()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(IsSafePackageFileName(PackageFileNameOf(path)), !expected.isEmpty());

    // A full pack installs whole or not at all: with one package left out,
    // the newest version has no full pack to plan.
    GameUpdateContext ctx;
    prepare(ctx);
    SolveGuideManifest(guideText(path), ctx);
    QCOMPARE(ctx.planResult, expected.isEmpty() ? 7 : 0);
    QCOMPARE(checkedNames(ctx.downloadList, m_cache),
        expected.isEmpty() ? QStringList() : expectedNames(QStringLiteral("good.7z"), expected));
    QCOMPARE(ctx.totalDownloadSize, expected.isEmpty() ? qint64(0) : qint64(30));

    GameUpdateContext alone;
    prepare(alone);
    SolveGuideManifest(QStringLiteral("%1->%1|%2|m|20\n--last_version--\n%1\n").arg(Newest, path), alone);
    QCOMPARE(alone.planResult, expected.isEmpty() ? 7 : 0);
    QCOMPARE(checkedNames(alone.downloadList, m_cache), expected.isEmpty() ? QStringList() : QStringList{ expected });
    QVERIFY(QFile::exists(m_outside));
}

void tst_Hostile::patchStepDownload()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);

    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.CurrentGameVersion = Old;
    SolveGuideManifest(guideText(path, false), ctx);
    // A step that cannot be fetched sends the plan to the full pack.
    if (expected.isEmpty()) {
        QCOMPARE(ctx.planResult, 8);
        QCOMPARE(checkedNames(ctx.downloadList, m_cache), QStringList{ QStringLiteral("good.7z") });
        QVERIFY(ctx.nextVersion.isEmpty());
        QVERIFY(QFile::exists(m_outside));
        return;
    }
    QCOMPARE(ctx.planResult, 0);
    QCOMPARE(ctx.nextVersion, Newest);
    const QStringList names = checkedNames(ctx.downloadList, m_cache);
    QCOMPARE(names, QStringList{ expected });

    // Asked again for the step, as the update loop does after each patch.
    GetCurrentShortestDownloadFile(ctx, Old);
    QCOMPARE(checkedNames(ctx.downloadList, m_cache), names);
    QVERIFY(QFile::exists(m_outside));
}

// An unfinished update towards a version the server no longer offers restarts
// from the full packs and clears the cache and game folders: those two, nothing else.
void tst_Hostile::restartDeletesOnlyInstallFolders()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);

    GameUpdateContext ctx;
    prepare(ctx);
    ctx.setting.TargetGameVersion = QStringLiteral("1.0.0.9");
    SolveGuideManifest(guideText(path), ctx);
    // Without a whole full pack nothing is planned, and nothing deleted.
    const bool planned = !expected.isEmpty();
    QCOMPARE(checkedNames(ctx.downloadList, m_cache),
        planned ? expectedNames(QStringLiteral("good.7z"), expected) : QStringList());
    QCOMPARE(QFileInfo::exists(m_cache + QStringLiteral("/x.7z")), !planned);
    QCOMPARE(QFileInfo::exists(m_game), !planned);
    QVERIFY(QFile::exists(m_outside));
    QVERIFY(QFileInfo::exists(m_install));
}

void tst_Hostile::repairDownload()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    // The group ends at the line's first colon, so a drive letter cuts it short
    // and the file list after it never reaches the map.
    if (path.contains(QLatin1Char(':')))
        expected.clear();

    GameUpdateContext ctx;
    prepare(ctx);
    ctx.newestInfo.version = versionFromString(Newest);
    // The full packs as the guide planner records them, plus one whose name is
    // the raw hostile group, in case a host fills the list itself.
    for (const QString &name : { PackageFileNameOf(path), path }) {
        PackageInfo p;
        p.path = path;
        p.url = QStringLiteral("http://127.0.0.1:8080/") + path;
        p.fileName = name;
        p.size = 5;
        ctx.newestInfo.fullPacks.append(p);
        ctx.versionInfos[Old].fullPacks.append(p);
    }
    const QString repairText = QStringLiteral("%1:Data/x.pak|Data/y.pak\ncdn/good.7z:Bin/game.exe\n").arg(path);
    SolveRepairManifest(repairText, ctx);
    SolvePartRepairManifest(repairText, ctx, Old);

    VerifyCallbackInfo info;
    info.errorFiles = { QStringLiteral("Data/x.pak"), QStringLiteral("Data/y.pak") };
    GetRepairPartDownloadVec(ctx, info, Old);
    const QStringList names = checkedNames(ctx.downloadList, m_cache);
    QCOMPARE(names, expected.isEmpty() ? QStringList() : QStringList{ expected });

    GetRepairDownloadVec(ctx, info);
    QCOMPARE(checkedNames(ctx.downloadList, m_cache), names);
    QVERIFY(info.errorFiles.isEmpty());
    QVERIFY(QFile::exists(m_outside));
}

// The game-file side of a repair manifest names files the verifier reported; a
// hostile one only ever maps to an archive name, never to a local path.
void tst_Hostile::repairOfHostileFileNames()
{
    GameUpdateContext ctx;
    prepare(ctx);
    ctx.newestInfo.version = versionFromString(Newest);
    PackageInfo good;
    good.path = QStringLiteral("cdn/good.7z");
    good.fileName = QStringLiteral("good.7z");
    good.size = 5;
    ctx.newestInfo.fullPacks = { good };
    const QStringList files{ QStringLiteral("/etc/passwd"), QStringLiteral("C:/Windows/x.dll"),
        QStringLiteral("C:\\Windows\\x.dll"), QStringLiteral("../../x.pak"), QStringLiteral(".."), QStringLiteral("."),
        QString() };
    SolveRepairManifest(QStringLiteral("cdn/good.7z:") + files.join(QLatin1Char('|')) + QLatin1Char('\n'), ctx);

    VerifyCallbackInfo info;
    info.errorFiles = files.toVector();
    GetRepairDownloadVec(ctx, info);
    QCOMPARE(checkedNames(ctx.downloadList, m_cache), QStringList{ QStringLiteral("good.7z") });
    QVERIFY(QFile::exists(m_outside));
}

void tst_Hostile::restartKeepsProtectedFolders_data()
{
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("cache");
    // {app} is the child's own program folder, {root} the folder holding it,
    // {link} a link to {root}; "." is the child's working folder, {app}.
    textRow("game folder is the program's", "{app}", "{root}/cache");
    textRow("game folder is dot", ".", "{root}/cache");
    textRow("cache holds the program", "{root}/game", "{root}");
    textRow("game folder reached through a link", "{link}/app", "{root}/cache");
}

// Runs a copy of this test from a folder of its own, so that a guard that
// fails deletes only that copy.
void tst_Hostile::restartKeepsProtectedFolders()
{
    QFETCH(QString, game);
    QFETCH(QString, cache);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString app = root.filePath(QStringLiteral("app"));
    const QString program = app + QLatin1Char('/') + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QVERIFY(QDir().mkpath(app));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(QCoreApplication::applicationFilePath())));
    QFile keep(app + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("keep") == 4);
    keep.close();
    const QString link = root.filePath(QStringLiteral("link"));
    if (game.startsWith(QLatin1String("{link}"))) {
#ifdef Q_OS_WIN
        QSKIP("QFile::link makes a shortcut here, not a link the file system follows");
#endif
        QVERIFY(QFile::link(root.path(), link));
    }
    for (QString *folder : { &game, &cache })
        folder->replace(QLatin1String("{app}"), app)
            .replace(QLatin1String("{root}"), root.path())
            .replace(QLatin1String("{link}"), link);

    QProcess child;
    child.setWorkingDirectory(app);
    // Without a console Qt on Windows logs to the debugger, not to stderr.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(program, { QLatin1String(RestartChildFlag), game, cache });
    QVERIFY2(child.waitForFinished(60000), "the child did not end");
    const QString log = QString::fromLocal8Bit(child.readAllStandardError());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(log.right(2000)));
    QVERIFY2(QFileInfo::exists(app + QStringLiteral("/keep.txt")), qPrintable(log.right(2000)));
    QVERIFY(QFileInfo::exists(program));
    QVERIFY2(log.contains(QStringLiteral("refusing to delete")), qPrintable(log.right(2000)));
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], RestartChildFlag) == 0)
        return restartChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Hostile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_hostile.moc"
