#include "../support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::readFile;

namespace {

struct ProbeRun
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray err;
};

ProbeRun runProbe(const QString &dir, const QString &mode)
{
    QProcess p;
    p.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/logger_probe"));
    p.setArguments({ dir, mode });
    p.start();
    ProbeRun run;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitCode();
    run.status = p.exitStatus();
    run.err = p.readAllStandardError();
    return run;
}

// "MM-dd hh:mm:ss.zzz: " at the start of every entry.
const QString TimePattern = QStringLiteral("\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: ");

} // namespace

class tst_Logger : public QObject
{
    Q_OBJECT

private slots:
    void lineFormat_data();
    void lineFormat();
    void archivesPreviousLog();
    void silentWhileOff();
    void secondStartDoesNotDeadlock();
    void eightThreads();
    void fatalIsWrittenThenEnds();
};

void tst_Logger::lineFormat_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("expected"); // entries after the time stamp
    QTest::newRow("info") << "line" << QStringList{ "Debug/(0): \"[Tag]:hello 更新\" \n" };
    QTest::newRow("kinds") << "kinds"
                           << QStringList{ "Debug/(0): \"[W]:as debug\" \n", "Warning/a.cpp(12): windows path",
                                  "Info//src/b.cpp(7): posix path", "Info//src/a%1b.cpp(9): percent in the file name",
                                  "Critical/(0): critical" };
    QTest::newRow("installed twice") << "twice" << QStringList{ "Debug/(0): \"[Tag]:once\" \n" };
}

void tst_Logger::lineFormat()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    const ProbeRun run = runProbe(tmp.path(), mode);
    QCOMPARE(run.exitCode, 0);
    const QString log = QString::fromUtf8(readFile(tmp.filePath("log/launcher.log")));
    QStringList entries = log.split(QStringLiteral("\r\n"));
    QCOMPARE(entries.takeLast(), QString()); // every entry ends with CR LF
    QCOMPARE(entries.size(), expected.size());
    const QRegularExpression stamp(QLatin1Char('^') + TimePattern);
    for (int i = 0; i < entries.size(); ++i) {
        QVERIFY2(stamp.match(entries[i]).hasMatch(), qPrintable(entries[i]));
        QCOMPARE(entries[i].mid(20), expected[i]);
    }
    // The custom log gets a clean, existing folder.
    QVERIFY(QDir(tmp.filePath("ZRD64/CSLog")).exists());
}

void tst_Logger::archivesPreviousLog()
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath("log"));
    QDir().mkpath(tmp.filePath("ZRD64/CSLog"));
    QFile old(tmp.filePath("log/launcher.log"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("previous run\r\n");
    old.close();
    QFile custom(tmp.filePath("ZRD64/CSLog/customLog.txt"));
    QVERIFY(custom.open(QIODevice::WriteOnly));
    custom.close();

    QCOMPARE(runProbe(tmp.path(), QStringLiteral("line")).exitCode, 0);
    const QStringList archives = QDir(tmp.filePath("log")).entryList({ "log_*.log" });
    QCOMPARE(archives.size(), 1);
    QVERIFY2(
        QRegularExpression("^log_\\d{12}\\.log$").match(archives.first()).hasMatch(), qPrintable(archives.first()));
    QCOMPARE(readFile(tmp.filePath("log/") + archives.first()), QByteArray("previous run\r\n"));
    const QByteArray fresh = readFile(tmp.filePath("log/launcher.log"));
    QVERIFY2(fresh.endsWith("Debug/(0): \"[Tag]:hello 更新\" \n\r\n"), fresh.constData());
    QCOMPARE(fresh.count("\r\n"), 1);
    QVERIFY(!custom.exists());
}

void tst_Logger::silentWhileOff()
{
    QTemporaryDir tmp;
    const ProbeRun run = runProbe(tmp.path(), QStringLiteral("off"));
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY2(!run.err.contains("hello"), run.err.constData());
}

// From the second start on, preparing the custom-log folder raises an "exists"
// message inside the handler; it must not come back into the handler.
void tst_Logger::secondStartDoesNotDeadlock()
{
    QTemporaryDir tmp;
    for (int i = 0; i < 3; ++i) {
        const ProbeRun run = runProbe(tmp.path(), QStringLiteral("line"));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        if (i > 0)
            QVERIFY2(run.err.contains("exists"), run.err.constData());
    }
    QDir logDir(tmp.filePath("log"));
    QByteArray all;
    for (const QString &name : logDir.entryList(QDir::Files))
        all += readFile(logDir.filePath(name));
    QCOMPARE(all.count("[Tag]:hello"), 3);
    QVERIFY(!all.contains("exists"));
}

void tst_Logger::eightThreads()
{
    QTemporaryDir tmp;
    QCOMPARE(runProbe(tmp.path(), QStringLiteral("threads")).exitCode, 0);
    const QString log = QString::fromUtf8(readFile(tmp.filePath("log/launcher.log")));
    QStringList entries = log.split(QStringLiteral("\r\n"));
    QCOMPARE(entries.takeLast(), QString());
    QCOMPARE(entries.size(), 8000);
    const QRegularExpression shape(
        QLatin1Char('^') + TimePattern + QStringLiteral("Debug/\\(0\\): \"\\[T(\\d)\\]:line (\\d+)\" \n$"));
    QVector<int> next(8, 0);
    for (const QString &entry : qAsConst(entries)) {
        const QRegularExpressionMatch m = shape.match(entry);
        QVERIFY2(m.hasMatch(), qPrintable(entry));
        const int thread = m.captured(1).toInt();
        QCOMPARE(m.captured(2).toInt(), next[thread]); // each thread's lines in order, none lost
        ++next[thread];
    }
    QCOMPARE(next, QVector<int>(8, 1000));
}

void tst_Logger::fatalIsWrittenThenEnds()
{
    QTemporaryDir tmp;
    const ProbeRun run = runProbe(tmp.path(), QStringLiteral("fatal"));
    QVERIFY(run.status == QProcess::CrashExit || run.exitCode != 0);
    const QByteArray log = readFile(tmp.filePath("log/launcher.log"));
    // The text is the message itself, never a format pattern.
    QVERIFY2(log.endsWith("Fatal/(0): [Tag]:boom %s %n\r\n"), log.constData());
}

QTEST_GUILESS_MAIN(tst_Logger)
#include "tst_logger.moc"
