#include "Carousel.h"

#include "core/DownloadComponent.h"
#include "util/QtUtil.h"

#include <QPointer>
#include <QResizeEvent>

namespace Launcher {

using namespace Morvaniel;

Carousel::Carousel(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("carousel"));
    setAlignment(Qt::AlignCenter);
    setMinimumSize(320, 160);
    // The picture follows the label's size, never the other way round.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setText(tr("No pictures"));
    connect(&m_timer, &QTimer::timeout, this, [this]() {
        if (!m_pictures.isEmpty())
            showPicture((m_current + 1) % m_pictures.size());
    });
}

void Carousel::setItems(const QVector<CarouselItem> &items, int intervalMs)
{
    const int generation = ++m_generation;
    m_pictures.clear();
    m_current = -1;
    m_timer.stop();
    m_timer.setInterval(qMax(100, intervalMs));
    setText(tr("No pictures"));
    QPointer<Carousel> self(this);
    for (const CarouselItem &item : items) {
        GetDownloadComponent()->GetImageByUrl(item.url, [self, generation](const char *data, int size) {
            if (!self || self->m_generation != generation)
                return;
            QPixmap picture;
            if (size <= 0 || !picture.loadFromData(reinterpret_cast<const uchar *>(data), uint(size)))
                return;
            self->m_pictures.append(picture);
            if (self->m_current < 0)
                self->showPicture(0);
            if (self->m_pictures.size() == 2)
                self->m_timer.start();
        });
    }
}

void Carousel::showPicture(int index)
{
    m_current = index;
    render();
    emit switched(index);
}

void Carousel::render()
{
    const qreal dpr = devicePixelRatioF();
    // Drawn at the screen's pixel density, so that the corners stay smooth at 200 %.
    QPixmap rounded = QtUtil::getRoundRectPixmap(m_pictures.at(m_current), size() * dpr, qRound(12 * dpr));
    rounded.setDevicePixelRatio(dpr);
    setPixmap(rounded);
}

void Carousel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    if (m_current >= 0)
        render();
}

} // namespace Launcher
