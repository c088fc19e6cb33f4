#include "SettingsDialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace Launcher {

SettingsDialog::SettingsDialog(const LauncherSettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
    , m_dir(new QLineEdit(settings.installDir, this))
    , m_limit(new QSpinBox(this))
    , m_autoUpdate(new QCheckBox(tr("Update the game automatically"), this))
    , m_music(new QCheckBox(tr("Play background music"), this))
    , m_save(new QPushButton(tr("Save"), this))
{
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(tr("Settings"));
    m_dir->setObjectName(QStringLiteral("installDirEdit"));
    m_limit->setObjectName(QStringLiteral("speedLimitBox"));
    m_limit->setRange(0, 1024 * 1024);
    m_limit->setSingleStep(256);
    m_limit->setSuffix(tr(" KiB/s"));
    m_limit->setSpecialValueText(tr("Unlimited"));
    m_limit->setValue(settings.speedLimitKiB);
    // Typed rather than stepped: the style sheet's frame leaves no room for arrows.
    m_limit->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_limit->setMaximumWidth(m_limit->fontMetrics().horizontalAdvance(QStringLiteral("0000000 KiB/s")) + 32);
    m_autoUpdate->setChecked(settings.autoUpdate);
    m_music->setChecked(settings.backgroundMusic);
    auto *browse = new QPushButton(tr("Browse…"), this);
    connect(browse, &QPushButton::clicked, this, [this]() {
        const QString dir = QFileDialog::getExistingDirectory(this, tr("Install folder"), m_dir->text());
        if (!dir.isEmpty())
            m_dir->setText(dir);
    });
    auto *folder = new QHBoxLayout;
    folder->addWidget(m_dir, 1);
    folder->addWidget(browse);
    auto *form = new QFormLayout;
    form->addRow(tr("Install folder"), folder);
    form->addRow(tr("Download speed"), m_limit);
    form->addRow(QString(), m_autoUpdate);
    form->addRow(QString(), m_music);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_save->setDefault(true);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    connect(m_save, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_save);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(buttons);
    resize(560, 240);
}

LauncherSettings SettingsDialog::settings() const
{
    LauncherSettings s = m_settings;
    s.installDir = m_dir->text().trimmed();
    s.speedLimitKiB = m_limit->value();
    s.autoUpdate = m_autoUpdate->isChecked();
    s.backgroundMusic = m_music->isChecked();
    return s;
}

} // namespace Launcher
