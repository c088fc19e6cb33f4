#pragma once

#include "core/RemoteInfo.h"

#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QVector>

namespace Launcher {

// The server's pictures, one at a time with rounded corners, switched every
// carouselTime milliseconds. The pictures are fetched through the library's
// download component; one that does not load is left out.
class Carousel : public QLabel
{
    Q_OBJECT

public:
    explicit Carousel(QWidget *parent = nullptr);

    void setItems(const QVector<Morvaniel::CarouselItem> &items, int intervalMs);
    int pictureCount() const { return m_pictures.size(); }
    int currentIndex() const { return m_current; }
    int interval() const { return m_timer.interval(); }

signals:
    // The shown picture changed.
    void switched(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showPicture(int index);
    void render();

    QVector<QPixmap> m_pictures;
    QTimer m_timer;
    int m_current = -1;
    int m_generation = 0; // a fetch of an earlier setItems() is dropped
};

} // namespace Launcher
