#pragma once

#include "core/Version.h"

#include <QMap>
#include <QString>
#include <QVector>

namespace Morvaniel {

// One archive the server offers, as the planners see it.
struct PackageInfo
{
    QString md5;
    QString path; // server-relative, from the guide manifest
    qint64 size = 0;
    QString url; // Global::Var::Host joined with path
    QString reserved; // kept empty
    QString fileName; // last "/"-separated section of path
};

// One file the download manager fetches.
struct DownloadFile
{
    QString fileName;
    QString localPath; // cache folder joined with fileName
    qint64 size = 0; // expected bytes
    QString url;
    QString md5;
};

// One file a full pack installs.
struct PackFileInfo
{
    QString md5;
    QString path; // relative to the game folder
    qint64 size = 0;
};

// One step of the chosen patch chain.
struct UpdateStep
{
    QString name; // left empty by the path search
    QString description; // left empty by the path search
    QVector<PackageInfo> packages; // exactly one package per step
    QVector<PackFileInfo> files; // left empty by the path search
    qint64 size = 0; // not filled by the path search
    Version fromVersion;
    Version toVersion;
    QMap<QString, QString> extra; // left empty by the path search
};

// Plan data of one server version.
struct VersionPackInfo
{
    Version version;
    QString fullPackManifestUrl;
    QString fullPackManifest;
    QVector<PackageInfo> fullPacks;
    QVector<PackFileInfo> fullPackFiles;
    qint64 fullPackFileSize = 0;

    // A second group of the same shape that only the host uses.
    QString hostManifestUrl;
    QString hostManifest;
    QVector<PackageInfo> hostPacks;
    QVector<PackFileInfo> hostPackFiles;
    qint64 hostPackFileSize = 0;
    qint64 hostValues[4] = { 0, 0, 0, 0 };
    QMap<QString, QString> hostMap;
    QVector<UpdateStep> hostSteps;

    QVector<UpdateStep> updatePath; // the chosen chain of update steps
    QMap<QString, QString> repairMap; // file path -> group entry of the repair manifest
};

} // namespace Morvaniel
