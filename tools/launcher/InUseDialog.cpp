#include "InUseDialog.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace Launcher {

InUseDialog::InUseDialog(QWidget *parent)
    : QDialog(parent)
    , m_list(new QListWidget(this))
    , m_retry(new QPushButton(tr("Retry"), this))
    , m_cancel(new QPushButton(tr("Cancel"), this))
{
    setObjectName(QStringLiteral("inUseDialog"));
    setWindowTitle(tr("Game files in use"));
    auto *text = new QLabel(tr("Another program holds these game files open. Close it, then retry."), this);
    text->setWordWrap(true);
    m_list->setObjectName(QStringLiteral("inUseFiles"));
    // A long path keeps its start and its file name; the tooltip has it whole.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_retry->setObjectName(QStringLiteral("retryButton"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_retry->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_retry);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(520, 240);
    connect(m_retry, &QPushButton::clicked, this, [this]() {
        hide();
        emit answered(true);
    });
    connect(m_cancel, &QPushButton::clicked, this, [this]() {
        hide();
        emit answered(false);
    });
    // Closing the dialog is a Cancel: the flow must not wait for ever.
    connect(this, &QDialog::rejected, this, [this]() { emit answered(false); });
}

void InUseDialog::setFiles(const QStringList &files)
{
    m_list->clear();
    for (const QString &file : files) {
        m_list->addItem(QDir::toNativeSeparators(file));
        m_list->item(m_list->count() - 1)->setToolTip(QDir::toNativeSeparators(file));
    }
}

QStringList InUseDialog::files() const
{
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i)
        out << m_list->item(i)->text();
    return out;
}

} // namespace Launcher
