#pragma once

#include "TransferProgress.h"

#include <QWidget>

class QProgressBar;

namespace Launcher {

class ElidedLabel;

// The progress bar with its percent, and beneath it a line with the bytes,
// the speed and the time left of a download (or the running stage's name).
class ProgressPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressPanel(QWidget *parent = nullptr);

    QProgressBar *bar() const { return m_bar; }
    ElidedLabel *details() const { return m_details; }

    void showDownload(const HostFlow::TransferProgress &progress);
    void showStage(const QString &stageText, double fraction);
    // Waiting (for the server, or a stage that tells no progress): the bar
    // runs without a value.
    void showBusy(const QString &details = QString());
    // A download that stopped with onDisk of total bytes in the cache.
    void showPartial(qint64 onDisk, qint64 total, const QString &what);
    // At rest, at percent, with details as the line below.
    void showRest(int percent, const QString &details = QString());

private:
    QProgressBar *m_bar;
    ElidedLabel *m_details;
};

} // namespace Launcher
