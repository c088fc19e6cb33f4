#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QStringList>
#include <QThread>

class QProcess;

namespace Morvaniel {

// Runs the external archiver once per archive into one folder. Owned by
// UnZipper, which fills the fields while the thread is idle.
class ZipThread : public QThread
{
    Q_OBJECT

public:
    explicit ZipThread(QObject *parent = nullptr);
    ~ZipThread() override;

    // The archiver beside the application: worked out once per process.
    static QString archiverPath();

signals:
    void DecompressFinished(int code, const QString &errStr);
    void DecompressProgress(int percent, int curCount, int totalCount);

public slots:
    void finishedThread();

protected:
    void run() override;

private:
    friend class UnZipper;

    // True when archive i is extracted (a checksum complaint alone counts as extracted).
    bool extract(QProcess &process, int i);
    void reportOutput(const QByteArray &output, int i);

    QStringList m_files;
    QString m_targetDir;
    bool m_bKeepTarget = false;
    int m_lastExitCode = 0; // kept between jobs: an empty job reports the previous one's
    QString m_lastError;
};

} // namespace Morvaniel
