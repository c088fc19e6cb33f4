#pragma once

#include "MorvanielGlobal.h"
#include "core/ContextCodes.h"
#include "core/LauncherUpdateInfo.h"
#include "core/Records.h"
#include "core/RemoteInfo.h"
#include "settings/UpdateSetting.h"

#include <QMap>
#include <QString>
#include <QVector>

namespace Morvaniel {

// Slots of the host's own lists inside the context.
struct HostPair
{
    qint64 first = 0;
    qint64 second = 0;
};
struct HostRecord
{
    qint64 values[5] = { 0, 0, 0, 0, 0 };
};

// The state of one update run, shared by the host, the planners and the workers.
// The host reads and writes the fields directly, so their order, types and
// defaults are part of the interface. Fields named host* are the host's alone:
// the library constructs and destroys them and nothing more.
class MORVANIEL_EXPORT GameUpdateContext
{
public:
    GameUpdateContext();
    ~GameUpdateContext();

    qint64 hostSessionId = 0;
    UpdateSetting setting;
    VersionPackInfo newestInfo;
    QMap<QString, VersionPackInfo> versionInfos;
    qint64 hostValue0 = 0;
    qint64 newestFullPackSize = 0;
    QVector<DownloadFile> downloadList;
    QString nextVersion;
    QVector<QString> verifyMd5List;
    QVector<QString> verifyFileList;
    QString verifyFolder;
    QString verifyManifestText;
    bool needMd5Check = false;
    bool needMd5CheckPaksDir = false;
    bool verifySingle = false;
    int32_t updateMode = UpdateModeUpdate; // UpdateMode
    QString hostModeText;
    QVector<QString> unzipFiles;
    QString unzipTargetDir;
    QString patchDir;
    QString mergeTargetPath;
    QString mergeTempPath;
    bool skipPatchFiles = false;
    QString updateTargetDir;
    QString updateSourceDir;
    QString oldFileManifestText;
    QString newFileManifestText;
    QString hostUpdateText0;
    QString hostUpdateText1;
    LauncherUpdateInfo launcherInfo;
    bool hostFlag0 = false;
    bool hostFlag1 = false;
    bool bGameUpdate = false;
    RemoteInfo remoteInfo;
    int32_t planResult = PlanResultPlanned; // PlanResult
    bool hostFlag2 = false;
    qint64 totalDownloadSize = 0;
    qint64 hostSize0 = 0;
    qint64 hostSize1 = 0;
    bool hostFlag3 = false;
    QString hostText0;
    QString hostText1;
    QString hostText2;
    QString hostText3;
    qint64 hostValue1 = 0;
    QString hostText4;
    QString hostText5;
    QString hostText6;
    QString hostText7;
    float hostScale = 1.0f;
    QString hostText8;
    QString checkFolder;
    QString logServerTestUrl;
    QString logServerUrl;
    QString hostText9;
    QString hostText10 = QStringLiteral("0");
    QString hostText11;
    QString hostText12;
    QString hostText13;
    qint64 hostValue2 = 0;
    qint64 hostValue3 = 0;
    qint64 hostValue4 = 0;
    QString hostGroupText;
    int32_t hostGroupIndex = -1;
    int32_t hostGroupCount = 0;
    bool hostGroupFlag = false;
    QVector<HostPair> hostPairs;
    QVector<HostRecord> hostRecords;
    bool hostFlag4 = false;
    qint64 hostValue5 = 0;
    qint64 hostValue6 = 0;
    qint64 hostValue7 = 0;
    qint64 downloadedAtStart = 0;
    qint64 downloadedBefore = 0;
    qint64 hostValue8 = 0;
    qint64 hostValue9 = 0;
    qint64 verifyExtra = 0;
};

} // namespace Morvaniel
