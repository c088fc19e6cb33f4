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

void ElidedLabel::setLines(int lines)
{
    m_lines = qMax(1, lines);
    elide();
}

QString ElidedLabel::wrapped(int width) const
{
    const QFontMetrics metrics(font());
    QStringList lines;
    QString line;
    const QStringList words = m_text.split(QLatin1Char(' '));
    for (int i = 0; i < words.size(); ++i) {
        const QString longer = line.isEmpty() ? words.at(i) : line + QLatin1Char(' ') + words.at(i);
        if (line.isEmpty() || metrics.horizontalAdvance(longer) <= width) {
            line = longer;
            continue;
        }
        // A single word wider than the line (a long path) is shortened in its
        // middle, so that its file name stays.
        lines << metrics.elidedText(line, Qt::ElideMiddle, width);
        if (lines.size() == m_lines - 1) {
            // The last line takes the rest, shortened to the width.
            line = words.mid(i).join(QLatin1Char(' '));
            break;
        }
        line = words.at(i);
    }
    lines << metrics.elidedText(line, Qt::ElideRight, width);
    return lines.join(QLatin1Char('\n'));
}

void ElidedLabel::elide()
{
    if (m_lines > 1) {
        // A little narrower each time until the label's own measure agrees:
        // it counts margins and the font's overhang too.
        for (int slack = 0; slack < 64; slack += 4) {
            setText(wrapped(qMax(1, contentsRect().width() - slack)));
            if (QLabel::sizeHint().width() <= width())
                break;
        }
        return;
    }
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
