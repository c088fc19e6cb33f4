// A full disk: a download and an extraction into a 1 MiB / 512 KiB tmpfs,
// mounted in a private mount namespace of a child process (unshare -m), so
// that nothing outside the test ever sees the mount.

#include "DownloadChild.h"
#include "FiveFiles.h"
#include "HttpServer.h"

#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "unzip/UnZipCallbackInfo.h"
#include "unzip/UnZipper.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

using namespace Morvaniel;
using namespace Reliability;

namespace {

constexpr const char *DiskFullEnv = "MORVANIEL_RELIABILITY_DISKFULL";
constexpr int MountFailed = 77;
constexpr quint32 Seed = 777;

// In the child, inside its own mount namespace: a small tmpfs over folder.
bool mountSmallDisk(const QByteArray &folder, const char *size)
{
    const QByteArray options = QByteArray("size=") + size;
    if (::mount("tmpfs", folder.constData(), "tmpfs", 0, options.constData()) == 0)
        return true;
    std::printf("mount=failed %s\n", std::strerror(errno));
    std::fflush(stdout);
    return false;
}

// Arguments: <mount point> <archive>. Extracts into <mount point>/Game.
int runExtractionChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    ctx->unzipFiles = { args.at(2) };
    ctx->unzipTargetDir = args.at(1) + QStringLiteral("/Game");
    ctx->updateMode = 0;
    int code = -1;
    QString error;
    UnZipper::GetInstance()->RegistCallbackFunc([&](UnZipCallbackInfo &info) {
        if (info.bComplete) {
            code = info.code;
            error = info.errStr;
            app.quit();
        }
    });
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    UnZipper::GetInstance()->StartUnZip(*ctx);
    app.exec();
    std::printf("code=%d\nerror=%s\n", code, error.toUtf8().constData());
    std::fflush(stdout);
    return code < 0 ? 1 : 0;
}

int runChild(int argc, char **argv)
{
    const QByteArray mode = qgetenv(DiskFullEnv);
    if (argc < 3)
        return 2;
    if (!mountSmallDisk(argv[1], mode == "extract" ? "512k" : "1m"))
        return MountFailed;
    if (mode == "extract")
        return runExtractionChild(argc, argv);
    return RunDownloadChild(argc, argv);
}

} // namespace

class tst_DiskFull : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void downloadEndsWithCode5();
    void extractionEndsWithTheArchiverCode();

private:
    // Runs this executable as a child in a private mount namespace; the
    // child's output, or a skip reason when the machine forbids the mount.
    QByteArray runIsolated(const QByteArray &mode, const QStringList &args, QString &skip);
    QString m_unshare;
};

void tst_DiskFull::initTestCase()
{
    m_unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
}

QByteArray tst_DiskFull::runIsolated(const QByteArray &mode, const QStringList &args, QString &skip)
{
    if (m_unshare.isEmpty()) {
        skip = QStringLiteral("no unshare(1) on this machine");
        return QByteArray();
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(DiskFullEnv), QString::fromLatin1(mode));
    child.setProcessEnvironment(env);
    QStringList unshare{ QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private") };
    // An ordinary user may mount inside a user namespace of its own, where it is root.
    if (::geteuid() != 0)
        unshare << QStringLiteral("--map-root-user");
    child.start(m_unshare, unshare + QStringList{ QCoreApplication::applicationFilePath() } + args);
    // The test's server lives on this thread: wait with the event loop running.
    if (!child.waitForStarted(10000)
        || !QTest::qWaitFor([&child] { return child.state() == QProcess::NotRunning; }, 150000)) {
        child.kill();
        child.waitForFinished(5000);
        return QByteArray("child did not end");
    }
    const QByteArray out = child.readAllStandardOutput();
    const QByteArray err = child.readAllStandardError();
    if (child.exitCode() == MountFailed) {
        skip = QStringLiteral("the machine forbids a tmpfs mount: ") + QString::fromUtf8(out.trimmed());
    } else if (child.exitStatus() == QProcess::NormalExit && out.isEmpty() && err.startsWith("unshare:")) {
        // unshare(1) itself failed: no mount namespace for this process.
        skip = QStringLiteral("the machine forbids a private mount namespace: ") + QString::fromUtf8(err.trimmed());
    }
    // Anything else (a crash, a sanitizer report) fails the test with the child's words.
    return out + err.right(4000);
}

void tst_DiskFull::downloadEndsWithCode5()
{
    const QVector<Package> packages = fivePackages(Seed); // 4.6 MiB for a 1 MiB disk
    HttpTest::HttpServer server;
    QVERIFY(server.listen());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The child mounts the small disk over the cache folder itself.
    const QString cache = dir.filePath(QStringLiteral("Cache"));
    QVERIFY(QDir().mkpath(cache));
    QStringList args{ cache, QString::number(Seed) };
    for (const Package &p : packages) {
        server.addFile(serverPath(p), p.bytes);
        args << server.url(serverPath(p));
    }

    QString skip;
    const QByteArray out = runIsolated("download", args, skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    QVERIFY2(out.contains("code=5\n"), out.constData());
    QVERIFY2(
        out.contains(QStringLiteral("error=磁盘空间不足，请清理磁盘后，再进行下载。\n").toUtf8()), out.constData());
    QVERIFY2(out.contains("files=sound"), out.constData());
    // The mount and its files ended with the child's namespace.
    QVERIFY(!QFileInfo::exists(cache + QLatin1Char('/') + packages.first().name));
}

void tst_DiskFull::extractionEndsWithTheArchiverCode()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("data.bin"));
    QVERIFY(TestSupport::writeFile(data, TestSupport::randomBytes(2 * 1024 * 1024, Seed)));
    const QString archive = dir.filePath(QStringLiteral("pack.7z"));
    QProcess sevenZip;
    sevenZip.start(QCoreApplication::applicationDirPath() + QStringLiteral("/7z"),
        { QStringLiteral("a"), QStringLiteral("-mx0"), archive, data });
    QVERIFY(sevenZip.waitForFinished(60000));
    QCOMPARE(sevenZip.exitCode(), 0);
    const QString mountPoint = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(mountPoint));

    QString skip;
    const QByteArray out = runIsolated("extract", { mountPoint, archive }, skip);
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    // 7-Zip ends a full disk with its fatal-error exit code 2.
    QVERIFY2(out.contains("code=2\n"), out.constData());
    QVERIFY2(out.contains("No space left on device"), out.constData());
    QVERIFY(!QFileInfo::exists(mountPoint + QStringLiteral("/Game")));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(DiskFullEnv))
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    tst_DiskFull test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_diskfull.moc"
