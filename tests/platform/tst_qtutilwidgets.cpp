#include "util/DpiUtil.h"
#include "util/QtUtil.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QtTest>

#include <cmath>
#include <memory>

class tst_QtUtilWidgets : public QObject
{
    Q_OBJECT

private slots:
    void applyQss_data();
    void applyQss();
    void grayFrame();
    void adaptLabel_data();
    void adaptLabel();
    void centring_data();
    void centring();
    void boldFont();
    void roundRect_data();
    void roundRect();
    void dpi();
};

void tst_QtUtilWidgets::applyQss_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // written to the application folder; null for none
    QTest::addColumn<QString>("expected");

    const QString appFile = QStringLiteral("tst_qtutil_%1.qss").arg(QCoreApplication::applicationPid());
    QTest::newRow("resource") << QStringLiteral(":/platform/style.qss") << QByteArray()
                              << QStringLiteral("QWidget#styled { color: rgb(1, 2, 3); }\n");
    QTest::newRow("application folder") << appFile << QByteArray("QLabel { margin: 2px; }")
                                        << QStringLiteral("QLabel { margin: 2px; }");
    QTest::newRow("leading slash") << QLatin1Char('/') + appFile << QByteArray("QLabel { margin: 3px; }")
                                   << QStringLiteral("QLabel { margin: 3px; }");
    QTest::newRow("stops at a zero byte")
        << appFile << QByteArray("QLabel {}\0garbage", 17) << QStringLiteral("QLabel {}");
    QTest::newRow("utf-8 font family") << appFile << QByteArray("* { font-family: \"微软雅黑\"; }")
                                       << QStringLiteral("* { font-family: \"微软雅黑\"; }");
    QTest::newRow("latin-1 bytes") << appFile << QByteArray("/* caf\xE9 */") << QStringLiteral("/* caf\u00E9 */");
    QTest::newRow("missing file") << QStringLiteral("no_such_style.qss") << QByteArray()
                                  << QStringLiteral("QWidget { color: red; }");
    QTest::newRow("missing resource") << QStringLiteral(":/platform/none.qss") << QByteArray()
                                      << QStringLiteral("QWidget { color: red; }");
}

void tst_QtUtilWidgets::applyQss()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);

    const QString onDisk = QCoreApplication::applicationDirPath() + QLatin1Char('/') + path;
    if (!content.isNull()) {
        QFile file(onDisk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QWidget widget;
    widget.setStyleSheet(QStringLiteral("QWidget { color: red; }"));
    QtUtil::ApplyQSS(&widget, path, true);
    if (!content.isNull())
        QFile::remove(onDisk);
    QCOMPARE(widget.styleSheet(), expected);
}

void tst_QtUtilWidgets::grayFrame()
{
    QWidget widget;
    widget.resize(200, 100);
    QtUtil::SetGrayFrameVis(&widget, true);
    widget.resize(300, 150);
    QtUtil::SetGrayFrameVis(&widget, false);

    const QList<QFrame *> frames = widget.findChildren<QFrame *>(QStringLiteral("grayName"));
    QCOMPARE(frames.size(), 1);
    QFrame *frame = frames.first();
    QCOMPARE(frame->parentWidget(), &widget);
    QVERIFY(frame->isHidden());
    QCOMPARE(frame->geometry(), QRect(0, 0, 200, 100));

    // Raised above widgets added later.
    QLabel later(&widget);
    QtUtil::SetGrayFrameVis(&widget, true);
    QVERIFY(!frame->isHidden());
    QCOMPARE(widget.children().last(), frame);
    QCOMPARE(widget.findChildren<QFrame *>(QStringLiteral("grayName")).size(), 1);

    QtUtil::SetGrayFrameVis(nullptr, true);
}

void tst_QtUtilWidgets::adaptLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("widthOf"); // the label is exactly as wide as this text
    QTest::addColumn<QString>("expected");

    const QString text = QStringLiteral("Announcement of the next update");
    QTest::newRow("fits exactly") << text << text << text;
    QTest::newRow("fits with room") << QStringLiteral("short") << text << QStringLiteral("short");
    QTest::newRow("elided") << text << QStringLiteral("Announcement...") << QStringLiteral("Announcement...");
    QTest::newRow("one character and dots") << text << QStringLiteral("A...") << QStringLiteral("A...");
    QTest::newRow("nothing fits") << text << QStringLiteral("A") << QString();
    QTest::newRow("single character too wide") << QStringLiteral("W") << QStringLiteral("i") << QString();
    QTest::newRow("empty text") << QString() << QString() << QString();
}

void tst_QtUtilWidgets::adaptLabel()
{
    QFETCH(QString, text);
    QFETCH(QString, widthOf);
    QFETCH(QString, expected);

    QLabel label;
    label.setText(QStringLiteral("before"));
    const QFontMetrics metrics(label.font());
    label.resize(metrics.boundingRect(widthOf).width(), 20);
    QtUtil::GetAdaptLabelString(text, &label);
    QCOMPARE(label.text(), expected);
    QVERIFY(metrics.boundingRect(label.text()).width() <= label.width());
}

