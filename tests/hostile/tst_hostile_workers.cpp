// Hostile manifest paths against the workers: the verifier's manifest mode and
// its pak-folder cleaning, the merge stage (all three sections) and the update
// stage (both manifests). A sentinel file outside the root must keep its bytes
// and its modification time; the root itself must not change.

#include "../support/TestSupport.h"

#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "patch/Patcher.h"
#include "patch/PatcherCallbackInfo.h"
#include "verify/VerifyCallbackInfo.h"
#include "verify/Verifyer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Morvaniel;
using namespace TestSupport;

namespace {

const QByteArray SentinelBytes = "the user's own file, outside every root";

// Every file and link below dir, with content (links: their target) and mtime.
QMap<QString, QString> tree(const QString &dir)
{
    QMap<QString, QString> out;
    QDirIterator it(
        dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString key = QDir(dir).relativeFilePath(path);
        if (info.isSymLink())
            out.insert(key, QStringLiteral("link:") + info.symLinkTarget());
        else if (info.isFile())
            out.insert(key,
                md5Of(readFile(path)) + QLatin1Char(' ')
                    + QString::number(info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch()));
        else
            out.insert(key, QStringLiteral("dir"));
    }
    return out;
}

// The outside world of one case: a sentinel beside the root and one in a
// folder of its own, both with an old modification time.
struct Outside
{
    QString sentinel; // <tmp>/sentinel.txt
    QString folder; // <tmp>/outside, holding sentinel.txt too
    QDateTime mtime = QDateTime::fromSecsSinceEpoch(1500000000);

    bool create(const QString &tmp)
    {
        sentinel = tmp + QStringLiteral("/sentinel.txt");
        folder = tmp + QStringLiteral("/outside");
        for (const QString &path : { sentinel, folder + QStringLiteral("/sentinel.txt") }) {
            if (!writeFile(path, SentinelBytes))
                return false;
            QFile f(path);
            if (!f.open(QIODevice::ReadWrite) || !f.setFileTime(mtime, QFileDevice::FileModificationTime))
                return false;
        }
        return true;
    }
    bool untouched() const
    {
        for (const QString &path : { sentinel, folder + QStringLiteral("/sentinel.txt") }) {
            const QFileInfo info(path);
            if (readFile(path) != SentinelBytes || info.fileTime(QFileDevice::FileModificationTime) != mtime)
                return false;
        }
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() == 1;
    }
};

// The hostile spellings of "the sentinel": climbing, absolute, drive letter,
// and climbing with Windows separators; or the root folder itself.
QString hostilePath(const QString &kind, const Outside &outside)
{
    if (kind == QLatin1String("dotdot"))
        return QStringLiteral("../sentinel.txt");
    if (kind == QLatin1String("absolute"))
        return outside.sentinel;
    if (kind == QLatin1String("drive"))
        return QStringLiteral("C:/sentinel.txt");
    if (kind == QLatin1String("the root itself"))
        return QStringLiteral("./");
    return QStringLiteral("..\\sentinel.txt");
}

struct PatchRun
{
    QVector<PatcherCallbackInfo> reports;
    int ends = 0;
};

bool runPatcher(GameUpdateContext &ctx, PatchRun &run)
{
    Patcher *patcher = Patcher::GetInstance();
    patcher->RegistCallbackFunc([&run](PatcherCallbackInfo &info) {
        run.reports.append(info);
        if (info.bFinished || info.bError)
            ++run.ends;
    });
    patcher->StartApplyPatch(ctx);
    const bool ended = QTest::qWaitFor([&run] { return run.ends > 0; }, 60000);
    QCoreApplication::processEvents();
    patcher->RegistCallbackFunc(nullptr);
    return ended;
}

struct VerifyRun
{
    QVector<VerifyCallbackInfo> finals;
};

bool runVerifier(GameUpdateContext &ctx, VerifyRun &run)
{
    Verifyer *verifyer = Verifyer::GetInstance();
    verifyer->RegistCallbackFunc([&run](VerifyCallbackInfo &info) {
        if (info.bComplete)
            run.finals.append(info);
    });
    verifyer->StartVerify(ctx);
    const bool ended = QTest::qWaitFor([&run] { return !run.finals.isEmpty(); }, 60000);
    QCoreApplication::processEvents();
    verifyer->RegistCallbackFunc(nullptr);
    return ended && run.finals.size() == 1;
}

void addKinds()
{
    QTest::addColumn<QString>("kind");
}

} // namespace

class tst_HostileWorkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { LogRecorder::install(); }
    void cleanupTestCase() { LogRecorder::uninstall(); }
    void init();

    void verifierManifestRefuses_data();
    void verifierManifestRefuses();
    void pakCleaningStaysInside_data();
    void pakCleaningStaysInside();
    void mergeStageRefuses_data();
    void mergeStageRefuses();
    void updateStageRefuses_data();
    void updateStageRefuses();

