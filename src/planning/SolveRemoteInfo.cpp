#include "planning/SolveRemoteInfo.h"

#include "core/GameUpdateContext.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Morvaniel {

namespace {

QVector<InfoItem> infoItems(const QJsonValue &value)
{
    QVector<InfoItem> items;
    const QJsonArray array = value.toArray();
    items.reserve(array.size());
    for (const QJsonValue &element : array) {
        const QJsonObject o = element.toObject();
        items.append({ o.value(QLatin1String("title")).toString(), o.value(QLatin1String("time")).toString(),
            o.value(QLatin1String("link")).toString() });
    }
    return items;
}

QVector<CarouselItem> carouselItems(const QJsonValue &value)
{
    QVector<CarouselItem> items;
    const QJsonArray array = value.toArray();
    items.reserve(array.size());
    for (const QJsonValue &element : array) {
        const QJsonObject o = element.toObject();
        items.append({ o.value(QLatin1String("url")).toString(), o.value(QLatin1String("link")).toString(),
            o.value(QLatin1String("md5")).toString() });
    }
    return items;
}

} // namespace

void SolveRemoteInfo(QString json, GameUpdateContext &ctx)
{
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    auto text = [&root](const char *key) { return root.value(QLatin1String(key)).toString(); };
    auto flag = [&root](const char *key) { return root.value(QLatin1String(key)).toBool(false); };

    RemoteInfo &info = ctx.remoteInfo;
    info.activity = infoItems(root.value(QLatin1String("activity")));
    info.announcement = infoItems(root.value(QLatin1String("announcement")));
    info.infomation = infoItems(root.value(QLatin1String("infomation")));
    info.extra = infoItems(root.value(QLatin1String("extra")));
    info.carousel = carouselItems(root.value(QLatin1String("carousel")));

    info.activityName = text("activity_name");
    info.announcementName = text("announcement_name");
    info.infomationName = text("infomation_name");
    info.extraName = text("extra_name");
    const QJsonObject bg = root.value(QLatin1String("bg")).toObject();
    info.bgUrl = bg.value(QLatin1String("url")).toString();
    info.bgMd5 = bg.value(QLatin1String("md5")).toString();
    info.hotDot = text("hot_dot");
    info.reparing = flag("reparing");
    info.reparingTip = text("reparing_tip");
    info.qqUrl = text("qq_url");
    info.agreeUrl = text("agree_url");
    info.privacyUrl = text("privacy_url");
    info.kefuUrl = text("kefu_url");
    info.maintainStart = text("maintain_start");
    info.maintainContent = text("maintain_content");
    info.maintainLink = text("maintain_link");
    const int carouselTime = root.value(QLatin1String("carousel_time")).toInt(0);
    if (carouselTime != 0)
        info.carouselTime = carouselTime;
    info.infoSwitch = flag("infoswitch");
    info.bMovie = flag("bmovie");
    qDebug() << "bMovie" << info.bMovie;
}

} // namespace Morvaniel
