#include "util/Platform.h"
#include "util/QtUtil.h"

#include "../support/DataRows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <memory>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

namespace {

// Programs carry this suffix on the system the test runs on.
#ifdef Q_OS_WIN
const QString Exe = QStringLiteral(".exe");
#else
const QString Exe;
#endif
const char SleepFlag[] = "--sleep";

} // namespace

using TestSupport::row;
using TestSupport::textRow;

// A stand-in executable of our own under a chosen name and folder: a copy of
// sleep(1), or on Windows of this test program in its sleeping mode, so that
// the process table names exactly the path a test asks for.
class Sleeper
{
public:
    explicit Sleeper(const QString &path)
        : m_path(path)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
#ifdef Q_OS_WIN
        if (!QFile::copy(QCoreApplication::applicationFilePath(), path))
            return;
        m_process.start(path, { QLatin1String(SleepFlag) });
#else
        if (!QFile::copy(QStringLiteral("/bin/sleep"), path))
            return;
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        m_process.start(path, { QStringLiteral("60") });
#endif
        m_process.waitForStarted(10000);
    }
    ~Sleeper()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    quint32 pid() const
    {
        return static_cast<quint32>(m_process.processId());
    }
    bool running()
    {
        return m_process.state() == QProcess::Running && !m_process.waitForFinished(0);
    }
    // On Linux the exe link appears once exec() has replaced the forked child;
    // a Windows process runs its image from the start.
    bool execed() const
    {
#ifdef Q_OS_WIN
        return m_process.state() == QProcess::Running;
#else
        return QFileInfo(QStringLiteral("/proc/%1/exe").arg(m_process.processId())).symLinkTarget() == m_path;
#endif
    }
    QProcess &process()
    {
        return m_process;
    }

private:
    QString m_path;
    QProcess m_process;
};

class tst_Platform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void configFile_data();
    void configFile();
    void processByPath_data();
    void processByPath();
    void processFullPath();
    void killProcess_data();
    void killProcess();
    void pathUnderFolder_data();
    void pathUnderFolder();
    void devicePath_data();
    void devicePath();
    void fileNameKey();
    void dpiAwareness_data();
    void dpiAwareness();
    void storage_data();
    void storage();
    void storageOfTheTestVolume();
    void storageOnOwnVolume();
    void transformTime_data();
    void transformTime();
    void transformUnit_data();
    void transformUnit();
    void readAllText();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Sleeper> m_sleeper;
};

void tst_Platform::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sleeper = std::make_unique<Sleeper>(m_dir.filePath(QStringLiteral("Game Dir/Sleeper") + Exe));
    QTRY_VERIFY_WITH_TIMEOUT(m_sleeper->execed(), 10000);
}

void tst_Platform::configFile_data()
{
    QTest::addColumn<QByteArray>("profile"); // null: no file
    QTest::addColumn<QByteArray>("channel");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QStringList>("values"); // version, launcher, game, info, args

    const QByteArray profile = "x*1.0.2.3* launcher  one *game*info\n";
    const QStringList values{ "1.0.2.3", "launcher one", "game", "info" };
    row("five parts", profile, QByteArray("  -a   -b \n"), true, (values + QStringList{ "-a -b" }));
    row("four parts", QByteArray("x*1.0.2.3*l*g"), QByteArray("a"), false, QStringList());
    row("six parts", QByteArray("x*1*l*g*i*j"), QByteArray("a"), false, QStringList());
    row("empty parts kept", QByteArray("****"), QByteArray("a"), true, QStringList{ "", "", "", "", "a" });
    row("channel only star", profile, QByteArray("*"), true, (values + QStringList{ "" }));
    row("channel star and line break", profile, QByteArray("*\r\n"), true, (values + QStringList{ "" }));
    row("byte-order marks", QByteArray("\xEF\xBB\xBFx*1.0.2.3* launcher one*game*info"), QByteArray("\xEF\xBB\xBF*"),
        true, (values + QStringList{ "" }));
    row("utf-8 values", QByteArray("x*1*官方*游戏*信息"), QByteArray("频道"), true,
        QStringList{ "1", "官方", "游戏", "信息", "频道" });
    row("no profile", QByteArray(), QByteArray("a"), false, QStringList());
}

