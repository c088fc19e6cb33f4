#include "settings/Serializer.h"
#include "settings/UpdateSetting.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

using namespace Morvaniel;

namespace {

QString configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

// Removes config.ini and makes every settings object of the process see that.
void freshConfig(const QByteArray &content = QByteArray())
{
    QFile::remove(configPath());
    if (!content.isEmpty()) {
        QFile f(configPath());
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }
    QSettings(configPath(), QSettings::IniFormat).sync();
}

QStringList keysInFile()
{
    QSettings file(configPath(), QSettings::IniFormat);
    QStringList keys = file.allKeys();
    keys.sort();
    return keys;
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshConfig(); }
    void cleanupTestCase() { freshConfig(); }
    void firstRun();
    void relativePaths_data();
    void relativePaths();
    void keyAccess();
    void roundTrip();
};

void tst_Settings::firstRun()
{
    Serializer serializer;
    UpdateSetting s;
    serializer.ReadSetting(s);
    const QString appDir = QCoreApplication::applicationDirPath();
    QCOMPARE(s.InstallPath, appDir);
    QCOMPARE(s.GamePath, appDir + "/MorvanielGame");
    QCOMPARE(s.CachePath, appDir + "/MorvanielCache");
    QCOMPARE(s.UnZipPath, appDir + "/MorvanielCache/UnZip");
    QCOMPARE(s.TempMergePath, appDir + "/MorvanielCache/TempMerge");
    QCOMPARE(s.CurrentStage, QStringLiteral("INITSTAGE"));
    QVERIFY(s.CurrentGameVersion.isEmpty());
    QCOMPARE(s.LimitSpeed, -1); // no limit
    // Exactly the ten keys with a written-back default, and nothing else.
    QCOMPARE(keysInFile(),
        (QStringList{ "IsAutoStart", "IsMinWhenCloseLauncher", "IsOpenBgMusic", "IsPopWhenQuitGame",
            "IsSkipInstallPlugin", "LimitSpeed", "MusicLanguage", "MusicVolume", "NewAgreementCheckedFlag",
            "SystemExplorer" }));
}

void tst_Settings::relativePaths_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("install");
    QTest::addColumn<QString>("game");
    const QString app = QCoreApplication::applicationDirPath();
    QTest::newRow("relative install") << QByteArray("[General]\nInstallPath=sub/./dir/../inst\n") << app + "/sub/inst"
                                      << app + "/sub/inst/MorvanielGame";
    QTest::newRow("relative game") << QByteArray("[General]\nInstallPath=/opt/x\nGamePath=g\n") << "/opt/x"
                                   << app + "/g";
    QTest::newRow("absolute kept") << QByteArray("[General]\nInstallPath=/opt/x/\nGamePath=/srv/game\n") << "/opt/x/"
                                   << "/srv/game";
}

void tst_Settings::relativePaths()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, install);
    QFETCH(QString, game);
    freshConfig(ini);
    Serializer serializer;
    UpdateSetting s;
    serializer.ReadSetting(s);
    QCOMPARE(s.InstallPath, install);
    QCOMPARE(s.GamePath, game);
    QCOMPARE(s.CachePath, QDir::cleanPath(install + "/MorvanielCache"));
}

void tst_Settings::keyAccess()
{
    freshConfig("[General]\nLimitSpeed=not a number\nMusicVolume=70\nbTrue=true\n");
    Serializer serializer;
    UpdateSetting s;
    serializer.ReadSetting(s);
    QCOMPARE(s.LimitSpeed, 0); // non-numeric reads as 0
    QCOMPARE(s.MusicVolume, 70);

    serializer.setValue(QStringLiteral("Number"), 1234);
    QCOMPARE(serializer.GetValueByKey(QStringLiteral("Number")), QStringLiteral("1234"));
    QVERIFY(serializer.GetValueByKey(QStringLiteral("Missing")).isNull());
    QVERIFY(!serializer.getValue(QStringLiteral("Missing")).isValid());
    serializer.SetValueByKey(QStringLiteral("Host"), QStringLiteral("http://127.0.0.1:1"));
    QCOMPARE(serializer.getValue(QStringLiteral("Host")).toString(), QStringLiteral("http://127.0.0.1:1"));

    // Copies share the settings object; a moved-from serializer has none.
    Serializer copy(serializer);
    QCOMPARE(copy.GetValueByKey(QStringLiteral("Number")), QStringLiteral("1234"));
    Serializer moved(std::move(copy));
    QVERIFY(!copy.getValue(QStringLiteral("Number")).isValid());
    copy.setValue(QStringLiteral("Ignored"), 1);
    QCOMPARE(moved.GetValueByKey(QStringLiteral("Number")), QStringLiteral("1234"));
    // Written through: a new reader of the file sees it at once.
    QCOMPARE(
        QSettings(configPath(), QSettings::IniFormat).value("Host").toString(), QStringLiteral("http://127.0.0.1:1"));
}

