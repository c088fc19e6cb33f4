#include "LauncherWindow.h"

#include "Carousel.h"
#include "ElidedLabel.h"
#include "InUseDialog.h"
#include "InstallState.h"
#include "ProgressPanel.h"
#include "RunTexts.h"
#include "SettingsDialog.h"
#include "UpdateFlow.h"

#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/QtUtil.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace Launcher {

using HostFlow::FlowError;
using HostFlow::FlowReporter;
using HostFlow::Stage;
using HostFlow::UpdateFlow;

namespace {

const QSize DefaultMinimumSize(900, 560);

// The game's program inside its folder, as the sample game and its publisher name it.
const QString GameProgram = QStringLiteral("Morvaniel.exe");

} // namespace

LauncherWindow::LauncherWindow(const LauncherSettings &settings, const LauncherPlace &place, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_place(place)
    , m_flow(new UpdateFlow(this))
    , m_describedDir(settings.installDir)
{
    qRegisterMetaType<Launcher::Run>();
    qRegisterMetaType<Launcher::MainAction>();
    buildUi();
    connectFlow();
    setAction(MainAction::Checking);
    showNotice();
}

LauncherWindow::~LauncherWindow() = default;

bool LauncherWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // The notice and the banner come and go, and fonts differ between systems:
    // the window never gets smaller than what its layout needs, or its parts
    // would overlap. Growing the minimum enlarges a window that is smaller.
    if (event->type() == QEvent::LayoutRequest && layout())
        setMinimumSize(DefaultMinimumSize.expandedTo(layout()->minimumSize()));
    return handled;
}

void LauncherWindow::buildUi()
{
    setObjectName(QStringLiteral("launcherWindow"));
    setWindowTitle(QStringLiteral("Morvaniel"));
    setMinimumSize(DefaultMinimumSize);

    m_title = new QLabel(QStringLiteral("Morvaniel"), this);
    m_title->setObjectName(QStringLiteral("title"));
    QtUtil::UseBoldFont(m_title, true);
    m_settingsButton = new QPushButton(tr("Settings"), this);
    m_settingsButton->setObjectName(QStringLiteral("settingsButton"));
    connect(m_settingsButton, &QPushButton::clicked, this, &LauncherWindow::openSettings);
    auto *header = new QHBoxLayout;
    header->addWidget(m_title);
    header->addStretch();
    header->addWidget(m_settingsButton);

    m_banner = new QWidget(this);
    m_banner->setObjectName(QStringLiteral("launcherBanner"));
    m_banner->setAttribute(Qt::WA_StyledBackground);
    m_bannerText = new QLabel(m_banner);
    m_bannerText->setObjectName(QStringLiteral("bannerText"));
    m_bannerButton = new QPushButton(tr("Update the launcher"), m_banner);
    m_bannerButton->setObjectName(QStringLiteral("bannerButton"));
    connect(m_bannerButton, &QPushButton::clicked, this, [this]() { startRun(Run::UpdateLauncher); });
    auto *bannerLayout = new QHBoxLayout(m_banner);
    bannerLayout->addWidget(m_bannerText, 1);
    bannerLayout->addWidget(m_bannerButton);
    m_banner->hide();

    // The server's maintenance text, which may be long, and the note on unsigned updates.
    m_notice = new ElidedLabel(this);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->setLines(4);
    m_notice->hide();
    m_signatureNote = new ElidedLabel(this);
    m_signatureNote->setObjectName(QStringLiteral("signatureNote"));
    m_signatureNote->setTextFormat(Qt::PlainText);
    m_signatureNote->setLines(2);
    m_signatureNote->hide();

    m_carousel = new Carousel(this);
    auto *newsTitle = new QLabel(tr("Announcements"), this);
    newsTitle->setObjectName(QStringLiteral("newsTitle"));
    QtUtil::UseBoldFont(newsTitle, true);
    m_news = new QListWidget(this);
    m_news->setObjectName(QStringLiteral("announcements"));
    m_news->setSelectionMode(QAbstractItemView::NoSelection);
    auto *newsColumn = new QVBoxLayout;
    newsColumn->addWidget(newsTitle);
    newsColumn->addWidget(m_news, 1);
    auto *middle = new QHBoxLayout;
    middle->addWidget(m_carousel, 3);
    middle->addLayout(newsColumn, 2);

    m_versions = new QLabel(this);
    m_versions->setObjectName(QStringLiteral("versions"));
    m_progress = new ProgressPanel(this);
    m_status = new ElidedLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    // Room for a folder's name beside what went wrong.
    m_status->setLines(2);
    m_main = new QPushButton(this);
    m_main->setObjectName(QStringLiteral("mainButton"));
    m_main->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding);
    fitMainButton();
    connect(m_main, &QPushButton::clicked, this, &LauncherWindow::onMainClicked);
    auto *bottom = new QGridLayout;
    bottom->addWidget(m_versions, 0, 0);
    bottom->addWidget(m_progress, 1, 0);
    bottom->addWidget(m_status, 2, 0);
    bottom->addWidget(m_main, 0, 1, 3, 1);
    bottom->setColumnStretch(0, 1);
    bottom->setHorizontalSpacing(24);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 20);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addWidget(m_banner);
    layout->addWidget(m_notice);
    layout->addWidget(m_signatureNote);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    m_inUse = new InUseDialog(this);
    connect(m_inUse, &InUseDialog::answered, this, [this](bool retry) { m_flow->answerFilesInUse(retry); });
    showVersions();
}