void tst_Platform::configFile()
{
    QFETCH(QByteArray, profile);
    QFETCH(QByteArray, channel);
    QFETCH(bool, ok);
    QFETCH(QStringList, values);

    QTemporaryDir dir;
    const QString profilePath = dir.filePath(QStringLiteral("profile"));
    const QString channelPath = dir.filePath(QStringLiteral("channel"));
    if (!profile.isNull()) {
        QFile file(profilePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(profile);
    }
    QFile file(channelPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(channel);
    file.close();

    QMap<QString, QString> data{ { QStringLiteral("GAME_CHANNEL"), QStringLiteral("before") },
        { QStringLiteral("OTHER"), QStringLiteral("kept") } };
    QCOMPARE(QtUtil::GetConfigFileData(profilePath, channelPath, data), ok);
    QCOMPARE(data.value(QStringLiteral("OTHER")), QStringLiteral("kept"));
    if (!ok) {
        QCOMPARE(data.size(), 2);
        QCOMPARE(data.value(QStringLiteral("GAME_CHANNEL")), QStringLiteral("before"));
        return;
    }
    QCOMPARE(data.size(), 6);
    QCOMPARE(data.value(QStringLiteral("LAUNCHER_VERSION")), values.at(0));
    QCOMPARE(data.value(QStringLiteral("LAUNCHER_CHANNEL")), values.at(1));
    QCOMPARE(data.value(QStringLiteral("GAME_CHANNEL")), values.at(2));
    QCOMPARE(data.value(QStringLiteral("INFO_CHANNEL")), values.at(3));
    QCOMPARE(data.value(QStringLiteral("CHANNELARGS")), values.at(4));
}

void tst_Platform::processByPath_data()
{
    QTest::addColumn<QString>("path"); // relative to the test folder
    QTest::addColumn<int>("letterCase"); // 0 as written, 1 upper, 2 lower (test folder included)
    QTest::addColumn<bool>("found");
    row("same path", QStringLiteral("Game Dir/Sleeper"), 0, true);
    row("upper case", QStringLiteral("Game Dir/Sleeper"), 1, true);
    row("lower case", QStringLiteral("Game Dir/Sleeper"), 2, true);
    row("other name", QStringLiteral("Game Dir/Sleeper2"), 0, false);
    row("folder only", QStringLiteral("Game Dir"), 0, false);
}

void tst_Platform::processByPath()
{
    QFETCH(QString, path);
    QFETCH(int, letterCase);
    QFETCH(bool, found);
    QString wanted = m_dir.filePath(path + (path.endsWith(QLatin1String("Dir")) ? QString() : Exe));
    if (letterCase == 1)
        wanted = wanted.toUpper();
    else if (letterCase == 2)
        wanted = wanted.toLower();
    QCOMPARE(QtUtil::GetPIDByPathExeName(wanted), found ? m_sleeper->pid() : 0u);
}

void tst_Platform::processFullPath()
{
    QString path = QStringLiteral("unchanged");
    QVERIFY(QtUtil::GetProcessFullPathAndCheck(m_sleeper->pid(), path));
    QVERIFY2(Platform::EqualsIgnoreCase(QDir::fromNativeSeparators(path).toStdString(),
                 m_dir.filePath(QStringLiteral("Game Dir/Sleeper") + Exe).toStdString()),
        qPrintable(path));

    // The highest id the kernel can hand out plus one: never a process.
    path = QStringLiteral("unchanged");
    QVERIFY(!QtUtil::GetProcessFullPathAndCheck(4194305u, path));
    QCOMPARE(path, QStringLiteral("unchanged"));
}

void tst_Platform::killProcess_data()
{
    QTest::addColumn<QString>("folder"); // relative to the row's folder; "" for none
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("killed"); // index into game, game2, other; -1 for none

    QTest::addColumn<bool>("relative"); // the folder given relative to the application folder

    row("folder", QStringLiteral("game"), QStringLiteral("runner"), 0, false);
    row("folder with slash", QStringLiteral("game/"), QStringLiteral("runner"), 0, false);
    row("case ignored", QStringLiteral("GAME"), QStringLiteral("RUNNER"), 0, false);
    row("prefix of another folder", QStringLiteral("game2"), QStringLiteral("runner"), 1, false);
    row("other name", QStringLiteral("game"), QStringLiteral("runner.bak"), -1, false);
    row("no such folder", QStringLiteral("gam"), QStringLiteral("runner"), -1, false);
    row("relative to the program's folder", QStringLiteral("game"), QStringLiteral("runner"), 0, true);
}

void tst_Platform::killProcess()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(int, killed);
    QFETCH(bool, relative);

    const QString appDir = QCoreApplication::applicationDirPath();
    QTemporaryDir dir(
        relative ? appDir + QStringLiteral("/kill-XXXXXX") : QDir::tempPath() + QStringLiteral("/kill-XXXXXX"));
    QVERIFY(dir.isValid());
    const QStringList folders{ QStringLiteral("game"), QStringLiteral("game2"), QStringLiteral("other") };
    std::vector<std::unique_ptr<Sleeper>> children;
    for (const QString &sub : folders)
        children.push_back(std::make_unique<Sleeper>(dir.filePath(sub + QStringLiteral("/runner") + Exe)));
    for (const auto &child : children)
        QTRY_VERIFY_WITH_TIMEOUT(child->execed(), 10000);

    if (killed >= 0)
        QTest::ignoreMessage(QtInfoMsg, qPrintable(QStringLiteral("kill process %1").arg(children[killed]->pid())));
    QtUtil::KillProcess((relative ? QDir(appDir).relativeFilePath(dir.path()) : dir.path()) + QLatin1Char('/') + folder,
        name == QLatin1String("runner.bak") ? name : name + Exe);

    for (int i = 0; i < 3; ++i) {
        if (i == killed) {
            QVERIFY2(children[i]->process().waitForFinished(10000), "the matching process still runs");
#ifdef Q_OS_WIN // TerminateProcess with exit code 0
            QCOMPARE(children[i]->process().exitCode(), 0);
#else
            QCOMPARE(children[i]->process().exitStatus(), QProcess::CrashExit);
#endif
        } else {
            QVERIFY2(children[i]->running(), qPrintable(folders[i] + " was killed"));
        }
    }
}

void tst_Platform::pathUnderFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("under");
    row("direct child", "C:/Games/a.exe", "C:/Games", true);
    row("deeper", "C:/Games/bin/a.exe", "c:/games/", true);
    row("backslash folder", "C:/Games/a.exe", "C:\\Games\\", true);
    row("drive root", "C:/Games/a.exe", "C:/", true);
    row("posix root", "/usr/bin/a", "/", true);
    row("sibling with longer name", "C:/Games2/a.exe", "C:/Games", false);
    row("the folder itself", "C:/Games", "C:/Games", false);
    row("folder in the middle", "D:/backup/C:/Games/a.exe", "C:/Games", false);
    row("empty folder", "C:/Games/a.exe", "", false);
}

