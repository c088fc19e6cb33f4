#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "core/SerializeComponent.h"
#include "planning/SolveRemoteInfo.h"
#include "util/Logger.h"

using namespace Morvaniel;

// Called once the host's QApplication exists.
void startLauncher(const QString &remoteInfoJson)
{
    Global::Var::Host = QStringLiteral("https://update.example.com");
    Global::Var::bLog = true;
    Logger::LogToFile(true);

    std::shared_ptr<GameUpdateContext> ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    GetSerializeComponent()->ReadSetting(ctx->setting); // config.ini beside the executable

    SolveRemoteInfo(remoteInfoJson, *ctx);
    for (const InfoItem &news : ctx->remoteInfo.announcement)
        Logger::LogInfo(QStringLiteral("Host"), news.title);
}
