#include "RunTexts.h"

#include <QCoreApplication>
#include <QHash>

namespace Launcher {

using HostFlow::Stage;

namespace {

QString trLauncher(const char *text)
{
    return QCoreApplication::translate("Launcher", text);
}

} // namespace

QString stageText(Stage stage)
{
    switch (stage) {
    case Stage::Fetch:
        return trLauncher("Asking the server");
    case Stage::Download:
        return trLauncher("Downloading");
    case Stage::CheckArchives:
        return trLauncher("Checking the downloaded files");
    case Stage::FilesInUse:
        return trLauncher("Making sure the game is not running");
    case Stage::Extract:
        return trLauncher("Unpacking the downloaded files");
    case Stage::Merge:
        return trLauncher("Patching the game");
    case Stage::CheckInstall:
        return trLauncher("Checking the game files");
    case Stage::UpdateFiles:
        return trLauncher("Updating the launcher");
    case Stage::Blocks:
        return trLauncher("Downloading and writing the game files");
    }
    return QString();
}

QString stepText(const QString &step)
{
    static const QHash<QString, const char *> texts{ { QStringLiteral("verify"), "Checking" },
        { QStringLiteral("extract"), "Unpacking" }, { QStringLiteral("patch"), "Patching" },
        { QStringLiteral("copy"), "Copying new files" }, { QStringLiteral("delete"), "Removing old files" },
        { QStringLiteral("update"), "Updating the launcher" }, { QStringLiteral("repair"), "Repairing the game files" },
        { QStringLiteral("resume"), "Finishing an interrupted update" } };
    const char *text = texts.value(step);
    return text ? trLauncher(text) : step;
}

} // namespace Launcher