private:
    std::unique_ptr<QTemporaryDir> m_tmp; // fresh for every case
    Outside m_outside;
};

void tst_HostileWorkers::init()
{
    LogRecorder::clear();
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    QVERIFY(m_outside.create(m_tmp->path()));
}

void tst_HostileWorkers::verifierManifestRefuses_data()
{
    addKinds();
    for (const char *kind : { "dotdot", "absolute", "drive", "backslash dotdot" })
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// The hostile entry carries the sentinel's true MD5 and size: were it looked
// at, it would pass. It must fail, and the failed run must clean nothing.
void tst_HostileWorkers::verifierManifestRefuses()
{
    QFETCH(QString, kind);
    const QTemporaryDir &tmp = *m_tmp;
    const Outside &outside = m_outside;
    const QString game = tmp.filePath(QStringLiteral("game"));
    QVERIFY(writeFile(game + QStringLiteral("/a.txt"), "alpha"));
    QVERIFY(writeFile(game + QStringLiteral("/PM/Content/Paks/unlisted.pak"), "unlisted"));
    const QMap<QString, QString> before = tree(game);

    GameUpdateContext ctx;
    ctx.verifyFolder = game;
    ctx.needMd5Check = true;
    ctx.updateMode = 1; // collect failures: every entry is looked at
    const QString path = hostilePath(kind, outside);
    ctx.verifyManifestText = QStringLiteral("a.txt|%1|5\n%2|%3|%4\n")
                                 .arg(md5Of("alpha"), path, md5Of(SentinelBytes))
                                 .arg(SentinelBytes.size());
    VerifyRun run;
    QVERIFY(runVerifier(ctx, run));
    QVERIFY(run.finals.first().bError);
    QCOMPARE(run.finals.first().errorFiles, QVector<QString>{ path });
    QVERIFY(LogRecorder::count(QStringLiteral("path leaves the folder, refused")) >= 1);
    QCOMPARE(tree(game), before);
    QVERIFY(outside.untouched());
}

void tst_HostileWorkers::pakCleaningStaysInside_data()
{
    QTest::addColumn<QString>("link"); // what the pak folder holds besides the listed pak
    QTest::newRow("link to an outside folder") << "folder";
    QTest::newRow("link to an outside file") << "file";
    QTest::newRow("pak folder itself a link out") << "paks";
}

// Cleaning deletes unlisted files of the pak folder; a link there is removed
// as a link, never followed to what it points at.
void tst_HostileWorkers::pakCleaningStaysInside()
{
    QFETCH(QString, link);
    const QTemporaryDir &tmp = *m_tmp;
    const Outside &outside = m_outside;
    const QString game = tmp.filePath(QStringLiteral("game"));
    const QString paks = game + QStringLiteral("/PM/Content/Paks");
    QVERIFY(writeFile(game + QStringLiteral("/a.txt"), "alpha"));
    if (link == QLatin1String("paks")) {
        // The whole pak folder points outside: its "unlisted" files are the
        // user's, and a passing check must not delete them.
        QVERIFY(QDir().mkpath(game + QStringLiteral("/PM/Content")));
        QVERIFY(QFile::link(outside.folder, paks));
    } else {
        QVERIFY(writeFile(paks + QStringLiteral("/Data.pak"), "listed"));
        const QString target = link == QLatin1String("folder") ? outside.folder : outside.sentinel;
        QVERIFY(QFile::link(target, paks + QStringLiteral("/escape")));
    }

    GameUpdateContext ctx;
    ctx.verifyFolder = game;
    ctx.verifyManifestText = link == QLatin1String("paks")
        ? QStringLiteral("a.txt|%1|5\n").arg(md5Of("alpha"))
        : QStringLiteral("a.txt|%1|5\nPM/Content/Paks/Data.pak|%2|6\n").arg(md5Of("alpha"), md5Of("listed"));
    VerifyRun run;
    QVERIFY(runVerifier(ctx, run));
    QVERIFY(!run.finals.first().bError);
    QVERIFY(outside.untouched());
    if (link != QLatin1String("paks")) {
        QVERIFY(QFile::exists(paks + QStringLiteral("/Data.pak")));
        QVERIFY2(!QFileInfo(paks + QStringLiteral("/escape")).isSymLink(), "the unlisted link itself goes");
    }
}

void tst_HostileWorkers::mergeStageRefuses_data()
{
    QTest::addColumn<QString>("section");
    addKinds();
    for (const char *section : { "--patch_file--", "--new_file--", "--del_file--" }) {
        for (const char *kind : { "dotdot", "absolute", "drive", "backslash dotdot" })
            QTest::addRow("%s %s", section, kind) << QString::fromLatin1(section) << QString::fromLatin1(kind);
    }
    QTest::newRow("--del_file-- the root itself")
        << QStringLiteral("--del_file--") << QStringLiteral("the root itself");
}

// One hostile line refuses the whole manifest: nothing is patched, added or
// deleted, inside the root or outside it.
void tst_HostileWorkers::mergeStageRefuses()
{
    QFETCH(QString, section);
    QFETCH(QString, kind);
    const QTemporaryDir &tmp = *m_tmp;
    const Outside &outside = m_outside;
    const QString game = tmp.filePath(QStringLiteral("game"));
    const QString patchDir = tmp.filePath(QStringLiteral("work/patch"));
    QVERIFY(writeFile(game + QStringLiteral("/keep.txt"), "installed"));
    QVERIFY(writeFile(game + QStringLiteral("/old.dll"), "to delete"));
    QVERIFY(writeFile(patchDir + QStringLiteral("/new.txt"), "new file"));
    // What a climbing path in the patch folder would read.
    QVERIFY(writeFile(tmp.filePath(QStringLiteral("work/sentinel.txt")), "evil"));
    QVERIFY(writeFile(tmp.filePath(QStringLiteral("work/sentinel.txt.patch")), "evil patch"));
    const QString path = hostilePath(kind, outside);
    const QString hostile = section == QLatin1String("--patch_file--") ? path + QStringLiteral(".patch") : path;
    const QString manifest = QStringLiteral("--new_file--\nnew.txt|%1|8\n--del_file--\nold.dll|x|9\n%2\n%3|%4|%5\n")
                                 .arg(md5Of("new file"), section, hostile, md5Of(SentinelBytes))
                                 .arg(SentinelBytes.size());
    QVERIFY(writeFile(patchDir + QStringLiteral("/manifest.txt"), manifest.toUtf8()));
    const QMap<QString, QString> before = tree(game);

    GameUpdateContext ctx;
    ctx.bGameUpdate = true;
    ctx.patchDir = patchDir;
    ctx.mergeTargetPath = game;
    ctx.mergeTempPath = tmp.filePath(QStringLiteral("temp"));
    PatchRun run;
    QVERIFY(runPatcher(ctx, run));
    QCOMPARE(run.ends, 1);
    QVERIFY(run.reports.last().bError);
    QCOMPARE(run.reports.last().errorString, QStringLiteral("补丁清单包含非法路径：%1").arg(hostile));
    QCOMPARE(tree(game), before);
    QVERIFY(outside.untouched());
    QCOMPARE(readFile(tmp.filePath(QStringLiteral("work/sentinel.txt"))), QByteArray("evil"));
    QVERIFY(!QFileInfo::exists(ctx.mergeTempPath));
}

void tst_HostileWorkers::updateStageRefuses_data()
{
    QTest::addColumn<bool>("inOld");
    addKinds();
    for (bool inOld : { true, false }) {
        for (const char *kind : { "dotdot", "absolute", "drive", "backslash dotdot" })
            QTest::addRow("%s manifest %s", inOld ? "old" : "new", kind) << inOld << QString::fromLatin1(kind);
    }
}

// The launcher's own update: old files are deleted and new ones moved in by
// manifest; a hostile line in either refuses the run before any file moves.
void tst_HostileWorkers::updateStageRefuses()
{
    QFETCH(bool, inOld);
    QFETCH(QString, kind);
    const QTemporaryDir &tmp = *m_tmp;
    const Outside &outside = m_outside;
    const QString target = tmp.filePath(QStringLiteral("Launcher"));
    const QString source = tmp.filePath(QStringLiteral("UnZip/src"));
    QVERIFY(writeFile(target + QStringLiteral("/a.txt"), "old a"));
    QVERIFY(writeFile(source + QStringLiteral("/a.txt"), "new a"));
    QVERIFY(writeFile(tmp.filePath(QStringLiteral("UnZip/sentinel.txt")), "evil"));
    const QString path = hostilePath(kind, outside);
    const QString good = QStringLiteral("a.txt|%1|5\n").arg(md5Of("new a"));
    const QString bad = QStringLiteral("%1|%2|%3\n").arg(path, md5Of(SentinelBytes)).arg(SentinelBytes.size());
    GameUpdateContext ctx;
    ctx.bGameUpdate = false;
    ctx.updateTargetDir = target;
    ctx.updateSourceDir = source;
    ctx.oldFileManifestText = inOld ? good + bad : good;
    ctx.newFileManifestText = inOld ? good : good + bad;
    const QMap<QString, QString> before = tree(target);
    const QMap<QString, QString> sourceBefore = tree(tmp.filePath(QStringLiteral("UnZip")));

    PatchRun run;
    QVERIFY(runPatcher(ctx, run));
    QCOMPARE(run.ends, 1);
    QCOMPARE(run.reports.last().errorString, QStringLiteral("补丁清单包含非法路径：%1").arg(path));
    QCOMPARE(tree(target), before);
    QCOMPARE(tree(tmp.filePath(QStringLiteral("UnZip"))), sourceBefore);
    QVERIFY(outside.untouched());
}

QTEST_GUILESS_MAIN(tst_HostileWorkers)
#include "tst_hostile_workers.moc"
