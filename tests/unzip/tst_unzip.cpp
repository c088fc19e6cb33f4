#include "core/GameUpdateContext.h"
#include "unzip/UnZipCallbackInfo.h"
#include "unzip/UnZipper.h"
#include "unzip/ZipThread.h"

#include "../support/TestSupport.h"
#include "UnZipReports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Morvaniel;
using namespace TestSupport;

namespace {

constexpr int FinishTimeoutMs = 120000;

} // namespace

// Extraction with the real 7-Zip that the build links beside the executables.
class tst_UnZip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void extraction_data();
    void extraction();
    void damagedArchives_data();
    void damagedArchives();

private:
    bool pack(const QString &archive, const QString &sourceDir, const QStringList &extraSwitches = {});
    bool runJob(UnZipReports &r, GameUpdateContext &ctx);

    QTemporaryDir m_dir;
    QString m_first, m_second, m_truncated, m_crcDamaged;
    QMap<QString, QByteArray> m_firstFiles, m_secondFiles;
    GameUpdateContext m_ctx;
};

bool tst_UnZip::pack(const QString &archive, const QString &sourceDir, const QStringList &extraSwitches)
{
    QProcess p;
    p.setWorkingDirectory(sourceDir);
    p.start(ZipThread::archiverPath(), QStringList{ "a", "-bd", "-y" } + extraSwitches + QStringList{ archive, "." });
    if (!p.waitForFinished(FinishTimeoutMs) || p.exitCode() != 0) {
        qWarning() << p.readAllStandardError();
        return false;
    }
    return true;
}

void tst_UnZip::initTestCase()
{
    QVERIFY2(QFileInfo(ZipThread::archiverPath()).isExecutable(), qPrintable(ZipThread::archiverPath()));
    QVERIFY(m_dir.isValid());

    const QString src1 = m_dir.filePath(QStringLiteral("src1"));
    QVERIFY(writeFile(src1 + "/Paks/text.pak", wordText(8 * 1024 * 1024, 7)));
    QVERIFY(writeFile(src1 + "/Config/small.ini", "[Section]\r\nkey=value\r\n"));
    QVERIFY(writeFile(src1 + QStringLiteral("/Movies/名字 with blanks.bin"), randomBytes(70000, 3)));
    QVERIFY(writeFile(src1 + "/empty.txt", ""));
    m_firstFiles = treeContent(src1);
    m_first = m_dir.filePath(QStringLiteral("first.7z"));
    QVERIFY(pack(m_first, src1, { "-mx1" }));

    const QString src2 = m_dir.filePath(QStringLiteral("src2"));
    QVERIFY(writeFile(src2 + "/Binaries/Win64/game.bin", randomBytes(300000, 11)));
    QVERIFY(writeFile(src2 + "/Config/small.ini", "[Section]\r\nkey=second\r\n"));
    m_secondFiles = treeContent(src2);
    m_second = m_dir.filePath(QStringLiteral("second.7z"));
    QVERIFY(pack(m_second, src2));

    m_truncated = m_dir.filePath(QStringLiteral("truncated.7z"));
    QVERIFY(writeFile(m_truncated, readFile(m_first).left(200000)));

    // A stored archive with one flipped byte in its data: 7-Zip reports "CRC Failed".
    const QString src3 = m_dir.filePath(QStringLiteral("src3"));
    QVERIFY(writeFile(src3 + "/noise.bin", randomBytes(100000, 5)));
    const QString stored = m_dir.filePath(QStringLiteral("stored.7z"));
    QVERIFY(pack(stored, src3, { "-mx0" }));
    QByteArray damaged = readFile(stored);
    damaged[1000] = char(damaged.at(1000) ^ 0xff);
    m_crcDamaged = m_dir.filePath(QStringLiteral("crc.7z"));
    QVERIFY(writeFile(m_crcDamaged, damaged));
}

void tst_UnZip::init()
{
    m_ctx = GameUpdateContext();
}

