#include "verify/CheckerThread.h"

#include "util/OpenFileScan.h"
#include "util/QFileUtils.h"

#include <QDebug>
#include <QFileInfo>
#include <QStringList>

namespace Morvaniel {

CheckerThread::CheckerThread(QObject *parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &CheckerThread::finishedThread);
}

CheckerThread::~CheckerThread() = default;

void CheckerThread::finishedThread()
{
    emit CheckComplete(m_bError, m_errorPath);
}

void CheckerThread::run()
{
    m_bError = false;
    QStringList files;
    QFileUtils::getFileListUnderDir(m_folder, files);
    m_errorPath.clear();
    if (files.isEmpty())
        return;

    const OpenFileScan openElsewhere = OpenFileScan::take();
    const int n = files.size();
    for (int k = 1; k <= n && !isInterruptionRequested(); ++k) {
        const QString &file = files.at(k - 1);
        // The listing names links as they are; one that leads to a folder (or
        // nowhere) is no file another program could hold.
        const bool isFile = QFileInfo(file).isFile();
        bool inUse = isFile && QFileUtils::FileIsUsing(file);
        if (isFile && !inUse && openElsewhere.isOpenElsewhere(file)) {
            qDebug() << file << " is using";
            inUse = true;
        }
        if (inUse) {
            m_bError = true;
            m_errorPath = file;
            return;
        }
        emit CheckProgress(static_cast<float>(k) / static_cast<float>(n));
    }
}

} // namespace Morvaniel
