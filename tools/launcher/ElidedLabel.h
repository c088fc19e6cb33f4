#pragma once

#include <QLabel>

namespace Launcher {

// A label of one line (or up to lines(), wrapped at blanks) that shortens its
// text with "..." to its width (the full text stays in the tooltip), so that
// a long error or path never overflows.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_text; }
    void setLines(int lines);
    int lines() const { return m_lines; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();
    // The text broken at blanks into at most m_lines lines of width, the last one shortened.
    QString wrapped(int width) const;

    QString m_text;
    int m_lines = 1;
};

} // namespace Launcher
