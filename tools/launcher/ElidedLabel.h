#pragma once

#include <QLabel>

namespace Launcher {

// A one-line label that shortens its text with "..." to its width (the full
// text stays in the tooltip), so that a long error or path never overflows.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_text; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_text;
};

} // namespace Launcher
