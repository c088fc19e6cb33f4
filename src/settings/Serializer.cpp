#include "settings/Serializer.h"

#include "settings/SettingKeys.h"
#include "settings/UpdateSetting.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("Serializer");

QString absoluteAgainstAppDir(const QString &path)
{
    if (!QDir::isRelativePath(path))
        return path;
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(path));
}

} // namespace

Serializer::Serializer()
{
    InitConfig();
}

Serializer::Serializer(Serializer &&other) noexcept
    : m_ini(other.m_ini)
{
    other.m_ini.clear();
}

Serializer &Serializer::operator=(Serializer &&other) noexcept
{
    if (this != &other) {
        m_ini = other.m_ini;
        other.m_ini.clear();
    }
    return *this;
}

QString Serializer::configPath()
{
    return QFileUtils::CombinePath(QCoreApplication::applicationDirPath(), QStringLiteral("config.ini"));
}

void Serializer::InitConfig()
{
    const QString path = configPath();
    Logger::LogInfo(Tag, QStringLiteral("IniPath is %1").arg(path));
    // Deliberately without a parent: every copy shares it and it outlives them all.
    m_ini = new QSettings(path, QSettings::IniFormat);
}

void Serializer::deriveFolders(UpdateSetting &s)
{
    s.CachePath = QFileUtils::CombinePath(s.InstallPath, QStringLiteral("MorvanielCache"));
    s.UnZipPath = QFileUtils::CombinePath(s.CachePath, QStringLiteral("UnZip"));
    s.TempMergePath = QFileUtils::CombinePath(s.CachePath, QStringLiteral("TempMerge"));
}

void Serializer::ReadSetting(UpdateSetting &s)
{
    auto missing = [this](const QString &key) { return GetValueByKey(key).isEmpty(); };
    // A missing key takes its default, which is written back into the file.
    auto orDefault = [this, &missing](const QString &key, const QVariant &fallback) {
        if (missing(key)) {
            setValue(key, fallback);
            return fallback;
        }
        return getValue(key);
    };

    s.InstallPath
        = missing(KEY_INSTALL_PATH) ? QCoreApplication::applicationDirPath() : GetValueByKey(KEY_INSTALL_PATH);
    s.InstallPath = absoluteAgainstAppDir(s.InstallPath);
    s.GamePath = missing(KEY_GAME_PATH) ? QFileUtils::CombinePath(s.InstallPath, QStringLiteral("MorvanielGame"))
                                        : GetValueByKey(KEY_GAME_PATH);
    s.GamePath = absoluteAgainstAppDir(s.GamePath);
    deriveFolders(s);

    s.CurrentGameVersion = GetValueByKey(KEY_CURRENT_GAME_VERSION);
    s.TransitionGameVersion = GetValueByKey(KEY_TRANSITION_GAME_VERSION);
    s.TargetGameVersion = GetValueByKey(KEY_TARGET_GAME_VERSION);
    s.CurrentStage = missing(KEY_CURRENT_STAGE) ? INIT_STAGE : GetValueByKey(KEY_CURRENT_STAGE);
    s.bPatchFinished = getValue(KEY_PATCH_FINISHED).toBool();

    s.IsAutoStart = orDefault(KEY_IS_AUTO_START, false).toBool();
    s.IsOpenBgMusic = orDefault(KEY_IS_OPEN_BG_MUSIC, true).toBool();
    s.IsPopWhenQuitGame = orDefault(KEY_IS_POP_WHEN_QUIT_GAME, false).toBool();
    s.IsMinWhenCloseLauncher = orDefault(KEY_IS_MIN_WHEN_CLOSE_LAUNCHER, true).toBool();
    s.LimitSpeed = orDefault(KEY_LIMIT_SPEED, -1).toInt();
    s.MusicVolume = orDefault(KEY_MUSIC_VOLUME, 50).toInt();
    s.IsSkipInstallPlugin = orDefault(KEY_IS_SKIP_INSTALL_PLUGIN, false).toBool();
    s.MusicLanguage = orDefault(KEY_MUSIC_LANGUAGE, QStringLiteral("chinese")).toString();
    s.SystemExplorer = orDefault(KEY_SYSTEM_EXPLORER, false).toBool();
    s.NewAgreementCheckedFlag = orDefault(KEY_NEW_AGREEMENT_CHECKED_FLAG, false).toBool();

    s.LoginServer = getValue(KEY_LOGIN_SERVER).toString();
    s.GuideServer = getValue(KEY_GUIDE_SERVER).toString();
    s.AutoUpdateGame = getValue(KEY_AUTO_UPDATE_GAME).toBool();
}

