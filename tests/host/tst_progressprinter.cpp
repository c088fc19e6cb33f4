// The download line of the command-line host: the speed it shows.

#include "ProgressPrinter.h"

#include "download/DownloadCallbackInfo.h"

#include <QtTest>

class tst_ProgressPrinter : public QObject
{
    Q_OBJECT

private slots:
    void downloadLine_data();
    void downloadLine();
    void serverTextCannotDrawOnTheTerminal_data();
    void serverTextCannotDrawOnTheTerminal();
};

void tst_ProgressPrinter::downloadLine_data()
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

void tst_ProgressPrinter::downloadLine()
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

void tst_ProgressPrinter::serverTextCannotDrawOnTheTerminal_data()
{
    QTest::addColumn<QString>("news");
    QTest::addColumn<QString>("printed");
    // The line a server's news would overwrite with its own.
    QTest::newRow("erase line and return") << QStringLiteral("sale\x1b[2K\rsigned release verified")
                                           << QStringLiteral("news: sale[2Ksigned release verified");
    QTest::newRow("C1 control sequence introducer") << QStringLiteral("a\u009b31mb") << QStringLiteral("news: a31mb");
    QTest::newRow("new line of its own") << QStringLiteral("a\nerror: fake") << QStringLiteral("news: aerror: fake");
    QTest::newRow("tab and text kept") << QStringLiteral("Größe\t世界") << QStringLiteral("news: Größe\t世界");
}

void tst_ProgressPrinter::serverTextCannotDrawOnTheTerminal()
{
    QFETCH(QString, news);
    QFETCH(QString, printed);
    QString output;
    QTextStream stream(&output);
    ProgressPrinter printer(stream, false);
    printer.info(QStringLiteral("news: ") + news);
    QCOMPARE(output, printed + QLatin1Char('\n'));
}

QTEST_GUILESS_MAIN(tst_ProgressPrinter)
#include "tst_progressprinter.moc"
