#pragma once

#include "LauncherSettings.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace Launcher {

// The launcher's settings: install folder, speed limit, automatic update and
// background music. accepted() hands on what the user chose.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(const LauncherSettings &settings, QWidget *parent = nullptr);

    LauncherSettings settings() const;
    QLineEdit *installDirEdit() const { return m_dir; }
    QSpinBox *speedLimitBox() const { return m_limit; }
    QCheckBox *autoUpdateBox() const { return m_autoUpdate; }
    QCheckBox *musicBox() const { return m_music; }
    QPushButton *saveButton() const { return m_save; }

private:
    LauncherSettings m_settings;
    QLineEdit *m_dir;
    QSpinBox *m_limit;
    QCheckBox *m_autoUpdate;
    QCheckBox *m_music;
    QPushButton *m_save;
};

} // namespace Launcher
