// The download line of the command-line host: the speed it shows.

#include "ProgressPrinter.h"

#include "download/DownloadCallbackInfo.h"

#include <QtTest>

class ProgressPrinterTests : public QObject
{
    Q_OBJECT

private slots:
    void downloadLine_data();
    void downloadLine();
};

void ProgressPrinterTests::downloadLine_data()
{
    QTest::addColumn<qint64>("downloaded");
    QTest::addColumn<qint64>("tickSpeed");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<qint64>("runBytes");
    QTest::addColumn<qint64>("runMs");
    QTest::addColumn<QString>("line");
    const qint64 kib = 1024;
    // Done before the library's first speed tick: the run's average.
    QTest::newRow("short run") << 1024 * kib << qint64(0) << true << 1024 * kib << qint64(250)
                               << QStringLiteral("  100.0%  1.00 MB / 1.00 MB  4.00 MB/S  0s left");
    // Only what this run fetched counts, not the partial file it resumed.
    QTest::newRow("short resumed run") << 1024 * kib << qint64(0) << true << 256 * kib << qint64(500)
                                       << QStringLiteral("  100.0%  1.00 MB / 1.00 MB  512.00 KB/S  0s left");
    QTest::newRow("measured speed") << 512 * kib << 2 * kib << false << 512 * kib << qint64(100)
                                    << QStringLiteral("   50.0%  512.00 KB / 1.00 MB  2.00 KB/S  0s left");
    // A run under way that measures nothing has stalled: the line says so.
    QTest::newRow("stalled") << 512 * kib << qint64(0) << false << 512 * kib << qint64(100)
                             << QStringLiteral("   50.0%  512.00 KB / 1.00 MB  0.00 B/S  0s left");
}

void ProgressPrinterTests::downloadLine()
{
    QFETCH(qint64, downloaded);
    QFETCH(qint64, tickSpeed);
    QFETCH(bool, finished);
    QFETCH(qint64, runBytes);
    QFETCH(qint64, runMs);
    QFETCH(QString, line);
    Morvaniel::DownloadCallbackInfo info;
    info.totalSize = 1024 * 1024;
    info.downloadedSize = downloaded;
    info.progress = float(double(downloaded) / double(info.totalSize));
    info.speed = tickSpeed;
    info.bFinished = finished;
    QCOMPARE(ProgressPrinter::downloadLine(info, runBytes, runMs), line);
}

QTEST_GUILESS_MAIN(ProgressPrinterTests)
#include "tst_progressprinter.moc"
