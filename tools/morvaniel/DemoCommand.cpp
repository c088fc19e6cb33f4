#include "DemoCommand.h"

#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"
#include "core/SerializeComponent.h"
#include "planning/SolveRemoteInfo.h"
#include "util/QFileUtils.h"

#include <QTextStream>

using namespace Morvaniel;

static void printNews(QTextStream &out, const QString &name, const QVector<InfoItem> &items)
{
    out << "  " << name << " (" << items.size() << ")\n";
    for (const InfoItem &item : items)
        out << "    " << item.time << "  " << item.title << "  " << item.link << '\n';
}

int runDemo(QTextStream &out)
{
    auto ctx = GetCoreSystemInstance()->GetCurGameUpdateContext();
    GetSerializeComponent()->ReadSetting(ctx->setting);
    const UpdateSetting &s = ctx->setting;

    out << "Settings\n";
    out << "  InstallPath            " << s.InstallPath << '\n';
    out << "  GamePath               " << s.GamePath << '\n';
    out << "  CachePath              " << s.CachePath << '\n';
    out << "  CurrentGameVersion     " << s.CurrentGameVersion << '\n';
    out << "  TargetGameVersion      " << s.TargetGameVersion << '\n';
    out << "  CurrentStage           " << s.CurrentStage << '\n';
    out << "  LimitSpeed (KiB/s)     " << s.LimitSpeed << '\n';
    out << "  MusicVolume            " << s.MusicVolume << '\n';
    out << "  MusicLanguage          " << s.MusicLanguage << '\n';

    SolveRemoteInfo(QFileUtils::ReadText(QStringLiteral(":/samples/info.json")), *ctx);
    const RemoteInfo &info = ctx->remoteInfo;
    out << "News\n";
    printNews(out, info.activityName, info.activity);
    printNews(out, info.announcementName, info.announcement);
    printNews(out, info.infomationName, info.infomation);
    printNews(out, info.extraName, info.extra);
    out << "  carousel: " << info.carousel.size() << " pictures, " << info.carouselTime << " ms each\n";
    out.flush();
    return 0;
}