void Serializer::SaveSetting(UpdateSetting &s)
{
    SetValueByKey(KEY_INSTALL_PATH, s.InstallPath);
    SetValueByKey(KEY_CURRENT_GAME_VERSION, s.CurrentGameVersion);
    SetValueByKey(KEY_TRANSITION_GAME_VERSION, s.TransitionGameVersion);
    SetValueByKey(KEY_TARGET_GAME_VERSION, s.TargetGameVersion);
    SetValueByKey(KEY_CURRENT_STAGE, s.CurrentStage);
    SetValueByKey(KEY_GAME_PATH, s.GamePath);
    deriveFolders(s);

    setValue(KEY_PATCH_FINISHED, s.bPatchFinished);
    setValue(KEY_IS_AUTO_START, s.IsAutoStart);
    setValue(KEY_IS_POP_WHEN_QUIT_GAME, s.IsPopWhenQuitGame);
    setValue(KEY_IS_MIN_WHEN_CLOSE_LAUNCHER, s.IsMinWhenCloseLauncher);
    setValue(KEY_LIMIT_SPEED, s.LimitSpeed);
    setValue(KEY_IS_SKIP_INSTALL_PLUGIN, s.IsSkipInstallPlugin);
    setValue(KEY_IS_OPEN_BG_MUSIC, s.IsOpenBgMusic);
    setValue(KEY_MUSIC_VOLUME, s.MusicVolume);
    setValue(KEY_MUSIC_LANGUAGE, s.MusicLanguage);
    setValue(KEY_SYSTEM_EXPLORER, s.SystemExplorer);
    setValue(KEY_NEW_AGREEMENT_CHECKED_FLAG, s.NewAgreementCheckedFlag);
    setValue(KEY_AUTO_UPDATE_GAME, s.AutoUpdateGame);
}

QString Serializer::GetValueByKey(const QString &key)
{
    if (!m_ini)
        Logger::LogFatal(SERIALIZER_TAG, QStringLiteral("you must init m_ini before GetValueByKey"));
    const QVariant value = m_ini->value(key);
    if (!value.isValid())
        return QString();
    if (value.type() == QVariant::String)
        return value.toString();
    QVariant converted = value;
    if (!converted.convert(QMetaType::QString))
        return QString();
    return converted.toString();
}

void Serializer::SetValueByKey(const QString &key, const QString &value)
{
    if (!m_ini)
        Logger::LogFatal(SERIALIZER_TAG, QStringLiteral("you must init m_ini before SetValueByKey"));
    m_ini->setValue(key, value);
    m_ini->sync();
    Logger::LogInfo(SERIALIZER_TAG, QStringLiteral("save key is %1, value is %2").arg(key, value));
}

QVariant Serializer::getValue(const QString &key)
{
    if (!m_ini)
        return QVariant();
    return m_ini->value(key);
}

void Serializer::setValue(const QString &key, const QVariant &value)
{
    if (!m_ini)
        return;
    // Written through at once: the settings object is never destroyed, so a
    // deferred write would be lost if the process ends before its event loop runs.
    m_ini->setValue(key, value);
    m_ini->sync();
}

} // namespace Morvaniel