void tst_Platform::pathUnderFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(bool, under);
    QCOMPARE(Platform::IsPathUnderFolder(path.toStdString(), folder.toStdString()), under);
}

void tst_Platform::devicePath_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("expected");
    textRow("first volume", "\\Device\\HarddiskVolume1\\Games\\a.exe", "C:\\Games\\a.exe");
    textRow("case ignored", "\\DEVICE\\harddiskvolume2\\a.exe", "D:\\a.exe");
    textRow("longer volume number", "\\Device\\HarddiskVolume10\\a.exe", "E:\\a.exe");
    textRow("volume itself", "\\Device\\HarddiskVolume2", "D:");
    textRow("network path", "\\Device\\Mup\\server\\a.exe", "");
}

void tst_Platform::devicePath()
{
    QFETCH(QString, device);
    QFETCH(QString, expected);
    // System order, with the shorter name listed before the one it prefixes.
    const std::vector<Platform::DosDrive> drives{ { "C:", "\\Device\\HarddiskVolume1" },
        { "D:", "\\Device\\HarddiskVolume2" }, { "E:", "\\Device\\HarddiskVolume10" } };
    QCOMPARE(QString::fromStdString(Platform::DevicePathToDrivePath(device.toStdString(), drives)), expected);
}

// Two spellings of one file, letters beyond ASCII included, share a key
// where file names ignore case, and stay apart where they keep it.
void tst_Platform::fileNameKey()
{
    const std::string key = Platform::FileNameKey("Cache/Full_1.7z \xc3\xa4");
    const std::string other = Platform::FileNameKey("cache/FULL_1.7Z \xc3\x84");
#ifdef Q_OS_WIN
    QCOMPARE(QString::fromStdString(key), QString::fromStdString(other));
#else
    QCOMPARE(QString::fromStdString(key), QStringLiteral("Cache/Full_1.7z \u00e4"));
    QVERIFY(key != other);
#endif
}

