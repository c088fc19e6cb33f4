// The patch stages with real files, the real hpatchz from the application
// folder and the registry, as a host drives them: the merge stage, the
// launcher's update stage and the Patcher's reports.

#include "../support/DataRows.h"
#include "../support/ImmutableFile.h"
#include "../support/PatchFiles.h"
#include "../support/TestSupport.h"
#include "core/GameUpdateContext.h"
#include "core/PatchComponent.h"
#include "patch/Patcher.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Morvaniel;
using namespace TestSupport;

class tst_Patch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void mergeStageTurnsVersionIntoNext();
    void mergeStageVariants_data();
    void mergeStageVariants();
    void mergeStageFileInUse();

    void updateStage_data();
    void updateStage();
    void updateStageNeverDeletesTheTarget_data();
    void updateStageNeverDeletesTheTarget();
    void quittingFromTheFinalCallbackEndsCleanly();
};

void tst_Patch::initTestCase()
{
    QVERIFY2(QFileInfo(programPath(QStringLiteral("hpatchz"))).isExecutable(), "hpatchz is not built");
}

namespace {

struct StageResult
{
    QVector<PatcherCallbackInfo> reports;
    int ends = 0;
};

// Runs one stage through the registry, as a host does, and collects every report.
bool runStage(GameUpdateContext &ctx, StageResult &result)
{
    auto component = GetPatchComponent();
    if (!component)
        return false;
    component->RegistCallbackFunc([&result](PatcherCallbackInfo &info) {
        result.reports.append(info);
        if (info.bFinished || info.bError)
            ++result.ends;
    });
    component->StartApplyPatch(ctx);
    const bool ended = QTest::qWaitFor([&result]() { return result.ends > 0; }, 120000);
    // A second end report would arrive through the same queue.
    QCoreApplication::processEvents();
    component->RegistCallbackFunc(nullptr);
    return ended;
}

// A version folder and the next one, and the patch folder between them,
// built as the publisher does.
struct VersionPair
{
    QString v1, v2, patchDir;
};

bool buildVersionPair(const QString &root, VersionPair &pair, bool withPatches = true)
{
    pair.v1 = root + QStringLiteral("/v1");
    pair.v2 = root + QStringLiteral("/v2");
    pair.patchDir = root + QStringLiteral("/patch");
    const QByteArray pak = randomBytes(600000, 11);
    const QByteArray exe = randomBytes(90000, 12);
    bool ok = writeFile(pair.v1 + QStringLiteral("/Paks/x/a.pak"), pak)
        && writeFile(pair.v1 + QStringLiteral("/Game.exe"), exe)
        && writeFile(pair.v1 + QStringLiteral("/same.txt"), "unchanged")
        && writeFile(pair.v1 + QStringLiteral("/old.dll"), "obsolete")
        && writeFile(pair.v1 + QStringLiteral("/Movies/intro.bik"), "old movie")
        && writeFile(pair.v1 + QStringLiteral("/Movies/outro.bik"), "old movie 2");
    ok = ok && writeFile(pair.v2 + QStringLiteral("/Paks/x/a.pak"), edited(pak, 13))
        && writeFile(pair.v2 + QStringLiteral("/Game.exe"), edited(exe, 14))
        && writeFile(pair.v2 + QStringLiteral("/same.txt"), "unchanged")
        && writeFile(pair.v2 + QStringLiteral("/Paks/b.pak"), randomBytes(5000, 15))
        && writeFile(pair.v2 + QStringLiteral("/Config/New.ini"), "[a]\nb=1\n");
    if (!ok)
        return false;
    QString manifest = QStringLiteral("--del_file--\nold.dll|x|8\nMovies|x|0\n--new_file--\n");
    for (const QString &path : { QStringLiteral("Paks/b.pak"), QStringLiteral("Config/New.ini") }) {
        const QByteArray bytes = readFile(pair.v2 + QLatin1Char('/') + path);
        if (!writeFile(pair.patchDir + QLatin1Char('/') + path, bytes))
            return false;
        manifest += QStringLiteral("%1|md5|%2\n").arg(path).arg(bytes.size());
    }
    manifest += QStringLiteral("--patch_file--\n");
    if (withPatches) {
        for (const QString &path : { QStringLiteral("Paks/x/a.pak"), QStringLiteral("Game.exe") }) {
            const QString diff = pair.patchDir + QLatin1Char('/') + path + QStringLiteral(".patch");
            if (!makePatch(pair.v1 + QLatin1Char('/') + path, pair.v2 + QLatin1Char('/') + path, diff))
                return false;
            manifest += QStringLiteral("%1.patch|md5|%2\n").arg(path).arg(QFileInfo(diff).size());
        }
    }
    return writeFile(pair.patchDir + QStringLiteral("/manifest.txt"), manifest.toUtf8());
}

GameUpdateContext mergeContext(const QString &root, const VersionPair &pair)
{
    GameUpdateContext ctx;
    ctx.bGameUpdate = true;
    ctx.patchDir = pair.patchDir;
    ctx.mergeTargetPath = pair.v1;
    ctx.mergeTempPath = root + QStringLiteral("/temp");
    return ctx;
}

} // namespace

