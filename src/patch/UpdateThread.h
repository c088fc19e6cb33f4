#pragma once

#include "MorvanielGlobal.h"
#include "manifest/FileManifest.h"

#include <QString>
#include <QThread>

namespace Morvaniel {

// The update stage: brings a folder from the file set of an old manifest to
// that of a new one, taking the new files from a source folder, and stages the
// updater's own files aside instead of overwriting them. Every run ends with
// exactly one UpdateFinished.
class UpdateThread : public QThread
{
    Q_OBJECT

public:
    explicit UpdateThread(QObject *parent = nullptr);
    ~UpdateThread() override;

    // Called on the owner's thread while the thread is idle.
    void SetInput(const QString &targetDir, const QString &sourceDir, const QString &oldManifestText,
        const QString &newManifestText);

signals:
    void UpdateFinished(QString errString);
    void UpdateProgress(int percent, int totalpercent);

private slots:
    void finishedThread();

protected:
    void run() override;

private:
    bool removeChecked(const QString &path);
    bool copyTree(const QString &sourceDir, const QString &destinationDir, bool replace, int &done, int total);
    bool checkManifestPaths();
    void removeSource();
    // True when folder holds (or lies in) a file or folder this run placed.
    bool holdsPlacedFiles(const QString &folder) const;
    QString stagingDir() const;

    QString m_targetDir;
    QString m_sourceDir;
    bool m_manifestsUsable = true;
    QString m_oldManifestText;
    QString m_newManifestText;
    FileManifest m_oldManifest;
    FileManifest m_newManifest;
};

} // namespace Morvaniel
