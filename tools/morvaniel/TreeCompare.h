#pragma once

#include <QString>
#include <QStringList>

// Compares two folder trees file by file, byte for byte. Folders themselves do
// not count (the publisher skips empty ones); every file must be in both trees
// with the same bytes.
struct TreeDifference
{
    int filesCompared = 0;
    QStringList onlyInExpected;
    QStringList onlyInActual;
    QStringList differing;
    bool same() const { return onlyInExpected.isEmpty() && onlyInActual.isEmpty() && differing.isEmpty(); }
    QString describe() const;
};

TreeDifference compareTrees(const QString &expected, const QString &actual);
