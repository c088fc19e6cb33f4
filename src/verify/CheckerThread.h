#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QThread>

namespace Morvaniel {

// Walks a folder and stops at the first file that another process holds.
// Owned by Checker, which sets the folder while the thread is idle.
class CheckerThread : public QThread
{
    Q_OBJECT

public:
    explicit CheckerThread(QObject *parent = nullptr);
    ~CheckerThread() override;

signals:
    void CheckComplete(bool bError, const QString &errorPath);
    void CheckProgress(float percent);

public slots:
    void finishedThread();

protected:
    void run() override;

private:
    friend class Checker;

    bool m_bError = false;
    QString m_folder;
    QString m_errorPath;
};

} // namespace Morvaniel
