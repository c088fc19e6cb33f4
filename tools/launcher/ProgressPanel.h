#pragma once

#include "TransferProgress.h"

#include <QWidget>

class ElidedLabel;
class QProgressBar;

// The progress bar with its percent, and beneath it a line with the bytes,
// the speed and the time left of a download (or the running stage's name).
class ProgressPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressPanel(QWidget *parent = nullptr);

    QProgressBar *bar() const { return m_bar; }
    ElidedLabel *details() const { return m_details; }

    void showDownload(const TransferProgress &progress);
    void showStage(const QString &stageText, double fraction);
    // Waiting for the server: the bar runs without a value.
    void showBusy();
    // At rest, at percent, with details as the line below.
    void showRest(int percent, const QString &details = QString());

private:
    QProgressBar *m_bar;
    ElidedLabel *m_details;
};
