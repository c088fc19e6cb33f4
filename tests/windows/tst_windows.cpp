// Windows file semantics met by the library: a file that another program holds
// open without sharing, letter case that names one file, and CJK and blank
// names passed to the external tools. Built for Windows only.
#include "HPatch.h"
#include "core/GameUpdateContext.h"
#include "patch/MergeThread.h"
#include "patch/Patcher.h"
#include "patch/PatcherCallbackInfo.h"
#include "unzip/ZipThread.h"
#include "verify/CheckCallbackInfo.h"
#include "verify/Checker.h"

#include "../support/TestSupport.h"
#include "../unzip/UnZipReports.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

using namespace Morvaniel;
using TestSupport::readFile;
using TestSupport::treeContent;
using TestSupport::writeFile;

namespace {

const char HoldFlag[] = "--hold";

// Child mode: opens the file as a game or a virus scanner does, sharing
// reading only, then says so through a marker file and waits to be killed.
int holdFile(const QString &path, const QString &marker)
{
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, FILE_SHARE_READ,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 3;
    writeFile(marker, "held");
    Sleep(120000);
    CloseHandle(h);
    return 0;
}

// A child process holding one file until the object goes.
class Holder
{
public:
    explicit Holder(const QString &path)
        : m_marker(path + QStringLiteral(".held"))
    {
        m_process.start(QCoreApplication::applicationFilePath(), { QLatin1String(HoldFlag), path, m_marker });
        m_ok = m_process.waitForStarted(30000) && QTest::qWaitFor([this] { return QFile::exists(m_marker); }, 30000);
    }
    ~Holder()
    {
        m_process.kill();
        m_process.waitForFinished(30000);
        QFile::remove(m_marker);
    }
    bool ok() const { return m_ok; }

private:
    QString m_marker;
    QProcess m_process;
    bool m_ok = false;
};

struct StageEnd
{
    QVector<PatcherCallbackInfo> finals;
};

bool runStage(GameUpdateContext &ctx, StageEnd &end)
{
    Patcher::GetInstance()->RegistCallbackFunc([&end](PatcherCallbackInfo &info) {
        if (info.bFinished || info.bError)
            end.finals.append(info);
    });
    Patcher::GetInstance()->StartApplyPatch(ctx);
    const bool ended = QTest::qWaitFor([&end] { return !end.finals.isEmpty(); }, 120000);
    QTest::qWait(50);
    Patcher::GetInstance()->RegistCallbackFunc(nullptr);
    return ended && end.finals.size() == 1;
}

GameUpdateContext mergeContext(const QString &patchDir, const QString &game, const QString &temp)
{
    GameUpdateContext ctx;
    ctx.bGameUpdate = true;
    ctx.patchDir = patchDir;
    ctx.mergeTargetPath = game;
    ctx.mergeTempPath = temp;
    return ctx;
}

bool makePatch(const QString &oldPath, const QString &newPath, const QString &diff)
{
    QDir().mkpath(QFileInfo(diff).absolutePath());
    return hpatch::createPatch(oldPath.toStdString(), newPath.toStdString(), diff.toStdString(), {}).ok();
}

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT

private slots:
    void heldFileStopsTheStagesAndStaysWhole();
    void letterCaseRenameLeavesOneFile();
    void cjkAndBlankNamesReachTheTools();
};

// The checker names the held file; the update and merge stages end with their
// in-use texts, and the held file keeps its bytes.
void tst_Windows::heldFileStopsTheStagesAndStaysWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game = dir.filePath(QStringLiteral("game"));
    const QString held = game + QStringLiteral("/Bin/Game.exe");
    QVERIFY(writeFile(held, "running game"));
    QVERIFY(writeFile(game + QStringLiteral("/Data/a.pak"), "free"));
    Holder holder(held);
    QVERIFY2(holder.ok(), "the holder did not open the file");

    QVector<CheckCallbackInfo> checks;
    Checker::GetInstance()->RegistCallbackFunc([&checks](CheckCallbackInfo &info) {
        if (info.bComplete)
            checks.append(info);
    });
    GameUpdateContext check;
    check.checkFolder = game;
    Checker::GetInstance()->StartCheck(check);
    QTRY_COMPARE_WITH_TIMEOUT(checks.size(), 1, 60000);
    Checker::GetInstance()->RegistCallbackFunc(nullptr);
    QVERIFY(checks.first().bError);
    QCOMPARE(QDir::cleanPath(checks.first().errorPath), QDir::cleanPath(held));

    // The launcher's own update stage replacing the held file.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("UnZip/src/Bin/Game.exe")), "new game"));
    GameUpdateContext update;
    update.updateTargetDir = game;
    update.updateSourceDir = dir.filePath(QStringLiteral("UnZip/src"));
    update.oldFileManifestText = QStringLiteral("Bin/Game.exe|m|12\n");
    update.newFileManifestText = QStringLiteral("Bin/Game.exe|m|8\n");
    StageEnd updated;
    QVERIFY(runStage(update, updated));
    QCOMPARE(updated.finals.first().errorString,
        QStringLiteral("文件%1被占用中，无法修改，请解除占用后再进行重试").arg(held));
    QCOMPARE(readFile(held), QByteArray("running game"));

    // The merge stage bringing the held file whole.
    const QString patchDir = dir.filePath(QStringLiteral("patch"));
    QVERIFY(writeFile(patchDir + QStringLiteral("/Bin/Game.exe"), "patched game"));
    QVERIFY(writeFile(patchDir + QStringLiteral("/manifest.txt"), "--new_file--\nBin/Game.exe|m|12\n"));
    GameUpdateContext merge = mergeContext(patchDir, game, dir.filePath(QStringLiteral("temp")));
    StageEnd merged;
    QVERIFY(runStage(merge, merged));
    QVERIFY(merged.finals.first().bError);
    QCOMPARE(merged.finals.first().errorString,
        QStringLiteral("文件%1被占用中，无法修改或删除，请解除占用或者删除后再进行重试").arg(held));
    QCOMPARE(readFile(held), QByteArray("running game"));
}

