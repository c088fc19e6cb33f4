#pragma once

#include "FlowError.h"
#include "Stage.h"
#include "TransferProgress.h"
#include "UpdateReport.h"

#include "core/RemoteInfo.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVector>

Q_DECLARE_METATYPE(Morvaniel::RemoteInfo)
Q_DECLARE_METATYPE(HostFlow::Stage)

namespace HostFlow {

// What a run tells its views, and what it found. The job owns one and hands
// it to the parts of the flow and to the stage runner; views connect to its
// signals. Every signal comes on the GUI thread, from the library's callbacks
// or from the view's own calls.
class FlowReporter : public QObject
{
    Q_OBJECT

public:
    explicit FlowReporter(QObject *parent = nullptr);

    // A run begins: what the last one found is forgotten.
    void reset();

    void info(const QString &text, const QJsonObject &fields = QJsonObject()) { emit message(text, fields); }
    void warning(const QString &text);
    // The run left the server from for to: logged, and told as serverSwitched.
    void switchedServer(const QString &from, const QString &to, const QString &reason);
    static QString switchText(const QString &from, const QString &to, const QString &reason);
    // The run fails with error (the part then ends it); logged with the library's text.
    void fail(const FlowError &error);
    const FlowError &lastError() const { return m_error; }

    // What the last update run did; the bad files the last check or verify found.
    UpdateReport &report() { return m_report; }
    const UpdateReport &report() const { return m_report; }
    QVector<QString> badFiles() const { return m_badFiles; }
    void setBadFiles(const QVector<QString> &files) { m_badFiles = files; }
    QString launcherVersionReached() const { return m_launcherReached; }
    void setLauncherVersionReached(const QString &version) { m_launcherReached = version; }
    int releasesAccepted() const { return m_releasesAccepted; }
    void countReleaseAccepted() { ++m_releasesAccepted; }

signals:
    // A stage of the library starts. A background stage runs beside the one
    // the views follow (an extraction beside the download): it tells no
    // progress and no end of its own.
    void stageStarted(HostFlow::Stage stage, const QString &detail, bool background = false);
    // A part of the flow that spans stages: "repair", "resume".
    void phaseStarted(const QString &name, const QString &detail);
    // A log line; fields carry its values for a program that reads them.
    void message(const QString &text, const QJsonObject &fields);
    void warningRaised(const QString &text);
    // The server from failed (reason: the flow's sentence); the run goes on with to.
    void serverSwitched(const QString &from, const QString &to, const QString &reason);
    void errorRaised(const HostFlow::FlowError &error);
    void downloadProgress(const TransferProgress &progress);
    // Any other stage's progress, 0 to 1; step names what runs inside the
    // stage ("extract", "verify", "patch", "copy", "delete", "update").
    void stageProgress(HostFlow::Stage stage, const QString &step, double fraction);
    // A stage that reported progress has ended.
    void progressEnded();
    void remoteInfoReceived(const Morvaniel::RemoteInfo &info);
    // installed is empty when nothing is installed.
    void versionsKnown(const QString &installed, const QString &newest);
    // An interrupted update left onDisk of its total bytes in the cache (of a
    // block run: the block bytes it wrote into the game).
    void partialDownload(qint64 onDisk, qint64 total);
    void stepStarted(const QString &from, const QString &to);
    // How the update goes: chosen is "blocks" or "archives"; the plan's bytes
    // of blocks to fetch beside the bytes of the archives (the patch chain
    // or the full pack, as other names it).
    void deliveryChosen(const QString &chosen, qint64 blockBytes, const QString &other, qint64 otherBytes);
    // The update run reached version, with bytes from the network.
    void updated(const QString &version, qint64 bytes);
    void verified(const QString &version, const QStringList &badFiles);
    void launcherChecked(const QString &installed, const QString &newest);
    void launcherUpdated(const QString &version);
    // Files of the game that another program holds open; nothing is written
    // until the view answers through UpdateFlow::answerFilesInUse().
    void filesInUse(const QStringList &paths);

private:
    FlowError m_error;
    UpdateReport m_report;
    QVector<QString> m_badFiles;
    QString m_launcherReached;
    int m_releasesAccepted = 0;
};

} // namespace HostFlow