void tst_QtUtilWidgets::centring_data()
{
    QTest::addColumn<QRect>("parent");
    QTest::addColumn<QRect>("child");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QPoint>("center");
    QTest::addColumn<QPoint>("centerX");
    QTest::addColumn<QPoint>("centerY");

    QTest::newRow("even sizes") << QRect(10, 20, 200, 100) << QRect(5, 6, 50, 30) << QPoint() << QPoint(85, 55)
                                << QPoint(85, 6) << QPoint(5, 55);
    QTest::newRow("odd sizes truncate") << QRect(0, 0, 101, 51) << QRect(0, 0, 11, 5) << QPoint() << QPoint(45, 23)
                                        << QPoint(45, 0) << QPoint(0, 23);
    QTest::newRow("offset") << QRect(0, 0, 100, 100) << QRect(1, 2, 20, 20) << QPoint(3, -4) << QPoint(43, 36)
                            << QPoint(43, -2) << QPoint(4, 36);
    QTest::newRow("child larger") << QRect(0, 0, 50, 50) << QRect(0, 0, 81, 81) << QPoint() << QPoint(-15, -15)
                                  << QPoint(-15, 0) << QPoint(0, -15);
}

void tst_QtUtilWidgets::centring()
{
    QFETCH(QRect, parent);
    QFETCH(QRect, child);
    QFETCH(QPoint, offset);
    QFETCH(QPoint, center);
    QFETCH(QPoint, centerX);
    QFETCH(QPoint, centerY);

    QWidget outer;
    outer.setGeometry(parent);
    QWidget inner;
    const auto place = [&](void (*move)(QWidget *, QWidget *, const QPoint &)) {
        inner.setGeometry(child);
        move(&outer, &inner, offset);
        return inner.pos();
    };
    QCOMPARE(place(&QtUtil::MoveToCenter), center);
    QCOMPARE(place(&QtUtil::MoveToCenterX), centerX);
    QCOMPARE(place(&QtUtil::MoveToCenterY), centerY);
    QCOMPARE(inner.size(), child.size());

    // Without a parent nothing moves.
    inner.setGeometry(child);
    QtUtil::MoveToCenter(nullptr, &inner, offset);
    QCOMPARE(inner.geometry(), child);
}

// The bold and regular faces keep the label's size, also one given in points.
void tst_QtUtilWidgets::boldFont()
{
    QLabel label;
    QFont pixelFont;
    pixelFont.setPixelSize(17);
    label.setFont(pixelFont);
    QtUtil::UseBoldFont(&label, true);
    QCOMPARE(label.font().pixelSize(), 17);
    QtUtil::UseBoldFont(&label, false);
    QCOMPARE(label.font().pixelSize(), 17);

    QLabel pointLabel;
    QFont pointFont;
    pointFont.setPointSize(12);
    pointLabel.setFont(pointFont);
    const int shown = QFontInfo(pointLabel.font()).pixelSize();
    QtUtil::UseBoldFont(&pointLabel, true);
    QCOMPARE(pointLabel.font().pixelSize(), shown);
}

void tst_QtUtilWidgets::roundRect_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("scaled down") << QSize(40, 30) << QSize(40, 30);
    QTest::newRow("scaled up, aspect ignored") << QSize(120, 20) << QSize(120, 20);
    QTest::newRow("height 0 gives a square") << QSize(32, 0) << QSize(32, 32);
}

void tst_QtUtilWidgets::roundRect()
{
    QFETCH(QSize, size);
    QFETCH(QSize, expected);

    QPixmap source(64, 48);
    source.fill(Qt::red);
    const QImage image = QtUtil::getRoundRectPixmap(source, size, 8).toImage();
    QCOMPARE(image.size(), expected);
    const int w = expected.width();
    const int h = expected.height();
    for (const QPoint &corner : { QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1) })
        QVERIFY2(qAlpha(image.pixel(corner)) == 0,
            qPrintable(QStringLiteral("corner %1,%2 not transparent").arg(corner.x()).arg(corner.y())));
    QCOMPARE(QColor(image.pixel(w / 2, h / 2)), QColor(Qt::red));
    QCOMPARE(QColor(image.pixel(w / 2, 0)), QColor(Qt::red));

    QVERIFY(QtUtil::getRoundRectPixmap(QPixmap(), size, 8).isNull());
}

void tst_QtUtilWidgets::dpi()
{
    QWidget widget;
    widget.resize(50, 50);
    widget.show();
    const int expected = static_cast<int>(std::lround(widget.windowHandle()->screen()->logicalDotsPerInchX()));
    QVERIFY(expected > 0);
    QCOMPARE(DpiUtil::GetDpiForWindow(widget.winId()), expected);
    QCOMPARE(DpiUtil::GetDpiForWindow(0), expected);
    // No process-wide switch here: it must leave the running application alone.
    DpiUtil::SetProcessDpiAwarenessContext(reinterpret_cast<void *>(static_cast<qintptr>(-4)));
    QCOMPARE(DpiUtil::GetDpiForWindow(widget.winId()), expected);
}

QTEST_MAIN(tst_QtUtilWidgets)
#include "tst_qtutilwidgets.moc"
