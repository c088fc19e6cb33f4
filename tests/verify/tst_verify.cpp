#include "core/GameUpdateContext.h"
#include "util/Blake2b.h"
#include "util/DualDigest.h"
#include "verify/CheckCallbackInfo.h"
#include "verify/Checker.h"
#include "verify/CheckerThread.h"
#include "verify/VerifyThread.h"

#include "../support/DataRows.h"
#include "../support/ImmutableFile.h"
#include "../support/TestSupport.h"
#include "verify/Verifyer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Morvaniel;
using namespace TestSupport;

namespace QTest {
template <> char *toString(const QVector<float> &values)
{
    QStringList parts;
    for (float v : values)
        parts.append(QString::number(double(v)));
    return qstrdup(qPrintable(QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']')));
}
} // namespace QTest

namespace {

constexpr int FinishTimeoutMs = 60000;
const QString EmptyMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");

// What a worker reported, copied out of its callback. offThread counts reports
// that did not arrive on the worker object's own thread.
template <typename Info> struct Reports
{
    QVector<float> progress;
    QVector<Info> finals;
    int offThread = 0;
};

template <typename Worker, typename Info> void listenTo(Worker *worker, Reports<Info> &r)
{
    worker->RegistCallbackFunc([&r, worker](Info &info) {
        if (QThread::currentThread() != worker->thread())
            ++r.offThread;
        if (info.bComplete)
            r.finals.append(info);
        else
            r.progress.append(info.progress);
    });
}

// A run over one archive that should have the digest md5.
void singleArchive(GameUpdateContext &ctx, const QString &archive, const QString &md5 = EmptyMd5)
{
    ctx.verifySingle = true;
    ctx.verifyFileList = { archive };
    ctx.verifyMd5List = { md5 };
}

} // namespace

class tst_Verify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void archiveMode_data();
    void archiveMode();
    void dualDigestAgreesWithEachHashAlone_data();
    void dualDigestAgreesWithEachHashAlone();
    void archiveProgressWithinOneArchive();
    void manifestMode_data();
    void manifestMode();
    void manifestFailureCollection_data();
    void manifestFailureCollection();
    void pakFolderCleaning_data();
    void pakFolderCleaning();
    void startDuringRunIsRefused();
    void runWithoutCallbackStillDeletes();
    void startFromAReportWaitsForTheFinalOne();

    void checkerReports_data();
    void checkerReports();
    void checkerFindsImmutableFile();
    void checkerOnMissingFolder();
    void checkerSkipsLinksToFolders();

private:
    // Waits for the run's one final report; false (with a failed check) otherwise.
    template <typename Info> bool waitForFinal(Reports<Info> &r);
    // A verifier or checker run on m_ctx, to its one final report.
    bool verify(Reports<VerifyCallbackInfo> &r);
    bool check(Reports<CheckCallbackInfo> &r);
    GameUpdateContext m_ctx;
};

void tst_Verify::initTestCase()
{
    LogRecorder::install();
}

void tst_Verify::cleanupTestCase()
{
    LogRecorder::uninstall();
}

void tst_Verify::init()
{
    m_ctx = GameUpdateContext();
    LogRecorder::clear();
}

template <typename Info> bool tst_Verify::waitForFinal(Reports<Info> &r)
{
    [&] { QTRY_COMPARE_WITH_TIMEOUT(r.finals.size(), 1, FinishTimeoutMs); }();
    if (r.finals.size() != 1)
        return false;
    // A second final report would already be queued behind the first.
    QCoreApplication::processEvents();
    return r.finals.size() == 1 && r.offThread == 0;
}

bool tst_Verify::verify(Reports<VerifyCallbackInfo> &r)
{
    listenTo(Verifyer::GetInstance(), r);
    Verifyer::GetInstance()->StartVerify(m_ctx);
    return waitForFinal(r);
}

bool tst_Verify::check(Reports<CheckCallbackInfo> &r)
{
    listenTo(Checker::GetInstance(), r);
    Checker::GetInstance()->StartCheck(m_ctx);
    return waitForFinal(r);
}

