#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/SerializeComponent.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSettings>

using namespace Morvaniel;

namespace HostFlow {

namespace {

int g_configLimit = -1;

const QString KeyCheckByMd5 = QStringLiteral("CheckFilesByMd5");
const QString KeyCheckedManifest = QStringLiteral("CheckedManifest");
const QString KeyBlockFrom = QStringLiteral("BlockRunFrom");
const QString KeyBlockTarget = QStringLiteral("BlockRunTarget");
const QString KeyBlockDone = QStringLiteral("BlockRunDone");
const QString KeyBlockTotal = QStringLiteral("BlockRunTotal");
const QString KeyExtractedVersion = QStringLiteral("FullPackExtractedVersion");
const QString KeyExtracted = QStringLiteral("FullPackExtracted");

QString manifestDigest(const QString &manifest)
{
    return QString::fromLatin1(QCryptographicHash::hash(manifest.toUtf8(), QCryptographicHash::Md5).toHex());
}

// Sync and status: QSettings reports a file it could not write only here.
bool synced(QSettings &state, QString &error)
{
    state.sync();
    if (state.status() == QSettings::NoError)
        return true;
    error = QStringLiteral("cannot write the install state %1 (%2)")
                .arg(QDir::toNativeSeparators(state.fileName()),
                    state.status() == QSettings::AccessError ? QStringLiteral("access denied")
                                                             : QStringLiteral("format error"));
    return false;
}

} // namespace

QString InstallState::statePath(const QString &installDir)
{
    return QFileUtils::CombinePath(installDir, stateFileName());
}

QString InstallState::gameFolder(const QString &installDir)
{
    return QFileUtils::CombinePath(installDir, QStringLiteral("MorvanielGame"));
}

void InstallState::load(const QString &installDir, GameUpdateContext &ctx, int speedLimitKiB)
{
    const QString dir = QDir::cleanPath(QDir(installDir).absolutePath());
    QFileUtils::CreateFolder(dir);
    auto store = GetSerializeComponent();
    store->SetValueByKey(KEY_INSTALL_PATH, dir);
    store->SetValueByKey(KEY_GAME_PATH, gameFolder(dir));
    store->ReadSetting(ctx.setting);
    g_configLimit = ctx.setting.LimitSpeed;
    ctx.setting.LimitSpeed = speedLimitKiB < 0 ? -1 : speedLimitKiB;

    QSettings state(statePath(dir), QSettings::IniFormat);
    UpdateSetting &s = ctx.setting;
    s.CurrentGameVersion = state.value(KEY_CURRENT_GAME_VERSION).toString();
    s.TransitionGameVersion = state.value(KEY_TRANSITION_GAME_VERSION).toString();
    s.TargetGameVersion = state.value(KEY_TARGET_GAME_VERSION).toString();
    s.CurrentStage = state.value(KEY_CURRENT_STAGE, INIT_STAGE).toString();
}

bool InstallState::save(GameUpdateContext &ctx, QString &error)
{
    // config.ini keeps the user's own limit; a run's limit holds for that run only.
    UpdateSetting stored = ctx.setting;
    stored.LimitSpeed = g_configLimit;
    GetSerializeComponent()->SaveSetting(stored);

    QSettings state(statePath(ctx.setting.InstallPath), QSettings::IniFormat);
    state.setValue(KEY_CURRENT_GAME_VERSION, ctx.setting.CurrentGameVersion);
    state.setValue(KEY_TRANSITION_GAME_VERSION, ctx.setting.TransitionGameVersion);
    state.setValue(KEY_TARGET_GAME_VERSION, ctx.setting.TargetGameVersion);
    state.setValue(KEY_CURRENT_STAGE, ctx.setting.CurrentStage);
    return synced(state, error);
}

bool InstallState::writeVersion(const QString &installDir, const QString &version)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    state.setValue(KEY_CURRENT_GAME_VERSION, version);
    state.setValue(KEY_TRANSITION_GAME_VERSION, QString());
    state.setValue(KEY_TARGET_GAME_VERSION, QString());
    state.setValue(KEY_CURRENT_STAGE, INIT_STAGE);
    QString error;
    return synced(state, error);
}

bool InstallState::needsCheckByMd5(const QString &installDir)
{
    return QSettings(statePath(installDir), QSettings::IniFormat).value(KeyCheckByMd5, false).toBool();
}

bool InstallState::manifestChanged(const QString &installDir, const QString &manifest)
{
    const QString checked = QSettings(statePath(installDir), QSettings::IniFormat).value(KeyCheckedManifest).toString();
    return checked != manifestDigest(manifest);
}

bool InstallState::recordGameWritten(const QString &installDir, QString &error)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    state.setValue(KeyCheckByMd5, true);
    return synced(state, error);
}

bool InstallState::recordBlockRun(const QString &installDir, const QString &from, const QString &target, QString &error)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    if (target.isEmpty()) {
        state.remove(KeyBlockFrom);
        state.remove(KeyBlockTarget);
        state.remove(KeyBlockDone);
        state.remove(KeyBlockTotal);
    } else {
        state.setValue(KeyBlockFrom, from);
        state.setValue(KeyBlockTarget, target);
    }
    return synced(state, error);
}

void InstallState::blockRun(const QString &installDir, QString &from, QString &target)
{
    const QSettings state(statePath(installDir), QSettings::IniFormat);
    from = state.value(KeyBlockFrom).toString();
    target = state.value(KeyBlockTarget).toString();
}

void InstallState::recordBlockProgress(const QString &installDir, qint64 done, qint64 total)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    state.setValue(KeyBlockDone, done);
    state.setValue(KeyBlockTotal, total);
}

void InstallState::blockProgress(const QString &installDir, qint64 &done, qint64 &total)
{
    const QSettings state(statePath(installDir), QSettings::IniFormat);
    done = state.value(KeyBlockDone, 0).toLongLong();
    total = state.value(KeyBlockTotal, 0).toLongLong();
}

bool InstallState::recordExtracted(
    const QString &installDir, const QString &version, const QStringList &archives, QString &error)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    if (version.isEmpty()) {
        state.remove(KeyExtractedVersion);
        state.remove(KeyExtracted);
    } else {
        state.setValue(KeyExtractedVersion, version);
        state.setValue(KeyExtracted, archives);
    }
    return synced(state, error);
}

QStringList InstallState::extractedArchives(const QString &installDir, const QString &version)
{
    const QSettings state(statePath(installDir), QSettings::IniFormat);
    if (version.isEmpty() || state.value(KeyExtractedVersion).toString() != version)
        return {};
    return state.value(KeyExtracted).toStringList();
}

bool InstallState::recordGameWhole(const QString &installDir, const QString &manifest, QString &error)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    state.setValue(KeyCheckByMd5, false);
    state.setValue(KeyCheckedManifest, manifestDigest(manifest));
    return synced(state, error);
}

} // namespace HostFlow
