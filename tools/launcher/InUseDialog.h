#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace Launcher {

// Names the game files another program holds open and offers Retry or
// Cancel; the flow patches nothing until one is chosen.
class InUseDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InUseDialog(QWidget *parent = nullptr);

    void setFiles(const QStringList &files);
    QStringList files() const;
    QPushButton *retryButton() const { return m_retry; }
    QPushButton *cancelButton() const { return m_cancel; }

signals:
    // true: check again; false: stop the run.
    void answered(bool retry);

private:
    QListWidget *m_list;
    QPushButton *m_retry;
    QPushButton *m_cancel;
};

} // namespace Launcher