// Patches, new files and deletions turn a version folder into the next one.
void tst_Patch::mergeStageTurnsVersionIntoNext()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair));
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QVERIFY(end.bFinished && !end.bError && !end.needMd5CheckPakDir);
    QCOMPARE(treeContent(pair.v1), treeContent(pair.v2));
    QVERIFY(QFileInfo(ctx.mergeTempPath).isDir());

    // Step-0 figures are weighted by patch size and reach the total.
    quint64 lastPatched = 0;
    quint64 total = 0;
    for (const PatcherCallbackInfo &r : result.reports) {
        if (r.status == MergeStep::Patching && !r.bFinished) {
            QVERIFY(r.percent >= lastPatched);
            lastPatched = r.percent;
            total = r.totalpercent;
        }
    }
    const quint64 patchBytes = QFileInfo(pair.patchDir + QStringLiteral("/Paks/x/a.pak.patch")).size()
        + QFileInfo(pair.patchDir + QStringLiteral("/Game.exe.patch")).size();
    QCOMPARE(total, patchBytes);
    QCOMPARE(lastPatched, patchBytes);
}

void tst_Patch::mergeStageVariants_data()
{
    QTest::addColumn<bool>("withPatches");
    QTest::addColumn<bool>("skip");
    QTest::addColumn<bool>("damageTarget");
    QTest::newRow("empty patch map still adds and deletes") << false << false << false;
    QTest::newRow("skip flag runs no tool") << true << true << false;
    QTest::newRow("patch for another file: flag, run goes on") << true << false << true;
}

void tst_Patch::mergeStageVariants()
{
    QFETCH(bool, withPatches);
    QFETCH(bool, skip);
    QFETCH(bool, damageTarget);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair, withPatches));
    const QString pak = pair.v1 + QStringLiteral("/Paks/x/a.pak");
    if (damageTarget)
        QVERIFY(writeFile(pak, "not the file the patch was made for"));
    const QByteArray pakBefore = readFile(pak);
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    ctx.skipPatchFiles = skip;
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QCOMPARE(end.needMd5CheckPakDir, damageTarget);
    bool patchProgress = false;
    for (const PatcherCallbackInfo &r : result.reports)
        patchProgress = patchProgress || (r.status == MergeStep::Patching && !r.bFinished && !r.bError);
    QCOMPARE(patchProgress, withPatches && !skip);
    // The patch that failed leaves its file alone; the others apply.
    QCOMPARE(readFile(pak),
        withPatches && !skip && !damageTarget ? readFile(pair.v2 + QStringLiteral("/Paks/x/a.pak")) : pakBefore);
    if (damageTarget)
        QCOMPARE(readFile(pair.v1 + QStringLiteral("/Game.exe")), readFile(pair.v2 + QStringLiteral("/Game.exe")));
    // New files and deletions happen in every variant.
    QCOMPARE(readFile(pair.v1 + QStringLiteral("/Paks/b.pak")), readFile(pair.v2 + QStringLiteral("/Paks/b.pak")));
    QCOMPARE(readFile(pair.v1 + QStringLiteral("/Config/New.ini")), QByteArray("[a]\nb=1\n"));
    QVERIFY(!QFileInfo::exists(pair.v1 + QStringLiteral("/old.dll")));
    QVERIFY(!QFileInfo::exists(pair.v1 + QStringLiteral("/Movies")));
}

// A new file that cannot be written ends the run with the in-use text; the
// deletions after it are skipped.
void tst_Patch::mergeStageFileInUse()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair, false));
    const QString locked = pair.v1 + QStringLiteral("/Paks/b.pak");
    QVERIFY(writeFile(locked, "in use"));
    ImmutableGuard guard(locked);
    if (!guard.ok())
        QSKIP("this file system or user cannot set the immutable attribute");
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    StageResult result;
    QVERIFY(runStage(ctx, result));
    QCOMPARE(result.ends, 1);
    QCOMPARE(result.reports.last().errorString,
        QStringLiteral("文件%1被占用中，无法修改或删除，请解除占用或者删除后再进行重试").arg(locked));
    QVERIFY(!result.reports.last().bFinished);
    QVERIFY(QFileInfo::exists(pair.v1 + QStringLiteral("/old.dll")));
}

