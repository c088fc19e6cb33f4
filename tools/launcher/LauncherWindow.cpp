#include "LauncherWindow.h"

#include "Carousel.h"
#include "ElidedLabel.h"
#include "InUseDialog.h"
#include "InstallState.h"
#include "ProgressPanel.h"
#include "SettingsDialog.h"
#include "UpdateFlow.h"

#include "util/QFileUtils.h"
#include "util/QtUtil.h"

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
#include <QVBoxLayout>

namespace {

// What the status line says while a stage of the flow runs.
QString stageText(const QString &stage)
{
    static const QHash<QString, const char *> texts{ { QStringLiteral("download"), "Downloading" },
        { QStringLiteral("verify-archives"), "Checking the downloaded archives" },
        { QStringLiteral("extract"), "Unpacking" }, { QStringLiteral("merge"), "Patching the game" },
        { QStringLiteral("verify-install"), "Checking the game files" },
        { QStringLiteral("repair"), "Repairing the game files" },
        { QStringLiteral("resume"), "Finishing an interrupted update" },
        { QStringLiteral("update"), "Updating the launcher" }, { QStringLiteral("verify"), "Checking" },
        { QStringLiteral("patch"), "Patching" }, { QStringLiteral("copy"), "Copying new files" },
        { QStringLiteral("delete"), "Removing old files" } };
    const char *text = texts.value(stage);
    return text ? QCoreApplication::translate("Launcher", text) : stage;
}

// The game's program inside its folder, as the sample game and its publisher name it.
const QString GameProgram = QStringLiteral("Morvaniel.exe");

} // namespace