void tst_Verify::archiveMode_data()
{
    // Each archive: its content, and which MD5 the list gives for it ("good",
    // "bad", "upper" for the right digest in capitals, "none" for no entry).
    QTest::addColumn<QStringList>("contents");
    QTest::addColumn<QStringList>("md5s");
    QTest::addColumn<QVector<float>>("progress");
    QTest::addColumn<bool>("bError");
    QTest::addColumn<QVector<bool>>("kept");

    row("two good archives", QStringList{ "first", "second" }, QStringList{ "good", "good" },
        QVector<float>{ 0.0f, 0.5f, 1.0f }, false, QVector<bool>{ true, true });
    row("second archive bad is deleted", QStringList{ "first", "second" }, QStringList{ "good", "bad" },
        QVector<float>{ 0.0f, 0.5f }, true, QVector<bool>{ true, false });
    row("first bad, second still verified", QStringList{ "first", "second" }, QStringList{ "bad", "good" },
        QVector<float>{ 0.0f, 0.5f }, true, QVector<bool>{ false, true });
    // A single archive also reports from within: its five bytes are one chunk.
    row("digest compared case-sensitively", QStringList{ "first" }, QStringList{ "upper" },
        QVector<float>{ 1.0f, 0.0f }, true, QVector<bool>{ false });
    row("position without md5 fails, file stays", QStringList{ "first", "second" }, QStringList{ "good", "none" },
        QVector<float>{ 0.0f, 0.5f }, true, QVector<bool>{ true, true });
    row("missing archive", QStringList{ "<missing>", "second" }, QStringList{ "good", "good" },
        QVector<float>{ 0.0f, 0.5f }, true, QVector<bool>{ false, true });
    row("empty archive", QStringList{ "" }, QStringList{ "good" }, QVector<float>{ 0.0f, 1.0f }, false,
        QVector<bool>{ true });
}

void tst_Verify::archiveMode()
{
    QFETCH(QStringList, contents);
    QFETCH(QStringList, md5s);
    QFETCH(QVector<float>, progress);
    QFETCH(bool, bError);
    QFETCH(QVector<bool>, kept);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int i = 0; i < contents.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("pack%1.7z").arg(i));
        m_ctx.verifyFileList.append(path);
        const QByteArray bytes = contents.at(i).toUtf8();
        if (contents.at(i) != QLatin1String("<missing>"))
            QVERIFY(writeFile(path, bytes));
        if (md5s.at(i) == QLatin1String("good"))
            m_ctx.verifyMd5List.append(md5Of(bytes));
        else if (md5s.at(i) == QLatin1String("upper"))
            m_ctx.verifyMd5List.append(md5Of(bytes).toUpper());
        else if (md5s.at(i) == QLatin1String("bad"))
            m_ctx.verifyMd5List.append(md5Of("something else"));
    }
    m_ctx.verifySingle = true;

    Reports<VerifyCallbackInfo> r;
    QVERIFY(verify(r));

    QCOMPARE(r.progress, progress);
    QCOMPARE(r.finals.first().bError, bError);
    QVERIFY(r.finals.first().bSingle);
    for (int i = 0; i < kept.size(); ++i)
        QVERIFY2(QFile::exists(m_ctx.verifyFileList.at(i)) == kept.at(i), qPrintable(m_ctx.verifyFileList.at(i)));
    QCOMPARE(LogRecorder::count(QStringLiteral("size is not equal Error !!!")) > 0,
        m_ctx.verifyMd5List.size() != contents.size());
}

// Signed archives are hashed twice in one pass, BLAKE2b on a helper thread
// over the caller's chunk: both digests must equal each hash taken alone,
// whatever the chunking (small chunks stay on the caller's thread).
void tst_Verify::dualDigestAgreesWithEachHashAlone_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::newRow("empty") << 0 << 4096;
    QTest::newRow("small chunks, one thread") << 100000 << 1000;
    QTest::newRow("large chunks, two threads") << (3 << 20) + 7 << 0x64000;
}

void tst_Verify::dualDigestAgreesWithEachHashAlone()
{
    QFETCH(int, size);
    QFETCH(int, chunk);
    const QByteArray data = TestSupport::randomBytes(size, quint32(size));
    DualDigest both(true);
    for (int at = 0; at < size; at += chunk)
        both.addData(data.constData() + at, qMin(chunk, size - at));
    QCOMPARE(both.md5(), QCryptographicHash::hash(data, QCryptographicHash::Md5));
    QCOMPARE(both.blake2b(), Blake2b::hash(data));
}

