#pragma once

#include <QByteArray>
#include <QString>

// One function per fuzz target. Each feeds one input to the library's entry
// point and checks what must hold for every input, however hostile; the result
// is empty when all held, else what broke. The libFuzzer drivers abort on a
// non-empty result; the regression test replays the kept inputs through the
// same functions in the normal build.
namespace FuzzEntries {

// Creates what the entry points need once per process: a scratch folder that
// stands in for the install, cache and game folders, and a silent message
// handler (the planners log every step). Call after QCoreApplication exists.
void setUp();

QString fileManifest(const QByteArray &input);
QString guideManifest(const QByteArray &input);
QString patchManifest(const QByteArray &input);
QString repairManifest(const QByteArray &input);
QString remoteInfo(const QByteArray &input);
// The first five lines of the input set the installed state (see README.md);
// the rest is the guide manifest.
QString guideSolver(const QByteArray &input);

// BlockIndex::parseRaw of the input and BlockIndex::parse of it as a zstd
// frame; what parses must lay out its files exactly and encode to itself.
QString blockIndex(const QByteArray &input);
// RangeReplyParser on an answer made of the input: its first byte picks the
// status, the next two the bundle's size, the first line a header value, and
// the rest, fed in pieces, the body.
QString rangeAnswer(const QByteArray &input);

// The scratch folder of setUp(); every planned download must stay below its cache folder.
QString scratchRoot();

} // namespace FuzzEntries
