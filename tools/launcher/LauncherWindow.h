#pragma once

#include "LauncherSettings.h"
#include "MainButtonState.h"

#include "FlowError.h"
#include "Stage.h"
#include "TransferProgress.h"

#include "core/RemoteInfo.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace HostFlow {
class UpdateFlow;
}

namespace Launcher {

class Carousel;
class ElidedLabel;
class InUseDialog;
class ProgressPanel;
class SettingsDialog;

// Where the window's runs go: the launcher's own folder and version for its self-update.
struct LauncherPlace
{
    QString launcherDir;
    QString launcherVersion;
};

// What the window asks of the flow.
enum class Run { Check, Update, Repair, CheckLauncher, UpdateLauncher };

// The launcher window: news and pictures of the server, the installed and
// newest versions, one main button whose label follows what comes next, the
// progress of a run and a status line in the player's words (the flow's and
// the library's own texts in its tooltip and the log).
//
// Every run goes through the update flow, a job on this thread. Closing the
// window stops the run and closes once it finished, at the latest after
// CloseDeadlineMs.
class LauncherWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int CloseDeadlineMs = 10000;

    LauncherWindow(const LauncherSettings &settings, const LauncherPlace &place, QWidget *parent = nullptr);
    ~LauncherWindow() override;

    // Asks the server: the launcher's newest version, then the game's.
    void start();

    MainAction action() const { return m_action; }
    const LauncherSettings &settings() const { return m_settings; }
    QPushButton *mainButton() const { return m_main; }
    ProgressPanel *progress() const { return m_progress; }
    ElidedLabel *statusLine() const { return m_status; }
    // The server's maintenance text (shortened to a few lines; whole in its tooltip).
    ElidedLabel *notice() const { return m_notice; }
    // Says that updates are not checked when the launcher trusts no publisher key.
    ElidedLabel *signatureNote() const { return m_signatureNote; }
    QLabel *versionLine() const { return m_versions; }
    QListWidget *announcements() const { return m_news; }
    Carousel *carousel() const { return m_carousel; }
    QWidget *launcherBanner() const { return m_banner; }
    InUseDialog *inUseDialog() const { return m_inUse; }
    QPushButton *settingsButton() const { return m_settingsButton; }
    // The dialog that settingsButton opens, while it is open.
    SettingsDialog *settingsDialog() const { return m_settingsDialog; }
    HostFlow::UpdateFlow &flow() { return *m_flow; }

signals:
    void actionChanged(Launcher::MainAction action);
    // A run of the flow ended (after the window showed its result).
    void runEnded(Launcher::Run run, int result);
    // The settings the dialog accepted are in the store.
    void settingsSaved();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildUi();
    // Wide enough for every label it takes, so that it neither clips nor jumps
    // between states; measured with the font and padding the style gives it.
    void fitMainButton();
    void connectFlow();
    void setAction(MainAction action);
    void onMainClicked();
    void onRunFinished(int result);
    void startRun(Run run);
    // What the button offers once nothing runs.
    MainAction restingAction() const;
    void showRest();
    void showRemoteInfo(const Morvaniel::RemoteInfo &info);
    void showStage(HostFlow::Stage stage);
    void showVersions();
    void showNotice();
    void setStatus(const QString &text, bool error, const QString &details = QString());
    void showError(const HostFlow::FlowError &error);
    void openSettings();
    void applySettings(const LauncherSettings &settings);
    void forgetInstall();
    void play();

    LauncherSettings m_settings;
    LauncherPlace m_place;
    HostFlow::UpdateFlow *m_flow;
    Run m_run = Run::Check;
    MainAction m_action = MainAction::Checking;
    Run m_resumeRun = Run::Update;
    // The install folder the versions and the button describe (the last check's).
    QString m_describedDir;
    QString m_installed;
    QString m_newest;
    QStringList m_badFiles;
    // What an interrupted update left in the cache.
    qint64 m_partialBytes = 0;
    qint64 m_partialTotal = 0;
    HostFlow::FlowError m_error; // the error of the running run
    bool m_failed = false;
    bool m_maintenance = false;
    QString m_maintenanceText;
    bool m_checkAfterRun = false; // the install folder changed while a run went on
    bool m_closing = false;
    bool m_closeNow = false;

    QLabel *m_title = nullptr;
    QWidget *m_banner = nullptr;
    QLabel *m_bannerText = nullptr;
    QPushButton *m_bannerButton = nullptr;
    ElidedLabel *m_notice = nullptr;
    ElidedLabel *m_signatureNote = nullptr;
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

} // namespace Launcher

Q_DECLARE_METATYPE(Launcher::Run)