void tst_Verify::archiveProgressWithinOneArchive()
{
    QTemporaryDir dir;
    QByteArray bytes(10 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + (i >> 12));
    const QString path = dir.filePath(QStringLiteral("big.7z"));
    QVERIFY(writeFile(path, bytes));
    singleArchive(m_ctx, path, md5Of(bytes));

    Reports<VerifyCallbackInfo> r;
    QVERIFY(verify(r));

    QVERIFY2(r.progress.size() > 10, qPrintable(QString::number(r.progress.size())));
    const QVector<float> within = r.progress.mid(0, r.progress.size() - 2);
    float last = 0.0f;
    for (float p : within) {
        QVERIFY2(p - last > 0.01f, qPrintable(QStringLiteral("%1 after %2").arg(p).arg(last)));
        last = p;
    }
    QCOMPARE(within.last(), 1.0f);
    QCOMPARE(r.progress.mid(r.progress.size() - 2), (QVector<float>{ 0.0f, 1.0f }));
    QVERIFY(!r.finals.first().bError);
    QVERIFY(QFile::exists(path));
}

// Manifest entries are written as "path|md5|size" against these files on disk:
// "a.txt" = "alpha", "b.txt" = "bravo", "PM/Content/Paks/p.pak" = "pakdata".
void tst_Verify::manifestMode_data()
{
    QTest::addColumn<QString>("manifest");
    QTest::addColumn<bool>("md5Check");
    QTest::addColumn<bool>("md5CheckPaks");
    QTest::addColumn<QVector<float>>("progress");
    QTest::addColumn<bool>("bError");

    const QString a = QStringLiteral("a.txt|%1|5\n").arg(md5Of("alpha"));
    const QString b = QStringLiteral("b.txt|%1|5\n").arg(md5Of("bravo"));
    const QString pak = QStringLiteral("PM/Content/Paks/p.pak|%1|7\n").arg(md5Of("pakdata"));
    const QString pakWrongMd5 = QStringLiteral("PM/Content/Paks/p.pak|%1|7\n").arg(md5Of("pakdat!"));
    const QString bWrongMd5 = QStringLiteral("b.txt|%1|5\n").arg(md5Of("brav0"));
    const QVector<float> thirds{ 1.0f / 3, 2.0f / 3, 1.0f };

    row("sizes match", a + b + pak, false, false, thirds, false);
    row("CRLF line ends", QString(a + b + pak).replace("\n", "\r\n"), false, false, thirds, false);
    row("wrong size stops at first bad file", "PM/Content/Paks/p.pak|x|8\n" + a + b, false, false, QVector<float>{},
        true);
    // Key order puts upper case first: the pak, then a, then b.
    row("last file bad", a + "b.txt|x|4\n" + pak, false, false, QVector<float>{ 1.0f / 3, 2.0f / 3 }, true);
    row("md5 off: same size passes", a + bWrongMd5 + pak, false, false, thirds, false);
    row("md5 on: same size fails", a + bWrongMd5 + pak, true, false, QVector<float>{ 1.0f / 3, 2.0f / 3 }, true);
    row("md5 on leaves paks to size", a + b + pakWrongMd5, true, false, thirds, false);
    row("md5 of paks asked for", a + b + pakWrongMd5, true, true, QVector<float>{}, true);
    row("missing file with size 0", a + "gone.txt||0\n", false, false, QVector<float>{ 0.5f }, true);
    row("missing file with empty md5", a + "gone.txt||0\n", true, false, QVector<float>{ 0.5f }, true);
    row("path leaving the folder", QStringLiteral("../outside.txt|%1|7\n").arg(md5Of("outside")) + a, false, false,
        QVector<float>{}, true);
    row("absolute path", a + "/etc/hostname||0\n", false, false, QVector<float>{}, true);
    row("empty manifest", QString(), true, true, QVector<float>{}, false);
}

