#include "RemoteInfoSample.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Publisher {

namespace {

QJsonObject item(const QString &title, const QString &time, const QString &link)
{
    return QJsonObject{ { QStringLiteral("title"), title }, { QStringLiteral("time"), time },
        { QStringLiteral("link"), link } };
}

} // namespace

QByteArray sampleRemoteInfo()
{
    // Links are placeholders: the launcher only shows them.
    const QString site = QStringLiteral("https://example.invalid/");
    QJsonObject o;
    o.insert(QStringLiteral("activity_name"), QStringLiteral("活动"));
    o.insert(QStringLiteral("activity"),
        QJsonArray{ item(QStringLiteral("Sample event"), QStringLiteral("01-01"), site + QStringLiteral("event")) });
    o.insert(QStringLiteral("announcement_name"), QStringLiteral("公告"));
    o.insert(QStringLiteral("announcement"),
        QJsonArray{
            item(QStringLiteral("Sample announcement"), QStringLiteral("01-01"), site + QStringLiteral("news")) });
    o.insert(QStringLiteral("infomation_name"), QStringLiteral("资讯"));
    o.insert(QStringLiteral("infomation"), QJsonArray());
    o.insert(QStringLiteral("extra_name"), QStringLiteral("其他"));
    o.insert(QStringLiteral("extra"), QJsonArray());
    o.insert(QStringLiteral("bg"),
        QJsonObject{ { QStringLiteral("url"), QString() }, { QStringLiteral("md5"), QString() } });
    o.insert(QStringLiteral("hot_dot"), QString());
    o.insert(QStringLiteral("carousel"), QJsonArray());
    o.insert(QStringLiteral("carousel_time"), 5000);
    o.insert(QStringLiteral("reparing"), false);
    o.insert(QStringLiteral("reparing_tip"), QString());
    o.insert(QStringLiteral("qq_url"), QString());
    o.insert(QStringLiteral("agree_url"), site + QStringLiteral("agreement"));
    o.insert(QStringLiteral("privacy_url"), site + QStringLiteral("privacy"));
    o.insert(QStringLiteral("kefu_url"), site + QStringLiteral("support"));
    o.insert(QStringLiteral("maintain_start"), QString());
    o.insert(QStringLiteral("maintain_content"), QString());
    o.insert(QStringLiteral("maintain_link"), QString());
    o.insert(QStringLiteral("infoswitch"), true);
    o.insert(QStringLiteral("bmovie"), false);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace Publisher