void LauncherWindow::connectFlow()
{
    FlowReporter *reports = m_flow->reporter();
    connect(m_flow, &UpdateFlow::finished, this, &LauncherWindow::onRunFinished);
    connect(reports, &FlowReporter::stageStarted, this, [this](Stage stage, const QString &, bool background) {
        // An extraction beside the download: the window goes on showing the download.
        if (!background)
            showStage(stage);
    });
    connect(reports, &FlowReporter::phaseStarted, this, [this](const QString &phase, const QString &) {
        if (m_action == MainAction::Pause)
            setStatus(stepText(phase), false);
    });
    connect(reports, &FlowReporter::downloadProgress, this,
        [this](const HostFlow::TransferProgress &p) { m_progress->showDownload(p); });
    connect(reports, &FlowReporter::stageProgress, this,
        [this](Stage, const QString &step, double fraction) { m_progress->showStage(stepText(step), fraction); });
    connect(reports, &FlowReporter::errorRaised, this, [this](const FlowError &error) {
        m_error = error;
        m_failed = true;
    });
    connect(reports, &FlowReporter::remoteInfoReceived, this, &LauncherWindow::showRemoteInfo);
    connect(reports, &FlowReporter::versionsKnown, this, [this](const QString &installed, const QString &newest) {
        m_installed = installed;
        m_newest = newest;
        showVersions();
    });
    connect(reports, &FlowReporter::partialDownload, this, [this](qint64 onDisk, qint64 total) {
        m_partialBytes = onDisk;
        m_partialTotal = total;
    });
    connect(
        reports, &FlowReporter::verified, this, [this](const QString &, const QStringList &bad) { m_badFiles = bad; });
    connect(reports, &FlowReporter::updated, this, [this](const QString &version, qint64) {
        m_installed = version;
        m_badFiles.clear();
        m_partialBytes = 0;
        showVersions();
    });
    connect(reports, &FlowReporter::filesInUse, this, [this](const QStringList &paths) {
        m_inUse->setFiles(paths);
        m_inUse->show();
        QtUtil::MoveToCenter(this, m_inUse);
        m_inUse->raise();
    });
    connect(reports, &FlowReporter::launcherChecked, this, [this](const QString &installed, const QString &newest) {
        if (newest.isEmpty() || newest == installed)
            return;
        m_bannerText->setText(tr("Launcher %1 is available (this is %2).")
                                  .arg(newest, installed.isEmpty() ? tr("an unknown version") : installed));
        m_bannerButton->setEnabled(true);
        m_banner->show();
    });
}