void tst_Verify::manifestMode()
{
    QFETCH(QString, manifest);
    QFETCH(bool, md5Check);
    QFETCH(bool, md5CheckPaks);
    QFETCH(QVector<float>, progress);
    QFETCH(bool, bError);

    QTemporaryDir root;
    const QString game = root.filePath(QStringLiteral("game"));
    QVERIFY(writeFile(game + "/a.txt", "alpha"));
    QVERIFY(writeFile(game + "/b.txt", "bravo"));
    QVERIFY(writeFile(game + "/PM/Content/Paks/p.pak", "pakdata"));
    QVERIFY(writeFile(root.filePath(QStringLiteral("outside.txt")), "outside"));
    m_ctx.verifyFolder = game;
    m_ctx.verifyManifestText = manifest;
    m_ctx.needMd5Check = md5Check;
    m_ctx.needMd5CheckPaksDir = md5CheckPaks;

    Reports<VerifyCallbackInfo> r;
    QVERIFY(verify(r));

    QCOMPARE(r.progress, progress);
    QCOMPARE(r.finals.first().bError, bError);
    QVERIFY(!r.finals.first().bSingle);
    QVERIFY(QFile::exists(game + "/PM/Content/Paks/p.pak"));
}

void tst_Verify::manifestFailureCollection_data()
{
    QTest::addColumn<int>("updateMode");
    row("updateMode 1", 1);
    row("updateMode 4", 4);
}

void tst_Verify::manifestFailureCollection()
{
    QFETCH(int, updateMode);

    QTemporaryDir root;
    const QString game = root.path();
    // Right sizes everywhere: only the MD5 that collection forces finds zeta and alpha.
    QVERIFY(writeFile(game + "/zeta.txt", "zeta!"));
    QVERIFY(writeFile(game + "/alpha.txt", "alph!"));
    QVERIFY(writeFile(game + "/Mid.txt", "mid"));
    QVERIFY(writeFile(game + "/PM/Content/Paks/extra.pak", "unlisted"));
    // Written out of order: failures come in the manifest's key order.
    m_ctx.verifyManifestText = QStringLiteral("zeta.txt|%1|5\nalpha.txt|%2|5\nMid.txt|%3|3\nmissing.txt|%4|4\n")
                                   .arg(md5Of("zeta?"), md5Of("alpha"), md5Of("mid"), md5Of("gone"));
    m_ctx.verifyFolder = game;
    m_ctx.updateMode = updateMode;

    Reports<VerifyCallbackInfo> r;
    QVERIFY(verify(r));
    QCOMPARE(r.progress, (QVector<float>{ 0.25f, 0.5f, 0.75f, 1.0f }));
    QVERIFY(r.finals.first().bError);
    const QVector<QString> expected{ "alpha.txt", "missing.txt", "zeta.txt" };
    QCOMPARE(r.finals.first().errorFiles, expected);
    QVERIFY2(QFile::exists(game + "/PM/Content/Paks/extra.pak"), "a failed check must not clean the pak folder");

    // A run without collection checks sizes only, stops at the missing file
    // and leaves the earlier list alone.
    m_ctx.updateMode = 0;
    Reports<VerifyCallbackInfo> second;
    QVERIFY(verify(second));
    QVERIFY(second.finals.first().bError);
    QCOMPARE(second.progress, (QVector<float>{ 0.25f, 0.5f }));
    QCOMPARE(second.finals.first().errorFiles, expected);
}

void tst_Verify::pakFolderCleaning_data()
{
    QTest::addColumn<QString>("folderSpelling");
    row("plain folder", "%1");
    row("trailing slash", "%1/");
    row("dot segment", "%1/./");
}

void tst_Verify::pakFolderCleaning()
{
    QFETCH(QString, folderSpelling);

    QTemporaryDir root;
    const QString game = root.path();
    const QString paks = game + "/PM/Content/Paks/";
    QVERIFY(writeFile(paks + "Data.pak", "listed"));
    QVERIFY(writeFile(paks + "Sub/Deep.pak", "deep"));
    // Twins that differ in letter case only exist where file names keep it.
    const bool twins = !QFile::exists(paks + "DATA.PAK");
    if (twins) {
        QVERIFY(writeFile(paks + "data.pak", "case twin"));
        QVERIFY(writeFile(paks + "SUB/deep.pak", "case twin in another folder"));
    }
    QVERIFY(writeFile(paks + "extra.pak", "unlisted"));
    QVERIFY(writeFile(paks + "old/stale.pak", "unlisted"));
    QVERIFY(writeFile(game + "/Binaries/unlisted.dll", "outside the pak folder"));
    m_ctx.verifyManifestText = QStringLiteral("PM/Content/Paks/Data.pak||6\nPM/Content/Paks/Sub/Deep.pak||4\n");
    m_ctx.verifyFolder = folderSpelling.arg(game);

    Reports<VerifyCallbackInfo> r;
    QVERIFY(verify(r));
    QVERIFY(!r.finals.first().bError);

    QStringList kept{ "Data.pak", "Sub/Deep.pak" };
    if (twins)
        kept << "data.pak"
             << "SUB/deep.pak";
    kept.sort();
    QCOMPARE(treeContent(paks).keys(), kept);
    QVERIFY(QFile::exists(game + "/Binaries/unlisted.dll"));
}

