#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <cstdint>

namespace Morvaniel {

// A four-part version number such as 1.2.3.4.
struct MORVANIEL_EXPORT Version
{
    int32_t major = 0;
    int32_t minor = 0;
    int32_t patch = 0;
    int32_t build = 0;

    // The packed key that orders versions. Parts are sign-extended before packing
    // and the keys compare unsigned, exactly as stored plans and maps expect.
    quint64 key() const;
    // "%1.%2.%3.%4" in base 10.
    QString toString() const;

    friend bool operator<(const Version &a, const Version &b) { return a.key() < b.key(); }
    friend bool operator==(const Version &a, const Version &b) { return a.key() == b.key(); }
    friend bool operator!=(const Version &a, const Version &b) { return !(a == b); }
};

// Splits text at "." and reads the first four sections in base 10; a missing or
// non-numeric section reads as 0, sections past the fourth are ignored.
MORVANIEL_EXPORT void GetVersionByString(QString text, Version &out);
MORVANIEL_EXPORT Version versionFromString(const QString &text);
MORVANIEL_EXPORT QString versionToString(const Version &v);

} // namespace Morvaniel
