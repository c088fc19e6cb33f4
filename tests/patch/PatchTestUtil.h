#pragma once

// Helpers shared by the patch tests: the common file helpers and seeded bytes.

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include "../support/ImmutableFile.h"
#include "../support/TestSupport.h"

namespace PatchTest {

using TestSupport::ImmutableGuard;
using TestSupport::readFile;
using TestSupport::setImmutable;
using TestSupport::treeContent;
using TestSupport::writeFile;

inline QByteArray randomBytes(quint32 seed, int size)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(gen.generate() & 0xff);
    return bytes;
}

} // namespace PatchTest
