#pragma once

// Data rows on one line each: row("name", "text", 5, true) turns text into
// QString and passes every other value as it is, so its type must be the
// column's own. textRow("name", "column 1", "column 2") for all-text rows.

#include <QString>
#include <QTest>

namespace TestSupport {

inline QString columnValue(const char *text)
{
    return QString::fromUtf8(text);
}

template <typename T> const T &columnValue(const T &value)
{
    return value;
}

template <typename... Values> void row(const char *name, const Values &...values)
{
    (QTest::newRow(name) << ... << columnValue(values));
}

template <typename... Texts> void textRow(const char *name, const Texts &...texts)
{
    (QTest::newRow(name) << ... << QString::fromUtf8(texts));
}

} // namespace TestSupport
