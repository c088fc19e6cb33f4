#pragma once

// Content generators that tests and benchmarks share: the same seed always
// gives the same bytes, so a figure or a failure can be reproduced.

#include <QByteArray>
#include <QRandomGenerator>

#include <cstring>

namespace TestData {

// Incompressible bytes, the same for the same seed.
inline QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (int i = 0; i < size; i += 4) {
        const quint32 word = gen.generate();
        std::memcpy(out.data() + i, &word, size_t(qMin(4, size - i)));
    }
    return out;
}

// Text of random words: compressible enough that extraction takes a while and
// 7-Zip prints its percentages while it runs.
inline QByteArray wordText(int size, quint32 seed)
{
    QByteArray out;
    out.reserve(size + 16);
    quint32 x = seed;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        const int length = 2 + int((x >> 24) % 8);
        for (int i = 0; i < length; ++i) {
            x = x * 1664525u + 1013904223u;
            out.append(char('a' + (x >> 28)));
        }
        out.append(' ');
    }
    return out;
}

} // namespace TestData
