#pragma once

// Data rows whose columns are all QString, one row per line:
// textRow("name", "column 1", "column 2").

#include <QString>
#include <QTest>

namespace TestSupport {

template <typename... Texts> void textRow(const char *name, const Texts &...texts)
{
    (QTest::newRow(name) << ... << QString::fromUtf8(texts));
}

} // namespace TestSupport