namespace {
QStringList g_dpiCalls;
void recordContext(std::intptr_t context)
{
    g_dpiCalls << QStringLiteral("context %1").arg(context);
}
void recordAwareness(Platform::ProcessDpiAwareness value)
{
    g_dpiCalls << QStringLiteral("awareness %1").arg(static_cast<int>(value));
}
void recordAware()
{
    g_dpiCalls << QStringLiteral("aware");
}
} // namespace

void tst_Platform::dpiAwareness_data()
{
    QTest::addColumn<QString>("available"); // letters: c(ontext) a(wareness) l(egacy)
    QTest::addColumn<qint64>("context");
    QTest::addColumn<QStringList>("calls");
    row("context first", "cal", qint64(-4), QStringList{ "context -4" });
    row("shcore per monitor v2", "al", qint64(-4), QStringList{ "awareness 2" });
    row("shcore per monitor", "al", qint64(-3), QStringList{ "awareness 2" });
    row("shcore system", "a", qint64(-2), QStringList{ "awareness 1" });
    row("shcore unaware", "a", qint64(-1), QStringList{ "awareness 0" });
    row("shcore gdi scaled", "a", qint64(-5), QStringList{ "awareness 0" });
    row("shcore unknown context", "a", qint64(-9), QStringList{ "awareness 0" });
    row("legacy aware", "l", qint64(-2), QStringList{ "aware" });
    row("legacy unaware does nothing", "l", qint64(-1), QStringList());
    row("nothing available", "", qint64(-4), QStringList());
}

void tst_Platform::dpiAwareness()
{
    QFETCH(QString, available);
    QFETCH(qint64, context);
    QFETCH(QStringList, calls);
    Platform::DpiAwarenessFunctions functions;
    if (available.contains('c'))
        functions.setContext = &recordContext;
    if (available.contains('a'))
        functions.setAwareness = &recordAwareness;
    if (available.contains('l'))
        functions.setAware = &recordAware;
    g_dpiCalls.clear();
    Platform::ApplyDpiAwareness(functions, static_cast<std::intptr_t>(context));
    QCOMPARE(g_dpiCalls, calls);
}

void tst_Platform::storage_data()
{
    QTest::addColumn<QString>("path");
    row("drive not mounted", QStringLiteral("Q:/Games/x"));
    row("relative path", QStringLiteral("Games/x"));
    row("empty", QString());
}

void tst_Platform::storage()
{
    QFETCH(QString, path);
    QCOMPARE(QtUtil::GetStorage(path), qint64(0));
}

