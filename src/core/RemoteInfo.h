#pragma once

#include <QString>
#include <QVector>

namespace Morvaniel {

// One news entry of the remote information.
struct InfoItem
{
    QString title;
    QString time;
    QString link;
};

// One picture of the launcher's carousel.
struct CarouselItem
{
    QString url;
    QString link;
    QString md5;
};

// What the server announces: news lists, pictures, links and switches.
// The key spellings ("infomation", "reparing") are the server's own.
struct RemoteInfo
{
    QVector<InfoItem> activity;
    QVector<InfoItem> announcement;
    QVector<InfoItem> infomation;
    QVector<InfoItem> extra;
    QString activityName;
    QString announcementName;
    QString infomationName;
    QString extraName;
    QString bgUrl;
    QString bgMd5;
    QString hotDot;
    QVector<CarouselItem> carousel;
    bool reparing = false;
    QString reparingTip;
    QString qqUrl;
    QString agreeUrl;
    QString privacyUrl;
    QString kefuUrl;
    QString maintainStart;
    QString maintainContent;
    QString maintainLink;
    int32_t carouselTime = 2000;
    bool infoSwitch = false;
    bool bMovie = false;
};

} // namespace Morvaniel
