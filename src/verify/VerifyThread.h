#pragma once

#include "MorvanielGlobal.h"
#include "manifest/FileManifest.h"

#include <QString>
#include <QThread>
#include <QVector>

namespace Morvaniel {

// Hashes archives (archive mode) or checks an installed folder against a file
// manifest (manifest mode). Owned by Verifyer, which fills the fields while the
// thread is idle; run() reads them and writes only the failed list and the outcome.
class VerifyThread : public QThread
{
    Q_OBJECT

public:
    explicit VerifyThread(QObject *parent = nullptr);
    ~VerifyThread() override;

signals:
    void VerifyComplete(bool bError, bool bSingle);
    void VerifyProgress(float progress);

public slots:
    void finishedThread();

protected:
    void run() override;

private:
    friend class Verifyer;

    void verifyArchives();
    // Keeps the reason of the run's first failed archive.
    void recordFailure(const QString &path, const QString &reason);
    // True when the archive's digest equals md5; a mismatching archive is deleted.
    bool verifyArchive(const QString &path, const QString &md5, bool reportWithin);
    void verifyManifest();
    bool checkEntry(
        const FileManifestEntry &entry, const QString &full, const QString &paksDir, int &md5Checked, int &sizeChecked);

    QVector<QString> m_md5List;
    QVector<QString> m_fileList;
    QVector<QString> m_failedList;
    QString m_folder;
    bool m_bCollectFailures = false;
    bool m_bMd5Check = false;
    FileManifest m_manifest;
    bool m_bMd5CheckPaksDir = false;
    bool m_bError = false;
    bool m_bSingle = false;
    // The manifest text was refused (not checked against the signed release):
    // the run checks nothing and fails.
    bool m_bManifestRefused = false;
    QString m_firstFailure; // archive mode: why the first failed archive failed
};

} // namespace Morvaniel