// A patch that renames Data/A.pak to Data/a.pak: on Windows one file, with the
// new spelling and the new bytes.
void tst_Windows::letterCaseRenameLeavesOneFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString game = dir.filePath(QStringLiteral("game"));
    const QString patchDir = dir.filePath(QStringLiteral("patch"));
    QVERIFY(writeFile(game + QStringLiteral("/Data/A.pak"), "old"));
    QVERIFY(writeFile(patchDir + QStringLiteral("/Data/a.pak"), "new"));
    QVERIFY(writeFile(
        patchDir + QStringLiteral("/manifest.txt"), "--del_file--\nData/A.pak|m|3\n--new_file--\nData/a.pak|m|3\n"));
    GameUpdateContext merge = mergeContext(patchDir, game, dir.filePath(QStringLiteral("temp")));
    StageEnd merged;
    QVERIFY(runStage(merge, merged));
    QVERIFY2(!merged.finals.first().bError, qPrintable(merged.finals.first().errorString));
    const QMap<QString, QByteArray> expected{ { QStringLiteral("Data/a.pak"), "new" } };
    QCOMPARE(treeContent(game), expected);
}

// Folder and file names with CJK characters and blanks on the command lines of
// 7z.exe (extraction) and hpatchz.exe (merge stage).
void tst_Windows::cjkAndBlankNamesReachTheTools()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString content = dir.filePath(QStringLiteral("内容 源/数据 a.pak"));
    const QByteArray oldBytes = TestSupport::randomBytes(200000, 1);
    QVERIFY(writeFile(content, oldBytes));
    const QString archive = dir.filePath(QStringLiteral("包 裹/完整 1.7z"));
    QDir().mkpath(QFileInfo(archive).path());
    QProcess pack;
    pack.setWorkingDirectory(QFileInfo(content).path());
    pack.start(ZipThread::archiverPath(), { QStringLiteral("a"), QStringLiteral("-bd"), archive, QStringLiteral(".") });
    QVERIFY(pack.waitForFinished(60000) && pack.exitCode() == 0);

    const QString game = dir.filePath(QStringLiteral("游戏 目录"));
    UnZipReports r;
    listenToUnZipper(r);
    GameUpdateContext unzip;
    unzip.unzipFiles = { archive };
    unzip.unzipTargetDir = game;
    UnZipper::GetInstance()->StartUnZip(unzip);
    QTRY_COMPARE_WITH_TIMEOUT(r.finals.size(), 1, 60000);
    UnZipper::GetInstance()->RegistCallbackFunc(nullptr);
    QCOMPARE(r.finals.first().code, 0);
    const QString installed = game + QStringLiteral("/数据 a.pak");
    QCOMPARE(readFile(installed), oldBytes);

    QByteArray newBytes = oldBytes;
    newBytes.replace(1000, 20, QByteArray(20, 'x'));
    const QString newFile = dir.filePath(QStringLiteral("新 版/数据 a.pak"));
    QVERIFY(writeFile(newFile, newBytes));
    const QString patchDir = dir.filePath(QStringLiteral("补丁 包"));
    QVERIFY(makePatch(installed, newFile, patchDir + QStringLiteral("/数据 a.pak.patch")));
    QVERIFY(writeFile(patchDir + QStringLiteral("/manifest.txt"),
        QStringLiteral("--patch_file--\n数据 a.pak.patch|m|%1\n")
            .arg(QFileInfo(patchDir + QStringLiteral("/数据 a.pak.patch")).size())
            .toUtf8()));
    GameUpdateContext merge = mergeContext(patchDir, game, dir.filePath(QStringLiteral("临时")));
    StageEnd merged;
    QVERIFY(runStage(merge, merged));
    QVERIFY2(!merged.finals.first().bError && !merged.finals.first().needMd5CheckPakDir,
        qPrintable(merged.finals.first().errorString));
    QCOMPARE(readFile(installed), newBytes);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], HoldFlag) == 0)
        return holdFile(app.arguments().at(2), app.arguments().at(3));
    tst_Windows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windows.moc"
