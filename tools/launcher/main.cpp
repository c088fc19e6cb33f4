#include "ElidedLabel.h"
#include "LauncherSettings.h"
#include "LauncherWindow.h"

#include "core/Global.h"
#include "util/DpiUtil.h"
#include "util/Logger.h"
#include "util/QtUtil.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QScreen>
#include <QUrl>

#include <cstdio>

#include <cstdint>

int main(int argc, char *argv[])
{
    // Before the first window: per-monitor DPI awareness on Windows
    // (DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2), Qt's own scaling everywhere.
    DpiUtil::SetProcessDpiAwarenessContext(reinterpret_cast<void *>(std::intptr_t(-4)));
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("morvaniel-launcher"));
    QApplication::setApplicationVersion(QStringLiteral(MORVANIEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The Morvaniel launcher window."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption server(QStringLiteral("server"),
        QStringLiteral("The update server, http://host:port (default: the saved ones); give it again for mirrors, "
                       "tried in order when a server fails."),
        QStringLiteral("url"));
    const QCommandLineOption dir(QStringLiteral("dir"),
        QStringLiteral("The install folder (default: the saved one, else beside the program)."),
        QStringLiteral("folder"));
    const QCommandLineOption launcherDir(QStringLiteral("launcher-dir"),
        QStringLiteral("Where the launcher's own update goes (default: the program's folder)."),
        QStringLiteral("folder"));
    parser.addOptions({ server, dir, launcherDir });
    parser.process(app);

    // The log goes to log/launcher.log beside the program.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    Global::Var::bLog = true;
    Logger::LogToFile(true);

    Launcher::LauncherSettings settings = Launcher::LauncherSettings::load();
    if (parser.isSet(server)) {
        settings.servers = parser.values(server);
        settings.server = settings.servers.value(0);
    }
    for (const QString &address : settings.addresses()) {
        const QUrl serverUrl(address);
        if (!serverUrl.isValid() || serverUrl.host().isEmpty()
            || (serverUrl.scheme() != QLatin1String("http") && serverUrl.scheme() != QLatin1String("https"))) {
            std::fprintf(stderr,
                "morvaniel-launcher: --server takes an address with its scheme, http://host:port (not %s)\n",
                qPrintable(address));
            return 2;
        }
    }
    QString keyError;
    const bool keyRead = settings.readKeyFile(QCoreApplication::applicationDirPath(), keyError);
    if (parser.isSet(dir))
        settings.installDir = QDir(parser.value(dir)).absolutePath();
    if (settings.installDir.isEmpty())
        settings.installDir = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Game"));
    Launcher::LauncherPlace place;
    place.launcherDir = parser.isSet(launcherDir) ? QDir(parser.value(launcherDir)).absolutePath()
                                                  : QCoreApplication::applicationDirPath();
    place.launcherVersion = QStringLiteral(MORVANIEL_VERSION);

    Launcher::LauncherWindow window(settings, place);
    QtUtil::ApplyQSS(&window, QStringLiteral("launcher.qss"));
    window.resize(1040, 640);
    // Centred on the screen: MoveToCenter centres on a widget, here one as large as the screen.
    QWidget screenArea;
    screenArea.setGeometry(window.screen()->availableGeometry());
    QtUtil::MoveToCenter(&screenArea, &window);
    window.show();
    if (!keyRead)
        // A damaged key file must not turn verification off.
        window.statusLine()->setFullText(QStringLiteral("The publisher key is unreadable: %1").arg(keyError));
    else if (settings.server.isEmpty())
        window.statusLine()->setFullText(QStringLiteral("No server: start with --server http://host:port"));
    else
        window.start();
    return QApplication::exec();
}