namespace {

QString manifestText(const QMap<QString, QByteArray> &files)
{
    QString text;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        text += QStringLiteral("%1|md5|%2\r\n").arg(it.key()).arg(it.value().size());
    return text;
}

} // namespace

void tst_Patch::updateStage_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("installers replaced and deleted") << false;
    // Held by a running installer: neither deleted nor replaced, and no error.
    QTest::newRow("locked installers stay") << true;
}

// The launcher's own update: deletions, letter-case renames, the background
// video beside the playing one, the installers and the updater staged aside.
void tst_Patch::updateStage()
{
    QFETCH(bool, locked);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("Launcher"));
    const QString source = dir.filePath(QStringLiteral("UnZip/launcher_1.1"));
    const QMap<QString, QByteArray> oldFiles{
        { QStringLiteral("Launcher.exe"), "old exe" },
        { QStringLiteral("Readme.TXT"), "old readme" },
        { QStringLiteral("gone.dll"), "gone" },
        { QStringLiteral("bg.wmv"), "old video" },
        { QStringLiteral("redist/vc_redist.x64.exe"), "old installer" },
        { QStringLiteral("UpdateGUI/UpdateGUI.exe"), "old updater" },
    };
    const QMap<QString, QByteArray> newFiles{
        { QStringLiteral("Launcher.exe"), "new exe" },
        { QStringLiteral("readme.txt"), "new readme" },
        { QStringLiteral("bg.wmv"), "new video" },
        { QStringLiteral("redist/dxwebsetup.exe"), "new installer" },
        { QStringLiteral("UpdateGUI/UpdateGUI.exe"), "new updater" },
    };
    for (auto it = oldFiles.cbegin(); it != oldFiles.cend(); ++it)
        QVERIFY(writeFile(target + QLatin1Char('/') + it.key(), it.value()));
    for (auto it = newFiles.cbegin(); it != newFiles.cend(); ++it)
        QVERIFY(writeFile(source + QLatin1Char('/') + it.key(), it.value()));
    QVERIFY(writeFile(source + QStringLiteral("/UpdateGUI/lib/core.dll"), "updater lib"));
    QVERIFY(writeFile(target + QStringLiteral("/redist/dxwebsetup.exe"), "running installer"));
    std::unique_ptr<ImmutableGuard> lockOld, lockNew;
    if (locked) {
        lockOld = std::make_unique<ImmutableGuard>(target + QStringLiteral("/redist/vc_redist.x64.exe"));
        lockNew = std::make_unique<ImmutableGuard>(target + QStringLiteral("/redist/dxwebsetup.exe"));
        if (!lockOld->ok() || !lockNew->ok())
            QSKIP("this file system or user cannot set the immutable attribute");
    }

    GameUpdateContext ctx;
    ctx.bGameUpdate = false;
    ctx.updateTargetDir = target;
    ctx.updateSourceDir = source;
    ctx.oldFileManifestText = manifestText(oldFiles);
    ctx.newFileManifestText = manifestText(newFiles);
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QVERIFY(end.bFinished && !end.bError);
    // 4 manifest files outside the updater plus 2 staged updater files.
    QCOMPARE(end.percent, quint64(6));
    QCOMPARE(end.totalpercent, quint64(6));
    for (const PatcherCallbackInfo &r : result.reports)
        QCOMPARE(r.status, MergeStep::Copying);

    // The whole folder: the old-case readme and gone.dll are gone, the running video stays.
    QMap<QString, QByteArray> expected{ { "Launcher.exe", "new exe" }, { "readme.txt", "new readme" },
        { "bg.wmv", "old video" }, { "bg.wmv.copy", "new video" },
        { "redist/dxwebsetup.exe", locked ? "running installer" : "new installer" },
        { "UpdateGUI/UpdateGUI.exe", "old updater" }, { "UpdateGUITemp/UpdateGUI.exe", "new updater" },
        { "UpdateGUITemp/lib/core.dll", "updater lib" } };
    if (locked)
        expected.insert(QStringLiteral("redist/vc_redist.x64.exe"), "old installer");
    QCOMPARE(treeContent(target), expected);
    // The unpacked package is cleaned up with its parent folder.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("UnZip"))));
}

void tst_Patch::updateStageNeverDeletesTheTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("gone"); // what the stage removes after its work
    textRow("package in its own folder", "Launcher", "UnZip/src", "UnZip");
    textRow("package inside the target", "u1/launcher", "u1/launcher/download", "u1/launcher/download");
    textRow("package beside the target", "Games/Launcher", "Games/New", "Games/New");
    textRow("package is the target", "L", "L", "");
    // The default layout keeps the download cache in the program's folder: it
    // goes with the package, since none of the files placed lies in it.
    textRow("cache inside the target", "Launcher", "Launcher/MorvanielCache/UnZip", "Launcher/MorvanielCache");
}

// The unpacked package goes when the stage is done; the updated folder, its
// settings and whatever lies beside it stay.
void tst_Patch::updateStageNeverDeletesTheTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(QString, gone);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    target = dir.filePath(target);
    source = dir.filePath(source);
    QVERIFY(writeFile(target + QStringLiteral("/config.ini"), "[Setting]\n"));
    QVERIFY(writeFile(source + QStringLiteral("/Launcher.exe"), "new exe"));
    QVERIFY(writeFile(source + QStringLiteral("/UpdateGUI/UpdateGUI.exe"), "new updater"));
    QVERIFY(writeFile(QFileInfo(target).path() + QStringLiteral("/Other/save.dat"), "beside"));
    // The downloaded package beside its unpacked copy.
    if (source != target)
        QVERIFY(writeFile(QFileInfo(source).path() + QStringLiteral("/launcher_1.1.7z"), "package"));

    GameUpdateContext ctx;
    ctx.updateTargetDir = target;
    ctx.updateSourceDir = source;
    ctx.newFileManifestText = QStringLiteral("Launcher.exe|m|7\nUpdateGUI/UpdateGUI.exe|m|11\n");
    StageResult result;
    QVERIFY(runStage(ctx, result));
    QCOMPARE(result.ends, 1);
    QVERIFY2(!result.reports.last().bError, qPrintable(result.reports.last().errorString));

    const auto after = treeContent(target);
    QCOMPARE(after.value(QStringLiteral("config.ini")), QByteArray("[Setting]\n"));
    QCOMPARE(after.value(QStringLiteral("Launcher.exe")), QByteArray("new exe"));
    QCOMPARE(after.value(QStringLiteral("UpdateGUITemp/UpdateGUI.exe")), QByteArray("new updater"));
    QCOMPARE(readFile(QFileInfo(target).path() + QStringLiteral("/Other/save.dat")), QByteArray("beside"));
    if (!gone.isEmpty())
        QVERIFY(!QFileInfo::exists(dir.filePath(gone)));
}

namespace {

const char QuitChildFlag[] = "--quit-from-final-callback";

// A host that quits from the update stage's final callback, the natural end of
// a self-update: the Patcher goes with the application while its thread ends.
int quitFromFinalCallback(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[2]);
    writeFile(root + QStringLiteral("/UnZip/src/a.txt"), "new");
    GameUpdateContext ctx;
    ctx.updateTargetDir = root + QStringLiteral("/Launcher");
    ctx.updateSourceDir = root + QStringLiteral("/UnZip/src");
    ctx.newFileManifestText = QStringLiteral("a.txt|m|3\n");
    // The Patcher alone, without the registry: the network manager's own
    // thread would only add Qt-internal noise to a ThreadSanitizer run.
    Patcher::GetInstance()->RegistCallbackFunc([](PatcherCallbackInfo &info) {
        if (info.bFinished || info.bError)
            QCoreApplication::quit();
    });
    Patcher::GetInstance()->StartApplyPatch(ctx);
    return app.exec();
}

} // namespace

void tst_Patch::quittingFromTheFinalCallbackEndsCleanly()
{
#if defined(__SANITIZE_THREAD__)
    // The owner frees the thread object once QThread::wait() returned, and
    // that hand-over goes through Qt's futex wait, which the sanitizer cannot
    // see: every run would report the thread's last reads as races.
    QSKIP("QThread::wait() is invisible to ThreadSanitizer; the plain and AddressSanitizer runs cover this");
#endif
    for (int run = 0; run < 20; ++run) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { QLatin1String(QuitChildFlag), dir.path() });
        QVERIFY2(child.waitForFinished(60000), "the host did not end");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
            qPrintable(
                QStringLiteral("run %1: %2")
                    .arg(QString::number(run), QString::fromLocal8Bit(child.readAllStandardError().right(2000)))));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("Launcher/a.txt"))), QByteArray("new"));
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], QuitChildFlag) == 0)
        return quitFromFinalCallback(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Patch test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_patch.moc"
