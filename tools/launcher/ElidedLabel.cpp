#include "ElidedLabel.h"

#include "util/QtUtil.h"

namespace Launcher {

ElidedLabel::ElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_text = text;
    setToolTip(text);
    elide();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    QtUtil::GetAdaptLabelString(m_text, this);
    // The helper measures the text alone; the label also counts its margins
    // and the font's overhang, so a shortened text may still be a little too wide.
    const QString ellipsis = QStringLiteral("...");
    QString body = text();
    if (body.endsWith(ellipsis))
        body.chop(ellipsis.size());
    while (!body.isEmpty() && QLabel::sizeHint().width() > width()) {
        body.chop(1);
        setText(body + ellipsis);
    }
}

} // namespace Launcher
