#include <QtTest>

class tst_Blocks : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { }
};

QTEST_GUILESS_MAIN(tst_Blocks)
#include "tst_blocks.moc"
