#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/SerializeComponent.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QSettings>

using namespace Morvaniel;

namespace {

int g_configLimit = -1;

QString statePath(const QString &installDir)
{
    return QFileUtils::CombinePath(installDir, InstallState::stateFileName());
}

} // namespace

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

void InstallState::save(GameUpdateContext &ctx)
{
    // config.ini keeps the user's own limit; --limit holds for one run only.
    UpdateSetting stored = ctx.setting;
    stored.LimitSpeed = g_configLimit;
    GetSerializeComponent()->SaveSetting(stored);

    QSettings state(statePath(ctx.setting.InstallPath), QSettings::IniFormat);
    state.setValue(KEY_CURRENT_GAME_VERSION, ctx.setting.CurrentGameVersion);
    state.setValue(KEY_TRANSITION_GAME_VERSION, ctx.setting.TransitionGameVersion);
    state.setValue(KEY_TARGET_GAME_VERSION, ctx.setting.TargetGameVersion);
    state.setValue(KEY_CURRENT_STAGE, ctx.setting.CurrentStage);
    state.sync();
}

void InstallState::writeVersion(const QString &installDir, const QString &version)
{
    QSettings state(statePath(installDir), QSettings::IniFormat);
    state.setValue(KEY_CURRENT_GAME_VERSION, version);
    state.setValue(KEY_TRANSITION_GAME_VERSION, QString());
    state.setValue(KEY_TARGET_GAME_VERSION, QString());
    state.setValue(KEY_CURRENT_STAGE, INIT_STAGE);
    state.sync();
}