// Other tests write to the shared temporary volume meanwhile; bound the reading
// by readings taken around it, with room for their writes.
void tst_Platform::storageOfTheTestVolume()
{
    const qint64 slack = qint64(256) << 20;
    const qint64 before = QStorageInfo(m_dir.path()).bytesAvailable();
    const qint64 free = QtUtil::GetStorage(m_dir.path());
    const qint64 after = QStorageInfo(m_dir.path()).bytesAvailable();
    QVERIFY2(free >= qMin(before, after) - slack && free <= qMax(before, after) + slack,
        qPrintable(QStringLiteral("%1 against %2..%3").arg(free).arg(before).arg(after)));
}

// A small volume of our own, mounted inside the test folder: nothing else writes
// there, and the answer must be its space, not that of the volume around it.
void tst_Platform::storageOnOwnVolume()
{
#ifndef Q_OS_LINUX
    QSKIP("a volume of the test's own is a tmpfs mount");
#else
    const QString mountPoint = m_dir.filePath(QStringLiteral("volume"));
    QVERIFY(QDir().mkpath(mountPoint));
    if (mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=1m") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs here: %1").arg(QString::fromLocal8Bit(strerror(errno)))));
    const qint64 own = QStorageInfo(mountPoint).bytesAvailable();
    const qint64 inside = QtUtil::GetStorage(mountPoint + QStringLiteral("/not/yet/created"));
    const qint64 exact = QtUtil::GetStorage(mountPoint);
    umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH);
    QCOMPARE(inside, own);
    QCOMPARE(exact, own);
    QVERIFY(own > 0 && own <= (qint64(1) << 20));
#endif
}

void tst_Platform::transformTime_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    row("negative", qint64(-5), "0s");
    row("zero", qint64(0), "0s");
    row("59", qint64(59), "59s");
    row("60", qint64(60), "1m");
    row("61", qint64(61), "1m 1s");
    row("3599", qint64(3599), "59m 59s");
    row("3600", qint64(3600), "1h");
    row("3661", qint64(3661), "1h 1m 1s");
    row("86400", qint64(86400), "1d");
    row("90061", qint64(90061), "1d 1h 1m 1s");
    row("many days", qint64(864000 + 5), "10d 5s");
}

void tst_Platform::transformTime()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(QtUtil::transformTime(seconds), text);
}

void tst_Platform::transformUnit_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("perSecond");
    QTest::addColumn<QString>("text");
    row("zero", qint64(0), false, "0.00 B");
    row("1023", qint64(1023), false, "1023.00 B");
    row("1024", qint64(1024), false, "1.00 KB");
    row("1536", qint64(1536), false, "1.50 KB");
    row("one MiB", qint64(1048576), false, "1.00 MB");
    row("just under one GiB", qint64(1073741823), false, "1024.00 MB");
    row("3 GiB", qint64(3221225472), false, "3.00 GB");
    row("3 GiB per second", qint64(3221225472), true, "3.00 GB/S");
}

void tst_Platform::transformUnit()
{
    QFETCH(qint64, bytes);
    QFETCH(bool, perSecond);
    QFETCH(QString, text);
    QCOMPARE(QtUtil::transformUnit(bytes, perSecond), text);
}

void tst_Platform::readAllText()
{
    QTemporaryDir dir;
    const QString utf16 = dir.filePath(QStringLiteral("utf16.txt"));
    QFile file(utf16);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Byte-order mark, then the text in UTF-16 little-endian.
    const QString text = QStringLiteral("版本 1");
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    file.write(bytes);
    file.close();
    QCOMPARE(QtUtil::ReadAllText(utf16), text);

    const QString empty = dir.filePath(QStringLiteral("empty.txt"));
    QFile emptyFile(empty);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.close();
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("read %1 null").arg(empty)));
    QCOMPARE(QtUtil::ReadAllText(empty), QString());

    const QString missing = dir.filePath(QStringLiteral("missing.txt"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("read %1 error").arg(missing)));
    QCOMPARE(QtUtil::ReadAllText(missing), QString());
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], SleepFlag) == 0) {
        QThread::sleep(60);
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_Platform test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_platform.moc"
