#pragma once

#include "FlowThread.h"
#include "LauncherSettings.h"
#include "MainButtonState.h"

#include "core/RemoteInfo.h"

#include <QStringList>
#include <QWidget>

class Carousel;
class ElidedLabel;
class InUseDialog;
class ProgressPanel;
class QLabel;
class QListWidget;
class QPushButton;
class SettingsDialog;

// Where the window's runs go: the game's server and install folder, and the
// launcher's own folder and version for its self-update.
struct LauncherPlace
{
    QString launcherDir;
    QString launcherVersion;
};

// The launcher window: news and pictures of the server, the installed and
// newest versions, one main button whose label follows what comes next, the
// progress of a run and a status line with the flow's own texts. Every run
// goes through the shared update flow on its own thread.
class LauncherWindow : public QWidget
{
    Q_OBJECT

public:
    LauncherWindow(const LauncherSettings &settings, const LauncherPlace &place, QWidget *parent = nullptr);
    ~LauncherWindow() override;

    // Asks the server: the launcher's newest version, then the game's.
    void start();

    MainAction action() const { return m_action; }
    const LauncherSettings &settings() const { return m_settings; }
    QPushButton *mainButton() const { return m_main; }
    ProgressPanel *progress() const { return m_progress; }
    ElidedLabel *statusLine() const { return m_status; }
    QLabel *versionLine() const { return m_versions; }
    QListWidget *announcements() const { return m_news; }
    Carousel *carousel() const { return m_carousel; }
    QWidget *launcherBanner() const { return m_banner; }
    InUseDialog *inUseDialog() const { return m_inUse; }
    QPushButton *settingsButton() const { return m_settingsButton; }
    // The dialog that settingsButton opens, while it is open.
    SettingsDialog *settingsDialog() const { return m_settingsDialog; }
    FlowThread &flowThread() { return m_flow; }

signals:
    void actionChanged(MainAction action);
    // A run of the flow ended (after the window showed its result).
    void runEnded(FlowThread::Run run, int result);
    // The settings the dialog accepted are in the store.
    void settingsSaved();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildUi();
    // Wide enough for every label it takes, so that it neither clips nor jumps
    // between states; measured with the font and padding the style gives it.
    void fitMainButton();
    void connectFlow();
    void setAction(MainAction action);
    void onMainClicked();
    void onRunFinished(FlowThread::Run run, int result);
    void startRun(FlowThread::Run run);
    // What the button offers once nothing runs.
    MainAction restingAction() const;
    void showRemoteInfo(const Morvaniel::RemoteInfo &info);
    void showVersions();
    void setStatus(const QString &text, bool error);
    void openSettings();
    void applySettings(const LauncherSettings &settings);
    void play();

    LauncherSettings m_settings;
    LauncherPlace m_place;
    FlowThread m_flow;
    MainAction m_action = MainAction::Checking;
    FlowThread::Run m_resumeRun = FlowThread::Run::Update;
    QString m_installed;
    QString m_newest;
    QStringList m_badFiles;
    QString m_error; // the last error of the running run
    bool m_maintenance = false;
    QString m_maintenanceText;
    bool m_checkedOnce = false;

    QLabel *m_title = nullptr;
    QWidget *m_banner = nullptr;
    QLabel *m_bannerText = nullptr;
    QPushButton *m_bannerButton = nullptr;
    Carousel *m_carousel = nullptr;
    QListWidget *m_news = nullptr;
    QLabel *m_versions = nullptr;
    ProgressPanel *m_progress = nullptr;
    ElidedLabel *m_status = nullptr;
    QPushButton *m_main = nullptr;
    QPushButton *m_settingsButton = nullptr;
    InUseDialog *m_inUse = nullptr;
    SettingsDialog *m_settingsDialog = nullptr;
};
