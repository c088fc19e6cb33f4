#include "LauncherChild.h"

#include "FlowReporter.h"
#include "LauncherWindow.h"
#include "UpdateFlow.h"

#include "util/QtUtil.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace LauncherChild {

namespace {

const char *const Marker = "MORVANIEL_LAUNCHER_CHILD";

void quiet(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

QProcessEnvironment environment(const Plan &plan)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(Marker), QStringLiteral("1"));
    env.insert(QStringLiteral("CHILD_SERVER"), plan.server);
    env.insert(QStringLiteral("CHILD_INSTALL"), plan.installDir);
    env.insert(QStringLiteral("CHILD_LAUNCHER"), plan.launcherDir);
    env.insert(QStringLiteral("CHILD_CLOSE_AT"), plan.closeAt);
    env.insert(QStringLiteral("CHILD_START_UPDATE"), plan.startUpdate ? QStringLiteral("1") : QStringLiteral("0"));
    env.insert(QStringLiteral("CHILD_AUTO_UPDATE"), plan.autoUpdate ? QStringLiteral("1") : QStringLiteral("0"));
    env.insert(QStringLiteral("CHILD_LIMIT"), QString::number(plan.speedLimitKiB));
    env.insert(QStringLiteral("MORVANIEL_TEST_HOLD"), plan.hold);
    return env;
}

bool wanted()
{
    return qEnvironmentVariableIsSet(Marker);
}

int run(int &argc, char **argv)
{
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    Launcher::LauncherSettings settings;
    settings.server = qEnvironmentVariable("CHILD_SERVER");
    settings.installDir = qEnvironmentVariable("CHILD_INSTALL");
    settings.speedLimitKiB = qEnvironmentVariableIntValue("CHILD_LIMIT");
    settings.autoUpdate = qEnvironmentVariableIntValue("CHILD_AUTO_UPDATE") != 0;
    Launcher::LauncherPlace place;
    place.launcherDir = qEnvironmentVariable("CHILD_LAUNCHER");
    place.launcherVersion = QStringLiteral("1.0.0.1");
    const QString closeAt = qEnvironmentVariable("CHILD_CLOSE_AT");
    const bool startUpdate = qEnvironmentVariableIntValue("CHILD_START_UPDATE") != 0;

    Launcher::LauncherWindow window(settings, place);
    QtUtil::ApplyQSS(&window, QStringLiteral("launcher.qss"));
    window.resize(1040, 640);
    window.show();

    bool armed = !startUpdate && !settings.autoUpdate;
    bool closed = false;
    bool awaitBytes = false;
    auto closeNow = [&]() {
        if (closed)
            return;
        closed = true;
        // From the event loop, as a click on the close button comes.
        QTimer::singleShot(0, &window, [&window]() {
            say("closing");
            window.close();
        });
    };
    HostFlow::FlowReporter *reports = window.flow().reporter();
    QObject::connect(reports, &HostFlow::FlowReporter::stageStarted, &window, [&](HostFlow::Stage stage) {
        if (!armed || HostFlow::stageName(stage) != closeAt)
            return;
        if (stage == HostFlow::Stage::Download)
            awaitBytes = true;
        else
            closeNow();
    });
    QObject::connect(
        reports, &HostFlow::FlowReporter::downloadProgress, &window, [&](const HostFlow::TransferProgress &p) {
            if (awaitBytes && p.done > 0)
                closeNow();
        });
    QObject::connect(reports, &HostFlow::FlowReporter::filesInUse, &window, [&]() {
        if (armed && closeAt == QLatin1String("question"))
            closeNow();
    });
    QObject::connect(&window, &Launcher::LauncherWindow::runEnded, &window, [&](Launcher::Run run, int result) {
        say(QStringLiteral("run ended %1 %2").arg(int(run)).arg(result).toLatin1());
        if (settings.autoUpdate && run == Launcher::Run::CheckLauncher)
            armed = true;
        if (startUpdate && !armed && run == Launcher::Run::Check) {
            armed = true;
            QTimer::singleShot(0, &window, [&window]() { window.mainButton()->click(); });
        }
    });
    window.start();
    return app.exec();
}

} // namespace LauncherChild