void tst_Verify::startDuringRunIsRefused()
{
#ifndef Q_OS_UNIX
    QSKIP("holds the run at a FIFO, a POSIX file type");
#else
    QTemporaryDir dir;
    // Opening a FIFO for reading blocks until a writer comes: the run is held
    // at its first archive for as long as the test wants.
    const QString fifo = dir.filePath(QStringLiteral("held.7z"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    singleArchive(m_ctx, fifo);

    Reports<VerifyCallbackInfo> r;
    listenTo(Verifyer::GetInstance(), r);
    Verifyer::GetInstance()->StartVerify(m_ctx);

    const QString bad = dir.filePath(QStringLiteral("bad.7z"));
    QVERIFY(writeFile(bad, "bad"));
    GameUpdateContext other;
    singleArchive(other, bad);
    Verifyer::GetInstance()->StartVerify(other);
    QVERIFY(LogRecorder::count(QStringLiteral("m_VerifyThread->isRunning")) > 0);

    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    QVERIFY(writer >= 0);
    ::close(writer);
    QVERIFY(waitForFinal(r));
    QCOMPARE(r.progress, (QVector<float>{ 0.0f, 1.0f }));
    QVERIFY(!r.finals.first().bError);
    QVERIFY2(QFile::exists(bad), "the refused run must not have touched its archive");
#endif
}

void tst_Verify::runWithoutCallbackStillDeletes()
{
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.7z"));
    QVERIFY(writeFile(bad, "bad"));
    singleArchive(m_ctx, bad);

    Verifyer::GetInstance()->RegistCallbackFunc(nullptr);
    auto *thread = Verifyer::GetInstance()->findChild<VerifyThread *>();
    QVERIFY(thread);
    QSignalSpy finished(thread, &VerifyThread::VerifyComplete);
    Verifyer::GetInstance()->StartVerify(m_ctx);
    QVERIFY(finished.wait(FinishTimeoutMs));
    QVERIFY(!QFile::exists(bad));
}

// A host that starts the next run from a report: refused until the final
// report of the running one went out, which describes that run alone.
void tst_Verify::startFromAReportWaitsForTheFinalOne()
{
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("a.7z"));
    QVERIFY(writeFile(archive, QByteArray()));
    singleArchive(m_ctx, archive);
    GameUpdateContext folderRun;
    folderRun.verifyFolder = dir.path();
    folderRun.verifyManifestText = QStringLiteral("missing.pak|m|1\n");
    folderRun.updateMode = 1;

    Verifyer *verifyer = Verifyer::GetInstance();
    QVector<VerifyCallbackInfo> finals;
    verifyer->RegistCallbackFunc([&](VerifyCallbackInfo &info) {
        if (info.bComplete)
            finals.append(info);
        if (finals.size() < 2)
            verifyer->StartVerify(folderRun);
    });
    verifyer->StartVerify(m_ctx);
    QTRY_COMPARE_WITH_TIMEOUT(finals.size(), 2, FinishTimeoutMs);
    QTest::qWait(100);
    verifyer->RegistCallbackFunc(nullptr);
    QCOMPARE(finals.size(), 2);
    QVERIFY(!finals[0].bError && finals[0].bSingle);
    QVERIFY(finals[1].bError && !finals[1].bSingle);
    QCOMPARE(finals[1].errorFiles, QVector<QString>{ QStringLiteral("missing.pak") });

    // The checker keeps its runs apart the same way.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("sub/b.bin")), "b"));
    m_ctx.checkFolder = dir.filePath(QStringLiteral("sub"));
    GameUpdateContext missing;
    missing.checkFolder = dir.filePath(QStringLiteral("none"));
    QVector<CheckCallbackInfo> checks;
    Checker::GetInstance()->RegistCallbackFunc([&](CheckCallbackInfo &info) {
        if (info.bComplete)
            checks.append(info);
        else
            Checker::GetInstance()->StartCheck(missing);
    });
    Checker::GetInstance()->StartCheck(m_ctx);
    QTRY_COMPARE_WITH_TIMEOUT(checks.size(), 1, FinishTimeoutMs);
    QTest::qWait(100);
    Checker::GetInstance()->RegistCallbackFunc(nullptr);
    QCOMPARE(checks.size(), 1);
}

void tst_Verify::checkerReports_data()
{
    // The child opens the file with this shell redirection and keeps it open.
    QTest::addColumn<QString>("redirection");
    QTest::addColumn<QVector<float>>("progress");
    row("four free files", QString(), QVector<float>{ 0.25f, 0.5f, 0.75f, 1.0f });
    row("third held for reading", "3<", QVector<float>{ 0.25f, 0.5f });
    row("third held for writing", "3>>", QVector<float>{ 0.25f, 0.5f });
}

void tst_Verify::checkerReports()
{
    QFETCH(QString, redirection);
    QFETCH(QVector<float>, progress);

    QTemporaryDir dir;
    for (const char *name : { "a.bin", "b.bin", "sub/c.bin", "sub/d.bin" })
        QVERIFY(writeFile(dir.filePath(QLatin1String(name)), name));
    QVERIFY(writeFile(dir.filePath(QStringLiteral(".hidden")), "not listed, not checked"));
    const QString held = QDir(dir.path()).absoluteFilePath(QStringLiteral("sub/c.bin"));

    QProcess holder;
#ifndef Q_OS_UNIX
    if (!redirection.isEmpty())
        QSKIP("the holder is a POSIX shell redirection");
#endif
    if (!redirection.isEmpty()) {
        holder.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"), QStringLiteral("exec %1\"$1\"; echo ready; exec sleep 60").arg(redirection),
                QStringLiteral("sh"), held });
        QVERIFY(holder.waitForStarted(10000));
        QVERIFY(holder.waitForReadyRead(10000));
    }

    m_ctx.checkFolder = dir.path();
    Reports<CheckCallbackInfo> r;
    const bool finished = check(r);
    if (holder.state() != QProcess::NotRunning) {
        holder.kill();
        holder.waitForFinished(10000);
    }
    QVERIFY(finished);

    QCOMPARE(r.progress, progress);
    QCOMPARE(r.finals.first().bError, !redirection.isEmpty());
    QCOMPARE(r.finals.first().errorPath, redirection.isEmpty() ? QString() : held);
}