void LauncherWindow::start()
{
    setAction(MainAction::Checking);
    startRun(Run::CheckLauncher);
}

void LauncherWindow::startRun(Run run)
{
    if (m_closing || m_flow->running())
        return;
    HostFlow::FlowOptions options;
    options.servers = m_settings.addresses(); // the run drops trailing slashes and repeats
    options.installDir = m_settings.installDir;
    options.limitKiB = m_settings.speedLimitKiB > 0 ? m_settings.speedLimitKiB : -1;
    options.trustedKeys = m_settings.allTrustedKeys();
    if (run == Run::CheckLauncher || run == Run::UpdateLauncher) {
        options.installDir = m_place.launcherDir;
        options.launcherVersion = m_place.launcherVersion;
    }
    m_flow->setOptions(options);
    m_run = run;
    m_error = FlowError();
    m_failed = false;
    switch (run) {
    case Run::Update:
    case Run::Repair:
        m_resumeRun = run;
        // The run tells at its end what it left in the cache.
        m_partialBytes = 0;
        setStatus(QString(), false);
        setAction(MainAction::Pause);
        if (run == Run::Update)
            m_flow->update();
        else
            m_flow->verify(true);
        break;
    case Run::UpdateLauncher:
        m_bannerButton->setEnabled(false);
        m_flow->updateLauncher();
        break;
    case Run::Check:
        m_describedDir = m_settings.installDir;
        m_partialBytes = 0;
        m_flow->check();
        break;
    case Run::CheckLauncher:
        m_flow->checkLauncher();
        break;
    }
}

void LauncherWindow::onMainClicked()
{
    switch (m_action) {
    case MainAction::Install:
    case MainAction::Update:
        startRun(Run::Update);
        break;
    case MainAction::Resume:
        startRun(m_resumeRun);
        break;
    case MainAction::Repair:
        startRun(Run::Repair);
        break;
    case MainAction::Pause:
        setAction(MainAction::Pausing);
        m_flow->stop();
        break;
    case MainAction::Play:
        play();
        break;
    case MainAction::Checking:
    case MainAction::Pausing:
    case MainAction::Maintenance:
        break;
    }
}

MainAction LauncherWindow::restingAction() const
{
    if (m_maintenance)
        return MainAction::Maintenance;
    if (m_partialBytes > 0)
        return MainAction::Resume;
    if (m_installed.isEmpty())
        return MainAction::Install;
    if (!m_newest.isEmpty() && m_installed != m_newest)
        return MainAction::Update;
    if (!m_badFiles.isEmpty())
        return MainAction::Repair;
    return MainAction::Play;
}

void LauncherWindow::onRunFinished(int result)
{
    const Run run = m_run;
    m_inUse->hide();
    if (m_closing) {
        emit runEnded(run, result);
        m_closeNow = true;
        close();
        return;
    }
    switch (run) {
    case Run::CheckLauncher:
        // No launcher channel on the server is no reason to bother the player.
        startRun(Run::Check);
        break;
    case Run::Check:
        setAction(restingAction());
        if (m_failed)
            showError(m_error);
        else if (m_action == MainAction::Repair)
            setStatus(tr("%n game file(s) differ from version %1", nullptr, m_badFiles.size()).arg(m_installed), true);
        else
            setStatus(QString(), false);
        if (m_settings.autoUpdate
            && (m_action == MainAction::Install || m_action == MainAction::Update || m_action == MainAction::Resume))
            startRun(Run::Update);
        break;
    case Run::Update:
    case Run::Repair:
        if (result == UpdateFlow::Paused) {
            setAction(MainAction::Resume);
            setStatus(tr("Paused"), false);
        } else if (result == UpdateFlow::Ok) {
            m_badFiles.clear();
            m_partialBytes = 0;
            setAction(restingAction());
            setStatus(tr("Version %1 is ready").arg(m_installed), false);
        } else {
            MainAction again = restingAction();
            if (run == Run::Repair && again == MainAction::Play)
                again = MainAction::Repair;
            setAction(again);
            showError(m_error);
        }
        break;
    case Run::UpdateLauncher:
        if (result == UpdateFlow::Ok) {
            m_bannerText->setText(
                tr("Launcher %1 is installed; it starts with the next launch.").arg(m_flow->launcherVersionReached()));
            m_bannerButton->hide();
        } else {
            m_bannerText->setText(m_error.playerText());
            m_bannerText->setToolTip(m_error.message);
            m_bannerButton->setEnabled(true);
        }
        break;
    }
    if (m_checkAfterRun && !m_flow->running()) {
        m_checkAfterRun = false;
        forgetInstall();
        startRun(Run::Check);
    }
    emit runEnded(run, result);
}

