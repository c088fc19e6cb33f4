// A file larger than zstd's 2 GiB window, patched in place byte for byte.
// The files are sparse with a few changed regions, so the test costs time
// and disk blocks for the output, not memory.

#include "../support/TestSupport.h"
#include "HPatch.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace TestSupport;

namespace {

constexpr qint64 MiB = 1 << 20;

bool writeAt(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    return f.seek(offset) && f.write(bytes) == bytes.size();
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    return f.open(QIODevice::ReadOnly) && hash.addData(&f) ? hash.result() : QByteArray();
}

} // namespace

class tst_HPatchLarge : public QObject
{
    Q_OBJECT

private slots:
    void patchBeyondWindow();
};

void tst_HPatchLarge::patchBeyondWindow()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (QStorageInfo(dir.path()).bytesAvailable() < 6 * 1024 * MiB)
        QSKIP("needs 6 GiB of free disk for the patched output");
    const QString oldPath = dir.filePath(QStringLiteral("big.pak"));
    const QString newPath = dir.filePath(QStringLiteral("big.next.pak"));
    const QString diff = dir.filePath(QStringLiteral("big.pak.patch"));

    // Regions on both sides of every segment border and past 2 GiB.
    QVERIFY(writeFile(oldPath, randomBytes(64 * 1024, 1)));
    QVERIFY(QFile::resize(oldPath, 2400 * MiB));
    quint32 seed = 10;
    for (qint64 at : { qint64(1), 511 * MiB, 700 * MiB, 1500 * MiB, 2100 * MiB, 2390 * MiB })
        QVERIFY(writeAt(oldPath, at, randomBytes(2 * MiB, seed++)));
    QVERIFY(QFile::copy(oldPath, newPath));
    for (qint64 at : { qint64(5) * MiB, 512 * MiB - 1000, 1600 * MiB, 2300 * MiB })
        QVERIFY(writeAt(newPath, at, randomBytes(MiB / 2, seed++)));
    // Grown: the new file reaches a segment the old file does not have.
    QVERIFY(QFile::resize(newPath, 2600 * MiB));
    QVERIFY(writeAt(newPath, 2599 * MiB, randomBytes(MiB, seed++)));

    const hpatch::Result made = hpatch::createPatch(QFile::encodeName(oldPath).toStdString(),
        QFile::encodeName(newPath).toStdString(), QFile::encodeName(diff).toStdString());
    QVERIFY2(made.ok(), made.message.c_str());
    QVERIFY(QFileInfo(diff).size() < 32 * MiB);

    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/hpatchz"),
        { oldPath, diff, oldPath, QStringLiteral("-f"), QStringLiteral("-s-1m"), QStringLiteral("-C-old-new-diff") });
    QVERIFY(tool.waitForFinished(600000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
    QCOMPARE(QFileInfo(oldPath).size(), 2600 * MiB);
    QCOMPARE(digest(oldPath), digest(newPath));
}

QTEST_GUILESS_MAIN(tst_HPatchLarge)
#include "tst_hpatch_large.moc"