void tst_Verify::checkerFindsImmutableFile()
{
    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked.bin"));
    QVERIFY(writeFile(locked, "locked"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("free.bin")), "free"));
    if (!TestSupport::setImmutable(locked, true))
        QSKIP("this file system or user cannot set the immutable attribute");

    m_ctx.checkFolder = dir.path();
    Reports<CheckCallbackInfo> r;
    const bool finished = check(r);
    QVERIFY(TestSupport::setImmutable(locked, false));
    QVERIFY(finished);
    QCOMPARE(r.progress, (QVector<float>{ 0.5f }));
    QVERIFY(r.finals.first().bError);
    QCOMPARE(r.finals.first().errorPath, QDir(dir.path()).absoluteFilePath(QStringLiteral("locked.bin")));
}

// Nothing to check: a clean final report and no progress.
void tst_Verify::checkerOnMissingFolder()
{
    QTemporaryDir dir;
    m_ctx.checkFolder = dir.filePath(QStringLiteral("no such folder"));
    Reports<CheckCallbackInfo> r;
    QVERIFY(check(r));
    QVERIFY(r.progress.isEmpty());
    QVERIFY(!r.finals.first().bError);
    QVERIFY(r.finals.first().errorPath.isEmpty());
}

// A link to a folder is listed like a file, yet nothing can hold it open.
void tst_Verify::checkerSkipsLinksToFolders()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("a.bin")), "a"));
    QVERIFY(QFile::link(elsewhere.path(), dir.filePath(QStringLiteral("linked"))));
    m_ctx.checkFolder = dir.path();
    Reports<CheckCallbackInfo> r;
    QVERIFY(check(r));
    QVERIFY2(!r.finals.first().bError, qPrintable(r.finals.first().errorPath));
}

QTEST_GUILESS_MAIN(tst_Verify)
#include "tst_verify.moc"
