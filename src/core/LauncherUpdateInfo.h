#pragma once

#include <QMap>
#include <QString>

namespace Morvaniel {

// Addresses of the launcher's own update. The members the library does not
// touch belong to the host.
struct LauncherUpdateInfo
{
    QString channel = QStringLiteral("");
    QString exeName;
    QString currentVersion; // set by the host
    QString newestVersion; // from the launcher's guide manifest
    QString baseUrl; // set by the host
    QString hostText0;
    QString hostText1;
    QString hostText2;
    QString hostText3;
    QString hostText4;
    QString hostText5;
    QString hostText6;
    QString newestManifestUrl;
    QString currentManifestUrl;
    QString fullPackUrl;
    QString hostText7;
    qint64 fullPackSize = 0;
    QString hostText8;
    QMap<QString, QString> hostMap;
};

} // namespace Morvaniel
