#pragma once

// Old and new versions of the kinds of files a game ships, small enough for
// a test: packs with scattered edits or moved blocks, compiled code whose
// addresses all moved, a compressed block that changed whole, grown and
// shrunk files. And zstd frames written by hand, for patches that the tool
// itself would never make.

#include "../support/TestSupport.h"

#include <QByteArray>
#include <QtEndian>

namespace PatchPairs {

using TestSupport::randomBytes;
using TestSupport::wordText;

// Records of a table: mostly the same bytes, a counter and a small field.
inline QByteArray records(int size, quint32 seed)
{
    const QByteArray base = randomBytes(32, seed);
    QByteArray out;
    out.reserve(size + 32);
    for (quint32 i = 0; out.size() < size; ++i) {
        QByteArray r = base;
        qToLittleEndian(i, r.data());
        r[8] = char(i % 7);
        out += r;
    }
    out.truncate(size);
    return out;
}

// Alternating incompressible, text and table chunks of 16 to 80 KiB.
inline QByteArray pack(int size, quint32 seed)
{
    QByteArray out;
    for (quint32 i = 0; out.size() < size; ++i) {
        const int n = 16384 + int((seed * 7919u + i * 104729u) % 65536u);
        switch (i % 3) {
        case 0:
            out += randomBytes(n, seed + i);
            break;
        case 1:
            out += wordText(n, seed + i);
            break;
        default:
            out += records(n, seed + i);
        }
    }
    out.truncate(size);
    return out;
}

// Machine code stand-in: short instructions, many with a 32-bit absolute
// address into the image. shift moves everything after `at` by that many
// bytes, and every address past `at` with it, as a recompile does.
inline QByteArray code(int size, quint32 seed, int at = -1, int shift = 0)
{
    QByteArray out;
    quint32 x = seed;
    auto next = [&x]() { return x = x * 1664525u + 1013904223u; };
    while (out.size() < size) {
        if (at >= 0 && out.size() >= at && shift > 0) {
            out += randomBytes(shift, seed + 99);
            at = -1;
        }
        const quint32 op = next() >> 24;
        out.append(char(0x40 + op % 16));
        if (op % 3 == 0) {
            quint32 target = next() % quint32(size);
            if (shift > 0 && target >= quint32(at < 0 ? 0 : at))
                target += quint32(shift);
            char bytes[4];
            qToLittleEndian(target, bytes);
            out.append(bytes, 4);
        } else {
            out.append(char(next() >> 26));
        }
    }
    return out;
}

// One zstd frame of raw blocks holding content, without checksum; windowLog
// as the frame header announces it (10 to 41).
inline QByteArray rawFrame(const QByteArray &content, int windowLog = 17)
{
    QByteArray out("\x28\xb5\x2f\xfd", 4);
    out.append(char(0)); // no content size, no checksum, no dictionary
    out.append(char((windowLog - 10) << 3));
    const int block = 1 << qMin(windowLog, 17);
    int at = 0;
    do {
        const int n = qMin(block, content.size() - at);
        const bool last = at + n == content.size();
        const quint32 head = quint32(last ? 1 : 0) | (quint32(n) << 3);
        out.append(char(head & 0xff)).append(char((head >> 8) & 0xff)).append(char((head >> 16) & 0xff));
        out.append(content.mid(at, n));
        at += n;
    } while (at < content.size());
    return out;
}

// A LEB128 number as the difference coding's control stream holds it.
inline QByteArray number(quint64 v)
{
    QByteArray out;
    while (v >= 0x80) {
        out.append(char(v | 0x80));
        v >>= 7;
    }
    out.append(char(v));
    return out;
}

// n zeros as the diff stream codes them: a zero byte and n - 1.
inline QByteArray zeroRun(quint64 n)
{
    return QByteArray(1, '\0') + number(n - 1);
}

// One control step (seek zigzag-coded).
inline QByteArray step(quint64 diff, quint64 extra, qint64 seek)
{
    const quint64 z = seek < 0 ? (quint64(-(seek + 1)) << 1) | 1 : quint64(seek) << 1;
    return number(diff) + number(extra) + number(z);
}

} // namespace PatchPairs
