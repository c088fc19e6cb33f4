#pragma once

#include <QString>

// The log tag of the settings file.
static const QString SERIALIZER_TAG = QStringLiteral("SerializerTag");

// Keys of config.ini.
static const QString KEY_INSTALL_PATH = QStringLiteral("InstallPath");
static const QString KEY_GAME_PATH = QStringLiteral("GamePath");
static const QString KEY_CURRENT_GAME_VERSION = QStringLiteral("CurrentGameVersion");
static const QString KEY_TRANSITION_GAME_VERSION = QStringLiteral("TransitionGameVersion");
static const QString KEY_TARGET_GAME_VERSION = QStringLiteral("TargetGameVersion");
static const QString KEY_CURRENT_STAGE = QStringLiteral("CurrentStage");
static const QString KEY_PATCH_FINISHED = QStringLiteral("bPatchFinished");
static const QString KEY_IS_AUTO_START = QStringLiteral("IsAutoStart");
static const QString KEY_IS_OPEN_BG_MUSIC = QStringLiteral("IsOpenBgMusic");
static const QString KEY_IS_POP_WHEN_QUIT_GAME = QStringLiteral("IsPopWhenQuitGame");
static const QString KEY_IS_MIN_WHEN_CLOSE_LAUNCHER = QStringLiteral("IsMinWhenCloseLauncher");
static const QString KEY_LIMIT_SPEED = QStringLiteral("LimitSpeed");
static const QString KEY_MUSIC_VOLUME = QStringLiteral("MusicVolume");
static const QString KEY_IS_SKIP_INSTALL_PLUGIN = QStringLiteral("IsSkipInstallPlugin");
static const QString KEY_MUSIC_LANGUAGE = QStringLiteral("MusicLanguage");
static const QString KEY_SYSTEM_EXPLORER = QStringLiteral("SystemExplorer");
static const QString KEY_NEW_AGREEMENT_CHECKED_FLAG = QStringLiteral("NewAgreementCheckedFlag");
static const QString KEY_LOGIN_SERVER = QStringLiteral("LoginServer");
static const QString KEY_GUIDE_SERVER = QStringLiteral("GuideServer");
static const QString KEY_AUTO_UPDATE_GAME = QStringLiteral("AutoUpdateGame");

// Keys the host keeps through the free key access; the library never reads them.
static const QString KEY_GAME_TALK_URL = QStringLiteral("GameTalkUrl");
static const QString KEY_HOST = QStringLiteral("Host");
static const QString KEY_LAUNCHER_CHANNEL = QStringLiteral("LauncherChannel");
static const QString KEY_CHECK_LAUNCHER_UPDATE = QStringLiteral("bCheckLauncherUpdate");
static const QString KEY_BACKGROUND_PIC = QStringLiteral("backgroundPic");
static const QString KEY_LAUNCHER_VERSION = QStringLiteral("LauncherVersion");
static const QString KEY_CHANNEL = QStringLiteral("Channel");

// Stages of a game update, kept under CurrentStage.
static const QString INIT_STAGE = QStringLiteral("INITSTAGE");
static const QString PATCH_STAGE = QStringLiteral("PATCHSTAGE");

// Signed releases, per channel ("AcceptedReleaseSerial/<channel>"): the serial
// of the newest accepted release document, and the public key it handed over
// to (set once a document named a next key).
static const QString KEY_ACCEPTED_RELEASE_SERIAL = QStringLiteral("AcceptedReleaseSerial");
static const QString KEY_RELEASE_KEY = QStringLiteral("ReleaseKey");
// BLAKE2b (hex) of the accepted release document: one serial names one document.
static const QString KEY_ACCEPTED_RELEASE_DIGEST = QStringLiteral("AcceptedReleaseDigest");
