#pragma once

#include "MorvanielGlobal.h"
#include "manifest/FileManifest.h"

#include <QMap>
#include <QPair>
#include <QString>
#include <QThread>
#include <QVariant>
#include <QVector>

class QProcess;

namespace Morvaniel {

// One binary patch of a merge stage: the game file, the patch file and where
// the tool writes (the same file: patches apply in place).
struct PatchTask
{
    QString oldPath;
    QString relativePath;
    QString diffPath;
    QString outPath;
};

// The merge stage: runs the patch tool once per patch file of an unpacked
// patch, then adds the patch's new files to the game folder and deletes the
// ones it removes. Every run ends with exactly one MergeFinished.
class MergeThread : public QThread
{
    Q_OBJECT

public:
    explicit MergeThread(QObject *parent = nullptr);
    ~MergeThread() override;

    // Called on the owner's thread while the thread is idle; reads and parses
    // the patch manifest.
    void SetPaths(const QString &manifestFilePath, const QString &targetPath, const QString &tempPath);
    void SetSkipPatchFiles(bool skip) { m_bSkipPatchFiles = skip; }

    // How long one run of the tool may take before the file counts as in use.
    // Three hours; the test suite shortens it.
    static void SetToolTimeoutMs(int ms);

signals:
    void MergeFinished(QString errorString, bool needMd5CheckPaksDir);
    void MergeProgress(qulonglong percent, qulonglong totalpercent, QVariant status);

private slots:
    void finishedThread();

protected:
    void run() override;

private:
    bool checkManifestPaths();
    bool checkPatchTool();
    void recordToolFailure(const QString &program, const QString &reason);
    void recordStopped();
    bool waitForTool(QProcess &process);
    void buildTasks();
    bool runPatchTool(const PatchTask &task);
    void readToolOutput(QProcess *process, const PatchTask &task);
    void emitPatchProgress();
    void addNewFiles(const QStringList &paths, const QString &targetPath, const QString &patchDir);
    void deleteFiles(const QStringList &paths, const QString &targetPath);
    void recordFileInUse(const QString &path);

    bool m_bSkipPatchFiles = false;
    bool m_bFatalError = false;
    QString m_errorString;
    bool needMd5CheckPaksDir = false;
    int m_mergeIndex = 0;
    FileManifest m_newFiles;
    FileManifest m_delFiles;
    FileManifest m_patchFiles;
    QString m_patchDir;
    QString _targetPath;
    QString _tempPath;
    QVector<PatchTask> m_tasks;
    QMap<QString, QPair<quint64, qint32>> m_patchProgress; // diffPath -> (weight, percent)
};

} // namespace Morvaniel