LauncherWindow::LauncherWindow(const LauncherSettings &settings, const LauncherPlace &place, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_place(place)
{
    buildUi();
    connectFlow();
    setAction(MainAction::Checking);
}

LauncherWindow::~LauncherWindow() = default;

void LauncherWindow::buildUi()
{
    setObjectName(QStringLiteral("launcherWindow"));
    setWindowTitle(QStringLiteral("Morvaniel"));
    setMinimumSize(900, 560);

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
    connect(m_bannerButton, &QPushButton::clicked, this, [this]() { startRun(FlowThread::Run::UpdateLauncher); });
    auto *bannerLayout = new QHBoxLayout(m_banner);
    bannerLayout->addWidget(m_bannerText, 1);
    bannerLayout->addWidget(m_bannerButton);
    m_banner->hide();

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
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    m_inUse = new InUseDialog(this);
    connect(m_inUse, &InUseDialog::answered, this, [this](bool retry) {
        if (!retry)
            setStatus(tr("Cancelled: the game files are in use"), true);
        m_flow.flow()->answerFilesInUse(retry);
    });
    showVersions();
}

void LauncherWindow::connectFlow()
{
    UpdateFlow *flow = m_flow.flow();
    connect(&m_flow, &FlowThread::runFinished, this, &LauncherWindow::onRunFinished);
    connect(&m_flow, &FlowThread::jobDone, this, &LauncherWindow::settingsSaved);
    connect(flow, &UpdateFlow::stageChanged, this, [this](const QString &stage, const QString &) {
        if (m_action == MainAction::Pause || m_action == MainAction::Pausing)
            setStatus(stageText(stage), false);
    });
    connect(
        flow, &UpdateFlow::downloadProgress, this, [this](const TransferProgress &p) { m_progress->showDownload(p); });
    connect(flow, &UpdateFlow::stageProgress, this,
        [this](const QString &stage, double fraction) { m_progress->showStage(stageText(stage), fraction); });
    connect(flow, &UpdateFlow::errorRaised, this, [this](const QString &text) { m_error = text; });
    connect(flow, &UpdateFlow::remoteInfoReceived, this, &LauncherWindow::showRemoteInfo);
    connect(flow, &UpdateFlow::versionsKnown, this, [this](const QString &installed, const QString &newest) {
        m_installed = installed;
        m_newest = newest;
        showVersions();
    });
    connect(flow, &UpdateFlow::verified, this, [this](const QString &, const QStringList &bad) { m_badFiles = bad; });
    connect(flow, &UpdateFlow::updated, this, [this](const QString &version, qint64) {
        m_installed = version;
        m_badFiles.clear();
        showVersions();
    });
    connect(flow, &UpdateFlow::filesInUse, this, [this](const QStringList &paths) {
        m_inUse->setFiles(paths);
        m_inUse->show();
        QtUtil::MoveToCenter(this, m_inUse);
        m_inUse->raise();
    });
    connect(flow, &UpdateFlow::launcherChecked, this, [this](const QString &installed, const QString &newest) {
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
    startRun(FlowThread::Run::CheckLauncher);
}

void LauncherWindow::startRun(FlowThread::Run run)
{
    FlowOptions options;
    options.server = m_settings.server;
    while (options.server.endsWith(QLatin1Char('/')))
        options.server.chop(1);
    options.installDir = m_settings.installDir;
    options.limitKiB = m_settings.speedLimitKiB > 0 ? m_settings.speedLimitKiB : -1;
    if (run == FlowThread::Run::CheckLauncher || run == FlowThread::Run::UpdateLauncher) {
        options.installDir = m_place.launcherDir;
        options.launcherVersion = m_place.launcherVersion;
    }
    if (!m_flow.start(run, options))
        return;
    m_error.clear();
    switch (run) {
    case FlowThread::Run::Update:
    case FlowThread::Run::Repair:
        m_resumeRun = run;
        setStatus(QString(), false);
        setAction(MainAction::Pause);
        break;
    case FlowThread::Run::UpdateLauncher:
        m_bannerButton->setEnabled(false);
        break;
    case FlowThread::Run::Check:
    case FlowThread::Run::CheckLauncher:
        break;
    }
}

void LauncherWindow::onMainClicked()
{
    switch (m_action) {
    case MainAction::Install:
    case MainAction::Update:
        startRun(FlowThread::Run::Update);
        break;
    case MainAction::Resume:
        startRun(m_resumeRun);
        break;
    case MainAction::Repair:
        startRun(FlowThread::Run::Repair);
        break;
    case MainAction::Pause:
        setAction(MainAction::Pausing);
        m_flow.flow()->pause();
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
    if (m_installed.isEmpty())
        return MainAction::Install;
    if (!m_newest.isEmpty() && m_installed != m_newest)
        return MainAction::Update;
    if (!m_badFiles.isEmpty())
        return MainAction::Repair;
    return MainAction::Play;
}

void LauncherWindow::onRunFinished(FlowThread::Run run, int result)
{
    switch (run) {
    case FlowThread::Run::CheckLauncher:
        // No launcher channel on the server is no reason to bother the user.
        startRun(FlowThread::Run::Check);
        break;
    case FlowThread::Run::Check:
        m_checkedOnce = true;
        setAction(restingAction());
        if (m_action == MainAction::Maintenance)
            setStatus(m_maintenanceText.isEmpty() ? tr("The servers are under maintenance") : m_maintenanceText, true);
        else if (result != UpdateFlow::Ok)
            setStatus(m_error, true);
        else if (m_action == MainAction::Repair)
            setStatus(tr("%n game file(s) differ from version %1", nullptr, m_badFiles.size()).arg(m_installed), true);
        else
            setStatus(QString(), false);
        if (m_settings.autoUpdate && (m_action == MainAction::Install || m_action == MainAction::Update))
            startRun(FlowThread::Run::Update);
        break;
    case FlowThread::Run::Update:
    case FlowThread::Run::Repair:
        if (result == UpdateFlow::Paused) {
            setAction(MainAction::Resume);
            setStatus(tr("Paused"), false);
        } else if (result == UpdateFlow::Ok) {
            m_badFiles.clear();
            setAction(restingAction());
            setStatus(tr("Version %1 is ready").arg(m_installed), false);
        } else {
            MainAction again = restingAction();
            if (run == FlowThread::Run::Repair && again == MainAction::Play)
                again = MainAction::Repair;
            setAction(again);
            if (!m_error.isEmpty())
                setStatus(m_error, true);
        }
        break;
    case FlowThread::Run::UpdateLauncher:
        if (result == UpdateFlow::Ok) {
            m_bannerText->setText(tr("Launcher %1 is installed; it starts with the next launch.")
                                      .arg(m_flow.flow()->launcherVersionReached()));
            m_bannerButton->hide();
        } else {
            m_bannerText->setText(m_error);
            m_bannerButton->setEnabled(true);
        }
        break;
    }
    emit runEnded(run, result);
}

void LauncherWindow::fitMainButton()
{
    m_main->ensurePolished();
    const QString shown = m_main->text();
    int widest = 0;
    for (MainAction a : { MainAction::Checking, MainAction::Install, MainAction::Update, MainAction::Pause,
             MainAction::Resume, MainAction::Repair, MainAction::Play }) {
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
    m_main->setText(mainButtonLabel(action, m_maintenanceText));
    m_main->setEnabled(mainButtonEnabled(action));
    switch (action) {
    case MainAction::Checking:
        m_progress->showBusy();
        break;
    case MainAction::Install:
    case MainAction::Update:
    case MainAction::Repair:
    case MainAction::Maintenance:
        m_progress->showRest(0);
        break;
    case MainAction::Play:
        m_progress->showRest(100);
        break;
    case MainAction::Pause:
        m_progress->showRest(0);
        break;
    case MainAction::Pausing:
    case MainAction::Resume:
        break; // the bar keeps where the run stopped
    }
    emit actionChanged(action);
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
}

void LauncherWindow::showVersions()
{
    m_versions->setText(
        tr("Installed: %1      Newest: %2")
            .arg(m_installed.isEmpty() ? tr("none") : m_installed, m_newest.isEmpty() ? tr("unknown") : m_newest));
}

void LauncherWindow::setStatus(const QString &text, bool error)
{
    m_status->setProperty("error", error);
    // The style sheet picks the colour from the property.
    m_status->style()->unpolish(m_status);
    m_status->style()->polish(m_status);
    m_status->setFullText(text);
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
    m_flow.flow()->setSpeedLimit(settings.speedLimitKiB);
    // The settings store belongs to the flow's thread while a run uses it.
    m_flow.post([settings]() { settings.save(); });
    if (moved && !m_flow.busy()) {
        m_installed.clear();
        m_newest.clear();
        m_badFiles.clear();
        showVersions();
        setAction(MainAction::Checking);
        startRun(FlowThread::Run::Check);
    }
}

void LauncherWindow::play()
{
    const QString game = QFileUtils::CombinePath(InstallState::gameFolder(m_settings.installDir), GameProgram);
    if (!QProcess::startDetached(game, {}, QFileInfo(game).absolutePath()))
        setStatus(tr("Could not start %1").arg(QDir::toNativeSeparators(game)), true);
}