void LauncherWindow::closeEvent(QCloseEvent *event)
{
    if (!m_flow->running() || m_closeNow) {
        m_inUse->hide();
        event->accept();
        return;
    }
    // The run stops first: the library's workers must not go on writing the
    // game for a window that is gone, and the state must say where it stopped.
    event->ignore();
    if (m_closing)
        return;
    m_closing = true;
    m_inUse->hide();
    m_main->setEnabled(false);
    setStatus(tr("Stopping the update before closing"), false);
    m_flow->stop();
    QTimer::singleShot(CloseDeadlineMs, this, [this]() {
        if (!m_flow->running())
            return;
        Logger::LogInfo(QStringLiteral("Launcher"),
            QStringLiteral("the update did not stop within %1 s of the close; closing anyway")
                .arg(CloseDeadlineMs / 1000));
        m_closeNow = true;
        close();
    });
}

void LauncherWindow::fitMainButton()
{
    m_main->ensurePolished();
    const QString shown = m_main->text();
    int widest = 0;
    for (MainAction a : { MainAction::Checking, MainAction::Install, MainAction::Update, MainAction::Pause,
             MainAction::Resume, MainAction::Repair, MainAction::Play, MainAction::Maintenance }) {
        const QString label = mainButtonLabel(a);
        m_main->setText(label);
        widest = qMax(widest, qMax(m_main->sizeHint().width(), m_main->fontMetrics().horizontalAdvance(label) + 96));
    }
    m_main->setText(shown);
    m_main->setMinimumWidth(widest);
}

void LauncherWindow::showEvent(QShowEvent *event)
{
    fitMainButton();
    QWidget::showEvent(event);
}

void LauncherWindow::changeEvent(QEvent *event)
{
    // A new style sheet or font changes what the labels need.
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)
        fitMainButton();
    QWidget::changeEvent(event);
}

void LauncherWindow::setAction(MainAction action)
{
    m_action = action;
    m_main->setText(mainButtonLabel(action));
    m_main->setEnabled(mainButtonEnabled(action) && !m_closing);
    showRest();
    emit actionChanged(action);
}

void LauncherWindow::showRest()
{
    switch (m_action) {
    case MainAction::Checking:
        m_progress->showBusy();
        break;
    case MainAction::Install:
    case MainAction::Update:
    case MainAction::Repair:
    case MainAction::Maintenance:
    case MainAction::Pause:
        m_progress->showRest(0);
        break;
    case MainAction::Play:
        m_progress->showRest(100);
        break;
    case MainAction::Resume:
        m_progress->showPartial(m_partialBytes, m_partialTotal, tr("Paused"));
        break;
    case MainAction::Pausing:
        break; // the bar keeps where the run is
    }
}

void LauncherWindow::showStage(Stage stage)
{
    if (m_action != MainAction::Pause && m_action != MainAction::Pausing)
        return;
    setStatus(stageText(stage), false);
    switch (stage) {
    case Stage::Fetch:
    case Stage::Download:
    case Stage::Blocks:
        break; // a download shows its bytes; a document is over in a moment
    default:
        // Every stage starts its bar from 0: the last one's 100 % is not this one's.
        m_progress->showStage(stageText(stage), 0.0);
        break;
    }
}