void tst_Settings::roundTrip()
{
    freshConfig("[General]\nLoginServer=login.example\nGuideServer=guide.example\n");
    UpdateSetting out;
    out.InstallPath = QStringLiteral("/opt/game launcher");
    out.GamePath = QStringLiteral("/srv/游戏");
    out.CurrentGameVersion = QStringLiteral("1.0.0.1");
    out.TransitionGameVersion = QStringLiteral("1.0.0.2");
    out.TargetGameVersion = QStringLiteral("1.0.0.3");
    out.CurrentStage = QStringLiteral("PATCHSTAGE");
    out.bPatchFinished = true;
    out.IsOpenBgMusic = false;
    out.IsAutoStart = true;
    out.IsPopWhenQuitGame = true;
    out.IsMinWhenCloseLauncher = false;
    out.IsSkipInstallPlugin = true;
    out.LimitSpeed = 2048;
    out.MusicVolume = 5;
    out.MusicLanguage = QStringLiteral("english");
    out.SystemExplorer = true;
    out.NewAgreementCheckedFlag = true;
    out.LoginServer = QStringLiteral("never saved");
    out.AutoUpdateGame = true;
    {
        Serializer writer;
        writer.SaveSetting(out);
        QCOMPARE(out.CachePath, QStringLiteral("/opt/game launcher/MorvanielCache"));
    }
    QSettings(configPath(), QSettings::IniFormat).sync();

    Serializer reader;
    UpdateSetting in;
    reader.ReadSetting(in);
    QCOMPARE(in.InstallPath, out.InstallPath);
    QCOMPARE(in.GamePath, out.GamePath);
    QCOMPARE(in.CachePath, out.CachePath);
    QCOMPARE(in.CurrentGameVersion, out.CurrentGameVersion);
    QCOMPARE(in.TransitionGameVersion, out.TransitionGameVersion);
    QCOMPARE(in.TargetGameVersion, out.TargetGameVersion);
    QCOMPARE(in.CurrentStage, out.CurrentStage);
    QCOMPARE(in.bPatchFinished, out.bPatchFinished);
    QCOMPARE(in.IsOpenBgMusic, out.IsOpenBgMusic);
    QCOMPARE(in.IsAutoStart, out.IsAutoStart);
    QCOMPARE(in.IsPopWhenQuitGame, out.IsPopWhenQuitGame);
    QCOMPARE(in.IsMinWhenCloseLauncher, out.IsMinWhenCloseLauncher);
    QCOMPARE(in.IsSkipInstallPlugin, out.IsSkipInstallPlugin);
    QCOMPARE(in.LimitSpeed, out.LimitSpeed);
    QCOMPARE(in.MusicVolume, out.MusicVolume);
    QCOMPARE(in.MusicLanguage, out.MusicLanguage);
    QCOMPARE(in.SystemExplorer, out.SystemExplorer);
    QCOMPARE(in.NewAgreementCheckedFlag, out.NewAgreementCheckedFlag);
    QCOMPARE(in.AutoUpdateGame, out.AutoUpdateGame);
    // Never saved: the file's own values stay.
    QCOMPARE(in.LoginServer, QStringLiteral("login.example"));
    QCOMPARE(in.GuideServer, QStringLiteral("guide.example"));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
