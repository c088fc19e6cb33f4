#include "ProgressPanel.h"

#include "ElidedLabel.h"

#include "util/QtUtil.h"

#include <QProgressBar>
#include <QVBoxLayout>

namespace Launcher {

ProgressPanel::ProgressPanel(QWidget *parent)
    : QWidget(parent)
    , m_bar(new QProgressBar(this))
    , m_details(new ElidedLabel(this))
{
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setFormat(QStringLiteral("%p%"));
    m_bar->setTextVisible(true);
    m_details->setObjectName(QStringLiteral("progressDetails"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_bar);
    layout->addWidget(m_details);
}

void ProgressPanel::showDownload(const HostFlow::TransferProgress &p)
{
    m_bar->setRange(0, 100);
    // A block run with nothing to fetch still checks and copies: its own figure.
    m_bar->setValue(p.total > 0 ? int(p.done * 100 / p.total) : qBound(0, int(p.fraction * 100.0), 100));
    m_details->setFullText(tr("%1 / %2   %3   %4 left")
                               .arg(QtUtil::transformUnit(p.done, false), QtUtil::transformUnit(p.total, false),
                                   QtUtil::transformUnit(p.speed, true), QtUtil::transformTime(p.secondsLeft)));
}

void ProgressPanel::showStage(const QString &stageText, double fraction)
{
    m_bar->setRange(0, 100);
    m_bar->setValue(qBound(0, int(fraction * 100.0), 100));
    m_details->setFullText(stageText);
}

void ProgressPanel::showBusy(const QString &details)
{
    m_bar->setRange(0, 0);
    m_details->setFullText(details);
}

void ProgressPanel::showPartial(qint64 onDisk, qint64 total, const QString &what)
{
    m_bar->setRange(0, 100);
    m_bar->setValue(total > 0 ? int(qBound<qint64>(0, onDisk * 100 / total, 100)) : 0);
    // No speed and no time left: nothing is moving.
    m_details->setFullText(tr("%1: %2 of %3 downloaded")
                               .arg(what, QtUtil::transformUnit(onDisk, false), QtUtil::transformUnit(total, false)));
}

void ProgressPanel::showRest(int percent, const QString &details)
{
    m_bar->setRange(0, 100);
    m_bar->setValue(percent);
    m_details->setFullText(details);
}

} // namespace Launcher