void LauncherWindow::showRemoteInfo(const Morvaniel::RemoteInfo &info)
{
    m_news->clear();
    for (const Morvaniel::InfoItem &item : info.announcement)
        m_news->addItem(item.time.isEmpty() ? item.title : QStringLiteral("%1   %2").arg(item.time, item.title));
    for (const Morvaniel::InfoItem &item : info.activity)
        m_news->addItem(item.time.isEmpty() ? item.title : QStringLiteral("%1   %2").arg(item.time, item.title));
    m_carousel->setItems(info.carousel, info.carouselTime);
    m_maintenance = info.reparing;
    m_maintenanceText = info.reparingTip;
    showNotice();
}

void LauncherWindow::showNotice()
{
    m_notice->setFullText(
        m_maintenanceText.isEmpty() ? tr("The servers are under maintenance.") : m_maintenanceText.simplified());
    m_notice->setVisible(m_maintenance);
    const bool unsigned_ = m_settings.allTrustedKeys().isEmpty();
    m_signatureNote->setFullText(unsigned_ ? tr("Unsigned server: updates are not checked against the publisher's "
                                                "signature (no %1 beside the launcher).")
                                                 .arg(LauncherSettings::keyFileName())
                                           : QString());
    m_signatureNote->setVisible(unsigned_);
}

void LauncherWindow::showVersions()
{
    m_versions->setText(
        tr("Installed: %1      Newest: %2")
            .arg(m_installed.isEmpty() ? tr("none") : m_installed, m_newest.isEmpty() ? tr("unknown") : m_newest));
}

void LauncherWindow::setStatus(const QString &text, bool error, const QString &details)
{
    m_status->setProperty("error", error);
    // The style sheet picks the colour from the property.
    m_status->style()->unpolish(m_status);
    m_status->style()->polish(m_status);
    m_status->setFullText(text);
    if (!details.isEmpty())
        m_status->setToolTip(text + QStringLiteral("\n\n") + details);
}

void LauncherWindow::showError(const FlowError &error)
{
    // The player's words on the line; the flow's and the library's own texts
    // in the tooltip (and in the log, where the flow wrote them).
    QString details = error.message;
    if (!error.detail.isEmpty())
        details += QStringLiteral("\n") + error.detail;
    setStatus(error.playerText(), true, details);
}

void LauncherWindow::openSettings()
{
    if (m_settingsDialog)
        return;
    m_settingsDialog = new SettingsDialog(m_settings, this);
    m_settingsDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_settingsDialog, &QDialog::accepted, this, [this]() { applySettings(m_settingsDialog->settings()); });
    connect(m_settingsDialog, &QObject::destroyed, this, [this]() { m_settingsDialog = nullptr; });
    m_settingsDialog->open();
    QtUtil::MoveToCenter(this, m_settingsDialog);
}

void LauncherWindow::applySettings(const LauncherSettings &settings)
{
    const bool moved = QDir::cleanPath(settings.installDir) != QDir::cleanPath(m_settings.installDir);
    m_settings = settings;
    // A running download follows the new limit at once.
    m_flow->setSpeedLimit(settings.speedLimitKiB);
    settings.save();
    emit settingsSaved();
    if (!moved)
        return;
    // What the window shows belongs to the old folder: a run there stops,
    // and the new folder is checked once it ended.
    if (m_flow->running()) {
        m_checkAfterRun = true;
        m_flow->stop();
        return;
    }
    forgetInstall();
    startRun(Run::Check);
}

void LauncherWindow::forgetInstall()
{
    m_installed.clear();
    m_newest.clear();
    m_badFiles.clear();
    m_partialBytes = 0;
    showVersions();
    setStatus(QString(), false);
    setAction(MainAction::Checking);
}

void LauncherWindow::play()
{
    const QString game = QFileUtils::CombinePath(HostFlow::InstallState::gameFolder(m_describedDir), GameProgram);
    if (!QProcess::startDetached(game, {}, QFileInfo(game).absolutePath()))
        setStatus(tr("Could not start %1").arg(QDir::toNativeSeparators(game)), true);
}

} // namespace Launcher