bool tst_UnZip::runJob(UnZipReports &r, GameUpdateContext &ctx)
{
    listenToUnZipper(r);
    UnZipper::GetInstance()->StartUnZip(ctx);
    [&] { QTRY_COMPARE_WITH_TIMEOUT(r.finals.size(), 1, FinishTimeoutMs); }();
    QCoreApplication::processEvents();
    return r.finals.size() == 1 && r.offThread == 0;
}

void tst_UnZip::extraction_data()
{
    QTest::addColumn<int>("updateMode");
    QTest::addColumn<bool>("staleKept");
    QTest::newRow("updateMode 0 empties the target") << 0 << false;
    QTest::newRow("updateMode 1 keeps it") << 1 << true;
    QTest::newRow("updateMode 4 keeps it") << 4 << true;
}

void tst_UnZip::extraction()
{
    QFETCH(int, updateMode);
    QFETCH(bool, staleKept);

    QTemporaryDir target;
    QVERIFY(writeFile(target.filePath(QStringLiteral("stale/old.txt")), "old"));
    m_ctx.unzipFiles = { m_first, m_second };
    m_ctx.unzipTargetDir = target.path();
    m_ctx.updateMode = updateMode;

    UnZipReports r;
    QVERIFY(runJob(r, m_ctx));
    const UnZipCallbackInfo &final = r.finals.first();
    QVERIFY2(final.code == 0, qPrintable(final.errStr));

    QVERIFY2(!r.progress.isEmpty(), "7-Zip's percentages arrive while it runs");
    for (const UnZipCallbackInfo &p : qAsConst(r.progress)) {
        QVERIFY(p.percent >= 0 && p.percent < 100);
        QVERIFY(p.curCount == 0 || p.curCount == 1);
        QCOMPARE(p.totalCount, 2);
    }

    QMap<QString, QByteArray> expected = m_firstFiles;
    for (auto it = m_secondFiles.cbegin(); it != m_secondFiles.cend(); ++it)
        expected.insert(it.key(), it.value()); // the second archive overwrites
    if (staleKept)
        expected.insert(QStringLiteral("stale/old.txt"), "old");
    const QMap<QString, QByteArray> actual = treeContent(target.path());
    QCOMPARE(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(actual.value(it.key()) == it.value(), qPrintable(it.key()));
}

void tst_UnZip::damagedArchives_data()
{
    QTest::addColumn<QString>("damaged");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("secondExtracted");
    QTest::newRow("truncated archive ends the job") << "truncated" << 2 << false;
    QTest::newRow("CRC failure in the last archive is tolerated") << "crc" << 0 << true;
}

void tst_UnZip::damagedArchives()
{
    QFETCH(QString, damaged);
    QFETCH(int, code);
    QFETCH(bool, secondExtracted);

    QTemporaryDir target;
    // The report carries the last archive's error text, so the CRC case comes last.
    if (damaged == QLatin1String("crc"))
        m_ctx.unzipFiles = { m_second, m_crcDamaged };
    else
        m_ctx.unzipFiles = { m_truncated, m_second };
    m_ctx.unzipTargetDir = target.path();

    UnZipReports r;
    QVERIFY(runJob(r, m_ctx));
    QCOMPARE(r.finals.first().code, code);
    QVERIFY2(!r.finals.first().errStr.isEmpty(), "the archiver's complaint is reported");
    QVERIFY(!r.finals.first().errStr.contains(QLatin1Char('\n')));
    if (damaged == QLatin1String("crc"))
        QVERIFY2(r.finals.first().errStr.contains(QStringLiteral("CRC Failed")), qPrintable(r.finals.first().errStr));
    QCOMPARE(QFile::exists(target.filePath(QStringLiteral("Binaries/Win64/game.bin"))), secondExtracted);
}

QTEST_GUILESS_MAIN(tst_UnZip)
#include "tst_unzip.moc"
