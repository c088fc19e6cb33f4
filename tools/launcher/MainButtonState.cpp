#include "MainButtonState.h"

#include <QCoreApplication>

namespace Launcher {

QString mainButtonLabel(MainAction action)
{
    switch (action) {
    case MainAction::Checking:
        return QCoreApplication::translate("Launcher", "Checking");
    case MainAction::Install:
        return QCoreApplication::translate("Launcher", "Install");
    case MainAction::Update:
        return QCoreApplication::translate("Launcher", "Update");
    case MainAction::Pause:
    case MainAction::Pausing:
        return QCoreApplication::translate("Launcher", "Pause");
    case MainAction::Resume:
        return QCoreApplication::translate("Launcher", "Resume");
    case MainAction::Repair:
        return QCoreApplication::translate("Launcher", "Repair");
    case MainAction::Play:
        return QCoreApplication::translate("Launcher", "Play");
    case MainAction::Maintenance:
        return QCoreApplication::translate("Launcher", "Maintenance");
    }
    return QString();
}

bool mainButtonEnabled(MainAction action)
{
    return action != MainAction::Checking && action != MainAction::Pausing && action != MainAction::Maintenance;
}

} // namespace Launcher
