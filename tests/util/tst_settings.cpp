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

// Every key the library saves goes through a read and a save unchanged; a key
// it never saves keeps the file's value.
void tst_Settings::roundTrip()
{
    const QList<QPair<QString, QString>> saved{ { "InstallPath", "/opt/game launcher" }, { "GamePath", "/srv/游戏" },
        { "CurrentGameVersion", "1.0.0.1" }, { "TransitionGameVersion", "1.0.0.2" }, { "TargetGameVersion", "1.0.0.3" },
        { "CurrentStage", "PATCHSTAGE" }, { "bPatchFinished", "true" }, { "IsOpenBgMusic", "false" },
        { "IsAutoStart", "true" }, { "IsPopWhenQuitGame", "true" }, { "IsMinWhenCloseLauncher", "false" },
        { "IsSkipInstallPlugin", "true" }, { "LimitSpeed", "2048" }, { "MusicVolume", "5" },
        { "MusicLanguage", "english" }, { "SystemExplorer", "true" }, { "NewAgreementCheckedFlag", "true" },
        { "AutoUpdateGame", "true" } };
    {
        QSettings file(configPath(), QSettings::IniFormat);
        for (const auto &key : saved)
            file.setValue(key.first, key.second);
    }
    UpdateSetting s;
    Serializer().ReadSetting(s);
    QCOMPARE(s.CachePath, QStringLiteral("/opt/game launcher/MorvanielCache"));
    s.LoginServer = QStringLiteral("never saved");
    freshConfig("[General]\nLoginServer=login.example\n");
    Serializer().SaveSetting(s);

    const QSettings file(configPath(), QSettings::IniFormat);
    for (const auto &key : saved)
        QCOMPARE(file.value(key.first).toString(), key.second);
    QCOMPARE(file.value(QStringLiteral("LoginServer")).toString(), QStringLiteral("login.example"));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
