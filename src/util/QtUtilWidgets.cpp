// QtUtil: style sheets, placement, overlay, fonts, label eliding, rounded pixmaps.
#include "util/QtUtil.h"

#include "util/QFileUtils.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTextCodec>
#include <QWidget>

namespace QtUtil {

namespace {

int boundingWidth(const QFontMetrics &metrics, const QString &text)
{
    return metrics.boundingRect(text).width();
}

// Style sheets are mostly ASCII, but font families such as "微软雅黑" arrive
// as UTF-8; Latin-1 stays the reading for bytes that are not valid UTF-8.
QString decodeStyleSheet(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return QString::fromLatin1(bytes);
}

} // namespace

void ApplyQSS(QWidget *widget, const QString &path, bool unused)
{
    Q_UNUSED(unused)
    if (!widget)
        return;
    const QString fullPath = path.startsWith(QLatin1Char(':'))
        ? path
        : QFileUtils::CombinePath(QCoreApplication::applicationDirPath(), path);
    QFile file(fullPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    const int end = bytes.indexOf('\0');
    if (end >= 0)
        bytes.truncate(end);
    widget->setStyleSheet(decodeStyleSheet(bytes));
}

bool CheckPixMapValid(const QPixmap &pixmap)
{
    return pixmap.width() != 0 && pixmap.height() != 0;
}

void GetAdaptLabelString(const QString &text, QLabel *label)
{
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    const int available = label->width();
    if (boundingWidth(metrics, text) <= available) {
        label->setText(text);
        return;
    }
    // The last prefix that still fits before the first one that does not;
    // widths need not grow strictly with length (kerning), so stop at the first miss.
    const QString ellipsis = QStringLiteral("...");
    QString fitting;
    for (int k = 1; k < text.size(); ++k) {
        const QString candidate = text.left(k) + ellipsis;
        if (boundingWidth(metrics, candidate) > available)
            break;
        fitting = candidate;
    }
    label->setText(fitting);
}

void MoveToCenter(QWidget *parent, QWidget *child, const QPoint &offset)
{
    if (!parent || !child)
        return;
    const QRect outer = parent->geometry();
    const QRect inner = child->geometry();
    child->move(outer.x() + outer.width() / 2 - inner.width() / 2 + offset.x(),
        outer.y() + outer.height() / 2 - inner.height() / 2 + offset.y());
}

void MoveToCenterX(QWidget *parent, QWidget *child, const QPoint &offset)
{
    if (!parent || !child)
        return;
    const QRect outer = parent->geometry();
    const QRect inner = child->geometry();
    child->move(outer.x() + outer.width() / 2 - inner.width() / 2 + offset.x(), inner.y() + offset.y());
}

void MoveToCenterY(QWidget *parent, QWidget *child, const QPoint &offset)
{
    if (!parent || !child)
        return;
    const QRect outer = parent->geometry();
    const QRect inner = child->geometry();
    child->move(inner.x() + offset.x(), outer.y() + outer.height() / 2 - inner.height() / 2 + offset.y());
}

void SetGrayFrameVis(QWidget *widget, bool visible)
{
    if (!widget)
        return;
    const QString name = QStringLiteral("grayName");
    QFrame *frame = widget->findChild<QFrame *>(name);
    if (!frame) {
        frame = new QFrame(widget); // owned by widget
        frame->setStyleSheet(QStringLiteral("background-color: rgba(0, 0, 0, 128);"));
        frame->setGeometry(QRect(QPoint(0, 0), widget->size()));
        frame->show();
        frame->raise();
        frame->setObjectName(name);
    }
    frame->raise();
    frame->setVisible(visible);
}

void SetWidgetPos(QWidget *widget, int x, int y)
{
    if (!widget)
        return;
    QRect rect = widget->geometry();
    rect.moveTo(x, y);
    widget->setGeometry(rect);
}

void UseBoldFont(QWidget *widget, bool bold)
{
    if (!widget)
        return;
    // A font set in points reports pixel size -1; the size actually used is what counts.
    int pixelSize = widget->font().pixelSize();
    if (pixelSize <= 0)
        pixelSize = QFontInfo(widget->font()).pixelSize();
    QFont font(bold ? QStringLiteral("LumetriaFont-CN-Bold") : QStringLiteral("LumetriaFont-CN-Regular"));
    if (pixelSize > 0)
        font.setPixelSize(pixelSize);
    widget->setFont(font);
}

QPixmap getRoundRectPixmap(QPixmap pixmap, const QSize &size, int radius)
{
    if (pixmap.isNull())
        return pixmap;
    // A height of 0 asks for a square: canvas and clip follow the scaled source.
    const QSize target = size.height() == 0 ? QSize(size.width(), size.width()) : size;
    if (target.isEmpty())
        return QPixmap();
    const QPixmap scaled = pixmap.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPixmap canvas(target);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(target)), radius, radius, Qt::AbsoluteSize);
    painter.setClipPath(clip);
    painter.drawPixmap(0, 0, target.width(), target.height(), scaled);
    painter.end();
    return canvas;
}

void RefreshWidgetSizeAndPos(QWidget *widget, float scale)
{
    Q_UNUSED(widget)
    Q_UNUSED(scale)
}

} // namespace QtUtil
