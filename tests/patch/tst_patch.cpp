// The patch stages with real files and the real hpatchz from the application
// folder: the patch format, the merge stage, the update stage and the Patcher's
// reports.

#include "../support/DataRows.h"
#include "../support/ImmutableFile.h"
#include "../support/TestSupport.h"
#include "FileIo.h"
#include "HPatch.h"
#include "PatchFormat.h"
#include "PatchPairs.h"
#include "core/GameUpdateContext.h"
#include "core/PatchComponent.h"
#include "manifest/ManifestPathCheck.h"
#include "patch/Patcher.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Morvaniel;
using namespace TestSupport;

namespace {

struct ToolRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runProgram(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

ToolRun hpatchz(const QString &oldPath, const QString &diff, const QString &out, const QStringList &extra = {})
{
    return runProgram(programPath(QStringLiteral("hpatchz")),
        QStringList{
            oldPath, diff, out, QStringLiteral("-f"), QStringLiteral("-s-1m"), QStringLiteral("-C-old-new-diff") }
            + extra);
}

bool makePatch(
    const QString &oldPath, const QString &newPath, const QString &diff, const hpatch::CreateOptions &options = {})
{
    QDir().mkpath(QFileInfo(diff).absolutePath());
    return hpatch::createPatch(QFile::encodeName(oldPath).toStdString(), QFile::encodeName(newPath).toStdString(),
        QFile::encodeName(diff).toStdString(), options)
        .ok();
}

// A new version of bytes: a few regions changed, a block inserted, a tail added.
QByteArray edited(QByteArray bytes, quint32 seed)
{
    if (bytes.size() > 4096) {
        bytes.replace(100, 50, randomBytes(60, seed));
        bytes.insert(bytes.size() / 2, randomBytes(3000, seed + 1));
        bytes.replace(bytes.size() - 2000, 10, QByteArray(10, 'x'));
    }
    return bytes + randomBytes(777, seed + 2);
}

QStringList leftovers(const QString &dir)
{
    return QDir(dir).entryList({ QStringLiteral("*.hpatch-*") }, QDir::Files | QDir::Hidden);
}

} // namespace

class tst_Patch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void roundTrip_data();
    void roundTrip();
    void codingsRoundTrip_data();
    void codingsRoundTrip();
    void refusesHostileVersion2_data();
    void refusesHostileVersion2();
    void appliesEarlierFormats_data();
    void appliesEarlierFormats();
    void appliesVersion1Segments();
    void refusesWrongOrBrokenInput_data();
    void refusesWrongOrBrokenInput();
    void resourceLimits_data();
    void resourceLimits();

    void manifestPathCheck_data();
    void manifestPathCheck();

    void mergeStageTurnsVersionIntoNext();
    void mergeStageVariants_data();
    void mergeStageVariants();
    void mergeStageFileInUse();

    void updateStage_data();
    void updateStage();
    void updateStageNeverDeletesTheTarget_data();
    void updateStageNeverDeletesTheTarget();
    void quittingFromTheFinalCallbackEndsCleanly();
};

void tst_Patch::initTestCase()
{
    QVERIFY2(QFileInfo(programPath(QStringLiteral("hpatchz"))).isExecutable(), "hpatchz is not built");
    QVERIFY2(QFileInfo(programPath(QStringLiteral("hdiffz"))).isExecutable(), "hdiffz is not built");
}

void tst_Patch::roundTrip_data()
{
    QTest::addColumn<QByteArray>("oldBytes");
    QTest::addColumn<QByteArray>("newBytes");
    QTest::addColumn<bool>("oldMissing");
    QTest::addColumn<quint64>("segment"); // 0: the defaults, else segment and margin in bytes

    const QByteArray base = randomBytes(3 << 20, 1);
    QTest::newRow("edited, one segment") << base << edited(base, 7) << false << quint64(0);
    // Small segments exercise the cutting that files past 2 GiB need.
    QTest::newRow("edited, many segments") << base << edited(base, 8) << false << quint64(256 << 10);
    QTest::newRow("new file from nothing") << QByteArray() << randomBytes(100000, 2) << true << quint64(0);
    QTest::newRow("emptied") << base << QByteArray() << false << quint64(0);
    QTest::newRow("shrunk to a part") << base << base.mid(1 << 20, 5000) << false << quint64(64 << 10);
    QTest::newRow("identical") << base << base << false << quint64(0);
}

// A patch made by the counterpart and applied in place reproduces the new
// file byte for byte, keeps the file's permissions and leaves no temporary.
void tst_Patch::roundTrip()
{
    QFETCH(QByteArray, oldBytes);
    QFETCH(QByteArray, newBytes);
    QFETCH(bool, oldMissing);
    QFETCH(quint64, segment);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString oldPath = dir.filePath(QStringLiteral("game/a.pak"));
    const QString newPath = dir.filePath(QStringLiteral("next/a.pak"));
    const QString diff = dir.filePath(QStringLiteral("a.pak.patch"));
    QVERIFY(writeFile(newPath, newBytes));
    if (!oldMissing) {
        QVERIFY(writeFile(oldPath, oldBytes));
        QFile::setPermissions(oldPath, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    } else {
        QDir().mkpath(dir.filePath(QStringLiteral("game")));
    }

    if (segment == 0) {
        const ToolRun made = runProgram(programPath(QStringLiteral("hdiffz")), { oldPath, newPath, diff });
        QVERIFY2(made.exitCode == 0, made.err.constData());
    } else {
        hpatch::CreateOptions options;
        options.segmentSize = segment;
        options.margin = segment;
        QVERIFY(makePatch(oldPath, newPath, diff, options));
    }
    const ToolRun applied = hpatchz(oldPath, diff, oldPath);
    QVERIFY2(applied.exitCode == 0, applied.err.constData());
    QCOMPARE(readFile(oldPath), newBytes);
    QVERIFY(applied.out.contains("progress:(100)"));
    QVERIFY(leftovers(dir.filePath(QStringLiteral("game"))).isEmpty());
#ifdef Q_OS_UNIX // elsewhere the mode bits are a read-only flag at most
    if (!oldMissing)
        QCOMPARE(QFile::permissions(oldPath),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadUser | QFile::WriteUser);
#endif
}

void tst_Patch::codingsRoundTrip_data()
{
    using namespace PatchPairs;
    QTest::addColumn<QByteArray>("oldBytes");
    QTest::addColumn<QByteArray>("newBytes");
    QTest::addColumn<bool>("diffWins"); // the difference coding must beat a frame clearly

    const QByteArray base = pack(2 << 20, 21);
    QByteArray edits = base;
    for (int i = 0; i < 30; ++i)
        edits.replace(37 + i * 69001, 1 + i % 9, randomBytes(1 + i % 9, 100 + i));
    QTest::newRow("pack with scattered small edits") << base << edits << false;

    QByteArray moved;
    for (int i = 0; i < 32; ++i) {
        const int block = (i * 13) % 32; // every block, in another order
        if (block % 7 == 3)
            moved += wordText(20000, 200 + i);
        else if (block % 11 != 5)
            moved += base.mid(block * 65536, 65536);
    }
    QTest::newRow("pack with moved and inserted blocks") << base << moved << false;

    QTest::newRow("code whose addresses moved") << code(1 << 20, 31) << code(1 << 20, 31, 300000, 24) << true;

    const QByteArray head = pack(512 << 10, 41);
    const QByteArray tail = pack(512 << 10, 42);
    QTest::newRow("compressed block changed whole")
        << head + randomBytes(256 << 10, 43) + tail << head + randomBytes(250 << 10, 44) + tail << false;
    QTest::newRow("grown") << base << base + pack(1 << 20, 51) << false;
    QTest::newRow("shrunk") << base << base.mid(100000, 300000) + base.mid(1500000, 200000) << false;
}

// Each coding alone, the smaller of the two per segment and many small
// segments all rebuild the new file, and the choice keeps the smaller.
void tst_Patch::codingsRoundTrip()
{
    QFETCH(QByteArray, oldBytes);
    QFETCH(QByteArray, newBytes);
    QFETCH(bool, diffWins);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString oldPath = dir.filePath(QStringLiteral("old.pak"));
    const QString newPath = dir.filePath(QStringLiteral("new.pak"));
    const QString target = dir.filePath(QStringLiteral("a.pak"));
    QVERIFY(writeFile(oldPath, oldBytes));
    QVERIFY(writeFile(newPath, newBytes));

    struct Variant
    {
        const char *name;
        hpatch::Coding coding;
        quint64 segment;
    };
    const Variant variants[] = { { "frame", hpatch::Coding::Frame, 0 }, { "diff", hpatch::Coding::Diff, 0 },
        { "smaller", hpatch::Coding::Smaller, 0 }, { "segments", hpatch::Coding::Smaller, 256 << 10 } };
    QMap<QString, qint64> sizes;
    for (const Variant &v : variants) {
        hpatch::CreateOptions options;
        options.level = 9;
        options.coding = v.coding;
        if (v.segment) {
            options.segmentSize = v.segment;
            options.margin = v.segment;
        }
        const QString diff = dir.filePath(QLatin1String(v.name) + QStringLiteral(".patch"));
        QVERIFY2(makePatch(oldPath, newPath, diff, options), v.name);
        sizes.insert(QLatin1String(v.name), QFileInfo(diff).size());
        QFile::remove(target);
        QVERIFY(QFile::copy(oldPath, target));
        const ToolRun r = hpatchz(target, diff, target);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QVERIFY2(readFile(target) == newBytes, v.name);
    }
    QVERIFY(leftovers(dir.path()).isEmpty());
    // A frame is not tried where the difference coding came to under 1/64 of
    // the new file: there it may lose by that much at most.
    QVERIFY(sizes.value("smaller") <= sizes.value("diff"));
    QVERIFY(sizes.value("smaller") <= sizes.value("frame") + newBytes.size() / 64);
    if (diffWins)
        QVERIFY2(sizes.value("diff") * 3 < sizes.value("frame") * 2,
            qPrintable(QStringLiteral("diff %1, frame %2").arg(sizes.value("diff")).arg(sizes.value("frame"))));
}

namespace {

// A version 2 patch of one difference segment, assembled from its streams.
QByteArray diffPatch(const QByteArray &oldBytes, const QByteArray &newBytes, const QByteArray &control,
    const QByteArray &diff, const QByteArray &extra, char coding = 1)
{
    hpatch::Header h;
    h.version = 2;
    h.oldSize = quint64(oldBytes.size());
    h.newSize = quint64(newBytes.size());
    h.oldCrc = hpatch::crcUpdate(0, reinterpret_cast<const unsigned char *>(oldBytes.constData()), h.oldSize);
    h.newCrc = hpatch::crcUpdate(0, reinterpret_cast<const unsigned char *>(newBytes.constData()), h.newSize);
    h.segmentSize = quint64(1) << 29;
    h.margin = quint64(1) << 29;
    QByteArray out(int(hpatch::HeaderSize), '\0');
    hpatch::encodeHeader(h, reinterpret_cast<unsigned char *>(out.data()));
    out.append(coding);
    for (const QByteArray *stream : { &control, &diff, &extra }) {
        QByteArray size(8, '\0');
        hpatch::putU64(reinterpret_cast<unsigned char *>(size.data()), quint64(stream->size()));
        out += size;
    }
    return out + control + diff + extra;
}

} // namespace

void tst_Patch::refusesHostileVersion2_data()
{
    using namespace PatchPairs;
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("diff");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<int>("newSize");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QByteArray>("stderrText"); // empty: the patch is valid

    // The old file is 4096 bytes; the valid row proves that the streams are
    // assembled right, so that each other row fails for its own reason.
    const QByteArray x(50, 'x');
    row("valid, made by hand", rawFrame(step(100, 50, 10) + step(20, 0, 0)), rawFrame(zeroRun(120)), rawFrame(x), 170,
        "", QByteArray());
    row("diff past the old file", rawFrame(step(5000, 0, 0)), rawFrame(zeroRun(5000)), rawFrame({}), 5000, "",
        QByteArray("past the segment or the old file"));
    row("seek before the old file", rawFrame(step(10, 0, -20) + step(10, 0, 0)), rawFrame(zeroRun(20)), rawFrame({}),
        20, "", QByteArray("past the old file"));
    row("seek past the old file", rawFrame(step(10, 0, 5000) + step(10, 0, 0)), rawFrame(zeroRun(20)), rawFrame({}), 20,
        "", QByteArray("past the old file"));
    row("step longer than the segment", rawFrame(step(10, 500, 0)), rawFrame(zeroRun(10)), rawFrame(x), 100, "",
        QByteArray("past the segment"));
    row("empty step after the first", rawFrame(step(10, 0, 0) + step(0, 0, 5) + step(10, 0, 0)), rawFrame(zeroRun(20)),
        rawFrame({}), 20, "", QByteArray("empty control step"));
    row("number of ten bytes", rawFrame(QByteArray(10, '\xff') + '\x01' + step(0, 0, 0)), rawFrame({}), rawFrame({}),
        20, "", QByteArray("control step is damaged"));
    row("control ends before the segment", rawFrame(step(10, 0, 0)), rawFrame(zeroRun(20)), rawFrame({}), 20, "",
        QByteArray("control step is damaged"));
    row("diff stream shorter than its steps", rawFrame(step(100, 0, 0)), rawFrame(zeroRun(50)), rawFrame({}), 100, "",
        QByteArray("ends early"));
    row("run of zeros of ten bytes", rawFrame(step(10, 0, 0)), rawFrame(QByteArray(1, '\0') + QByteArray(10, '\xff')),
        rawFrame({}), 10, "", QByteArray("run of zeros is damaged"));
    row("diff stream longer than its steps", rawFrame(step(20, 0, 0)), rawFrame(zeroRun(30)), rawFrame({}), 20, "",
        QByteArray("diff data after the segment's end"));
    row("extra stream longer than its steps", rawFrame(step(10, 50, 0)), rawFrame(zeroRun(10)), rawFrame(x + "more"),
        60, "", QByteArray("holds more than its segment uses"));
    row("control data after the segment", rawFrame(step(10, 0, 0) + step(10, 0, 0)), rawFrame(zeroRun(20)),
        rawFrame({}), 10, "", QByteArray("after the segment's end"));
    row("stream window beyond the limit", rawFrame(step(10, 0, 0)), rawFrame(zeroRun(10), 30), rawFrame({}), 10, "",
        QByteArray("too much memory"));
    row("garbage as a stream", QByteArray("not a zstd frame"), rawFrame(zeroRun(10)), rawFrame({}), 10, "",
        QByteArray("damaged"));
    row("unknown coding", rawFrame(step(10, 0, 0)), rawFrame(zeroRun(10)), rawFrame({}), 10, "coding",
        QByteArray("unknown coding"));
    row("stream size beyond the patch", rawFrame(step(10, 0, 0)), rawFrame(zeroRun(10)), rawFrame({}), 10, "size",
        QByteArray("ends early"));
    row("cut inside the sizes", rawFrame(step(10, 0, 0)), rawFrame(zeroRun(10)), rawFrame({}), 10, "cut",
        QByteArray("ends early"));
}

// A patch from the network may be hostile: every bad value ends in exit 1
// with a reason, the target untouched and no temporary left, never a crash,
// a write outside the output or an allocation the patch asked for.
void tst_Patch::refusesHostileVersion2()
{
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, diff);
    QFETCH(QByteArray, extra);
    QFETCH(int, newSize);
    QFETCH(QString, damage);
    QFETCH(QByteArray, stderrText);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray oldBytes = randomBytes(4096, 61);
    // What a valid patch of these streams makes: only the first row is one.
    const QByteArray expected = oldBytes.left(100) + QByteArray(50, 'x') + oldBytes.mid(110, 20);
    const QByteArray newBytes = stderrText.isEmpty() ? expected : QByteArray(newSize, 'n');
    QByteArray patch = diffPatch(oldBytes, newBytes, control, diff, extra, damage == QLatin1String("coding") ? 9 : 1);
    const int sizes = int(hpatch::HeaderSize) + 1;
    if (damage == QLatin1String("size"))
        hpatch::putU64(reinterpret_cast<unsigned char *>(patch.data()) + sizes, quint64(1) << 61);
    else if (damage == QLatin1String("cut"))
        patch.truncate(sizes + 12);
    const QString target = dir.filePath(QStringLiteral("a.pak"));
    const QString diffPath = dir.filePath(QStringLiteral("a.patch"));
    QVERIFY(writeFile(target, oldBytes));
    QVERIFY(writeFile(diffPath, patch));

    const ToolRun r = hpatchz(target, diffPath, target);
    if (stderrText.isEmpty()) {
        QVERIFY2(r.exitCode == 0, r.err.constData());
        QCOMPARE(readFile(target), expected);
        return;
    }
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("is damaged") && r.err.contains(stderrText), r.err.constData());
    QCOMPARE(readFile(target), oldBytes);
    QVERIFY(leftovers(dir.path()).isEmpty());
}

void tst_Patch::appliesEarlierFormats_data()
{
    QTest::addColumn<QString>("prefix");
    // Made by the hdiffz of its time; a launcher may still be handed one.
    textRow("version 1", "data/v1");
}

// Patches that shipped keep applying byte for byte, in place.
void tst_Patch::appliesEarlierFormats()
{
    QFETCH(QString, prefix);
    const QString oldSource = QFINDTESTDATA(prefix + QStringLiteral("-old.bin"));
    const QString diff = QFINDTESTDATA(prefix + QStringLiteral(".patch"));
    const QString expected = QFINDTESTDATA(prefix + QStringLiteral("-new.bin"));
    QVERIFY(!oldSource.isEmpty() && !diff.isEmpty() && !expected.isEmpty());
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("a.pak"));
    QVERIFY(QFile::copy(oldSource, target));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    const ToolRun r = hpatchz(target, diff, target);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(readFile(target), readFile(expected));
    QVERIFY(leftovers(dir.path()).isEmpty());
}

// Version 1 was version 2 with frames only and without the coding byte: a
// patch of many frame segments, rewritten so, applies as version 1.
void tst_Patch::appliesVersion1Segments()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray oldBytes = PatchPairs::pack(1 << 20, 71);
    const QByteArray newBytes = edited(oldBytes, 72);
    const QString oldPath = dir.filePath(QStringLiteral("old.pak"));
    const QString newPath = dir.filePath(QStringLiteral("new.pak"));
    const QString diff = dir.filePath(QStringLiteral("a.patch"));
    QVERIFY(writeFile(oldPath, oldBytes));
    QVERIFY(writeFile(newPath, newBytes));
    hpatch::CreateOptions options;
    options.level = 3;
    options.coding = hpatch::Coding::Frame;
    options.segmentSize = 128 << 10;
    options.margin = 64 << 10;
    QVERIFY(makePatch(oldPath, newPath, diff, options));

    const QByteArray v2 = readFile(diff);
    QByteArray v1 = v2.left(int(hpatch::HeaderSize));
    v1[7] = 1;
    int segments = 0;
    for (int at = int(hpatch::HeaderSize); at < v2.size(); ++segments) {
        QCOMPARE(int(v2[at]), int(hpatch::FrameSegment));
        const int frame = int(hpatch::getU64(reinterpret_cast<const unsigned char *>(v2.constData()) + at + 1));
        v1 += v2.mid(at + 1, 8 + frame);
        at += 1 + 8 + frame;
    }
    QVERIFY(segments > 4);
    QVERIFY(writeFile(diff, v1));
    const ToolRun r = hpatchz(oldPath, diff, oldPath);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(readFile(oldPath), newBytes);
}

void tst_Patch::refusesWrongOrBrokenInput_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QByteArray>("stderrPart");
    QTest::newRow("other old file, same size") << "other old" << QByteArray("does not match");
    QTest::newRow("other old file, other size") << "longer old" << QByteArray("bytes");
    QTest::newRow("flipped byte in the data") << "flip" << QByteArray("damaged");
    QTest::newRow("truncated patch") << "truncate" << QByteArray("damaged");
    QTest::newRow("trailing garbage") << "append" << QByteArray("damaged");
    QTest::newRow("no patch at all") << "garbage" << QByteArray("no patch");
    QTest::newRow("directory patch") << "dir" << QByteArray("not supported");
}

// Every refusal exits non-zero with a message and leaves the old file as it was.
void tst_Patch::refusesWrongOrBrokenInput()
{
    QFETCH(QString, damage);
    QFETCH(QByteArray, stderrPart);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray oldBytes = randomBytes(1 << 20, 3);
    const QString oldPath = dir.filePath(QStringLiteral("a.pak"));
    const QString newPath = dir.filePath(QStringLiteral("new.pak"));
    const QString diff = dir.filePath(QStringLiteral("a.patch"));
    QVERIFY(writeFile(oldPath, oldBytes));
    QVERIFY(writeFile(newPath, edited(oldBytes, 9)));
    QVERIFY(makePatch(oldPath, newPath, diff));

    QByteArray target = oldBytes;
    QByteArray patch = readFile(diff);
    QStringList extra;
    if (damage == QLatin1String("other old"))
        target[5000] = static_cast<char>(target[5000] ^ 1);
    else if (damage == QLatin1String("longer old"))
        target += "x";
    else if (damage == QLatin1String("flip"))
        patch[patch.size() / 2] = static_cast<char>(patch[patch.size() / 2] ^ 0x55);
    else if (damage == QLatin1String("truncate"))
        patch.chop(10);
    else if (damage == QLatin1String("append"))
        patch += "tail";
    else if (damage == QLatin1String("garbage"))
        patch = randomBytes(1000, 4);
    else if (damage == QLatin1String("dir"))
        extra << QStringLiteral("-c");
    QVERIFY(writeFile(oldPath, target));
    QVERIFY(writeFile(diff, patch));

    const ToolRun r = hpatchz(oldPath, diff, oldPath, extra);
    QVERIFY(r.exitCode != 0 && r.exitCode != -1);
    QVERIFY2(r.err.contains(stderrPart), r.err.constData());
    QCOMPARE(readFile(oldPath), target);
    QVERIFY(leftovers(dir.path()).isEmpty());
}

void tst_Patch::resourceLimits_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("expectedExit");
    QTest::newRow("file size limit is a full disk") << "--fsize=200000" << 24;
    QTest::newRow("address space limit is lack of memory") << "--as=120000000" << 22;
}

// The two fatal exit codes that the merge stage turns into user texts.
void tst_Patch::resourceLimits()
{
    QFETCH(QString, limit);
    QFETCH(int, expectedExit);
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        QSKIP("prlimit (util-linux) is not installed");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (expectedExit == 22)
        QSKIP("a sanitizer build of hpatchz cannot start under an address-space limit");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString oldPath = dir.filePath(QStringLiteral("a.pak"));
    const QString newPath = dir.filePath(QStringLiteral("b.pak"));
    const QString diff = dir.filePath(QStringLiteral("a.patch"));
    // Large but sparse: the mapping of the old file, not its content, matters.
    QVERIFY(writeFile(oldPath, randomBytes(500000, 5)));
    QVERIFY(QFile::resize(oldPath, 200 << 20));
    QVERIFY(writeFile(newPath, randomBytes(600000, 6)));
    QVERIFY(makePatch(oldPath, newPath, diff));
    const QByteArray before = readFile(oldPath);

    QProcess p;
    p.start(prlimit, { limit, programPath(QStringLiteral("hpatchz")), oldPath, diff, oldPath, QStringLiteral("-f") });
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == expectedExit, p.readAllStandardError().constData());
    QVERIFY(readFile(oldPath) == before);
    QVERIFY(leftovers(dir.path()).isEmpty());
}

void tst_Patch::manifestPathCheck_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << "Paks/a.pak" << true;
    QTest::newRow("backslashes") << "Paks\\a.pak" << true;
    QTest::newRow("dots inside names") << "a..b/c.patch" << true;
    QTest::newRow("current folder segment") << "./a/./b" << true;
    QTest::newRow("parent") << "../x" << false;
    QTest::newRow("parent inside") << "a/../../x" << false;
    QTest::newRow("parent with backslash") << "a\\..\\..\\x" << false;
    QTest::newRow("windows trailing dots") << "a/.../x" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("absolute windows") << "\\Windows\\x" << false;
    QTest::newRow("drive letter") << "C:/x" << false;
    QTest::newRow("drive relative") << "C:x" << false;
    QTest::newRow("network share") << "\\\\server\\share\\x" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("the folder itself") << "./" << false;
}

void tst_Patch::manifestPathCheck()
{
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(IsSafeManifestPath(path), safe);
}

namespace {

struct StageResult
{
    QVector<PatcherCallbackInfo> reports;
    int ends = 0;
};

// Runs one stage through the registry, as a host does, and collects every report.
bool runStage(GameUpdateContext &ctx, StageResult &result)
{
    auto component = GetPatchComponent();
    if (!component)
        return false;
    component->RegistCallbackFunc([&result](PatcherCallbackInfo &info) {
        result.reports.append(info);
        if (info.bFinished || info.bError)
            ++result.ends;
    });
    component->StartApplyPatch(ctx);
    const bool ended = QTest::qWaitFor([&result]() { return result.ends > 0; }, 120000);
    // A second end report would arrive through the same queue.
    QCoreApplication::processEvents();
    component->RegistCallbackFunc(nullptr);
    return ended;
}

// A version folder and the next one, and the patch folder between them,
// built as the publisher does.
struct VersionPair
{
    QString v1, v2, patchDir;
};

bool buildVersionPair(const QString &root, VersionPair &pair, bool withPatches = true)
{
    pair.v1 = root + QStringLiteral("/v1");
    pair.v2 = root + QStringLiteral("/v2");
    pair.patchDir = root + QStringLiteral("/patch");
    const QByteArray pak = randomBytes(600000, 11);
    const QByteArray exe = randomBytes(90000, 12);
    bool ok = writeFile(pair.v1 + QStringLiteral("/Paks/x/a.pak"), pak)
        && writeFile(pair.v1 + QStringLiteral("/Game.exe"), exe)
        && writeFile(pair.v1 + QStringLiteral("/same.txt"), "unchanged")
        && writeFile(pair.v1 + QStringLiteral("/old.dll"), "obsolete")
        && writeFile(pair.v1 + QStringLiteral("/Movies/intro.bik"), "old movie")
        && writeFile(pair.v1 + QStringLiteral("/Movies/outro.bik"), "old movie 2");
    ok = ok && writeFile(pair.v2 + QStringLiteral("/Paks/x/a.pak"), edited(pak, 13))
        && writeFile(pair.v2 + QStringLiteral("/Game.exe"), edited(exe, 14))
        && writeFile(pair.v2 + QStringLiteral("/same.txt"), "unchanged")
        && writeFile(pair.v2 + QStringLiteral("/Paks/b.pak"), randomBytes(5000, 15))
        && writeFile(pair.v2 + QStringLiteral("/Config/New.ini"), "[a]\nb=1\n");
    if (!ok)
        return false;
    QString manifest = QStringLiteral("--del_file--\nold.dll|x|8\nMovies|x|0\n--new_file--\n");
    for (const QString &path : { QStringLiteral("Paks/b.pak"), QStringLiteral("Config/New.ini") }) {
        const QByteArray bytes = readFile(pair.v2 + QLatin1Char('/') + path);
        if (!writeFile(pair.patchDir + QLatin1Char('/') + path, bytes))
            return false;
        manifest += QStringLiteral("%1|md5|%2\n").arg(path).arg(bytes.size());
    }
    manifest += QStringLiteral("--patch_file--\n");
    if (withPatches) {
        for (const QString &path : { QStringLiteral("Paks/x/a.pak"), QStringLiteral("Game.exe") }) {
            const QString diff = pair.patchDir + QLatin1Char('/') + path + QStringLiteral(".patch");
            if (!makePatch(pair.v1 + QLatin1Char('/') + path, pair.v2 + QLatin1Char('/') + path, diff))
                return false;
            manifest += QStringLiteral("%1.patch|md5|%2\n").arg(path).arg(QFileInfo(diff).size());
        }
    }
    return writeFile(pair.patchDir + QStringLiteral("/manifest.txt"), manifest.toUtf8());
}

GameUpdateContext mergeContext(const QString &root, const VersionPair &pair)
{
    GameUpdateContext ctx;
    ctx.bGameUpdate = true;
    ctx.patchDir = pair.patchDir;
    ctx.mergeTargetPath = pair.v1;
    ctx.mergeTempPath = root + QStringLiteral("/temp");
    return ctx;
}

} // namespace

// Patches, new files and deletions turn a version folder into the next one.
void tst_Patch::mergeStageTurnsVersionIntoNext()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair));
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QVERIFY(end.bFinished && !end.bError && !end.needMd5CheckPakDir);
    QCOMPARE(treeContent(pair.v1), treeContent(pair.v2));
    QVERIFY(QFileInfo(ctx.mergeTempPath).isDir());

    // Step-0 figures are weighted by patch size and reach the total.
    quint64 lastPatched = 0;
    quint64 total = 0;
    for (const PatcherCallbackInfo &r : result.reports) {
        if (r.status == MergeStep::Patching && !r.bFinished) {
            QVERIFY(r.percent >= lastPatched);
            lastPatched = r.percent;
            total = r.totalpercent;
        }
    }
    const quint64 patchBytes = QFileInfo(pair.patchDir + QStringLiteral("/Paks/x/a.pak.patch")).size()
        + QFileInfo(pair.patchDir + QStringLiteral("/Game.exe.patch")).size();
    QCOMPARE(total, patchBytes);
    QCOMPARE(lastPatched, patchBytes);
}

void tst_Patch::mergeStageVariants_data()
{
    QTest::addColumn<bool>("withPatches");
    QTest::addColumn<bool>("skip");
    QTest::addColumn<bool>("damageTarget");
    QTest::newRow("empty patch map still adds and deletes") << false << false << false;
    QTest::newRow("skip flag runs no tool") << true << true << false;
    QTest::newRow("patch for another file: flag, run goes on") << true << false << true;
}

void tst_Patch::mergeStageVariants()
{
    QFETCH(bool, withPatches);
    QFETCH(bool, skip);
    QFETCH(bool, damageTarget);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair, withPatches));
    const QString pak = pair.v1 + QStringLiteral("/Paks/x/a.pak");
    if (damageTarget)
        QVERIFY(writeFile(pak, "not the file the patch was made for"));
    const QByteArray pakBefore = readFile(pak);
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    ctx.skipPatchFiles = skip;
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QCOMPARE(end.needMd5CheckPakDir, damageTarget);
    bool patchProgress = false;
    for (const PatcherCallbackInfo &r : result.reports)
        patchProgress = patchProgress || (r.status == MergeStep::Patching && !r.bFinished && !r.bError);
    QCOMPARE(patchProgress, withPatches && !skip);
    // The patch that failed leaves its file alone; the others apply.
    QCOMPARE(readFile(pak),
        withPatches && !skip && !damageTarget ? readFile(pair.v2 + QStringLiteral("/Paks/x/a.pak")) : pakBefore);
    if (damageTarget)
        QCOMPARE(readFile(pair.v1 + QStringLiteral("/Game.exe")), readFile(pair.v2 + QStringLiteral("/Game.exe")));
    // New files and deletions happen in every variant.
    QCOMPARE(readFile(pair.v1 + QStringLiteral("/Paks/b.pak")), readFile(pair.v2 + QStringLiteral("/Paks/b.pak")));
    QCOMPARE(readFile(pair.v1 + QStringLiteral("/Config/New.ini")), QByteArray("[a]\nb=1\n"));
    QVERIFY(!QFileInfo::exists(pair.v1 + QStringLiteral("/old.dll")));
    QVERIFY(!QFileInfo::exists(pair.v1 + QStringLiteral("/Movies")));
}

// A new file that cannot be written ends the run with the in-use text; the
// deletions after it are skipped.
void tst_Patch::mergeStageFileInUse()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    VersionPair pair;
    QVERIFY(buildVersionPair(dir.path(), pair, false));
    const QString locked = pair.v1 + QStringLiteral("/Paks/b.pak");
    QVERIFY(writeFile(locked, "in use"));
    ImmutableGuard guard(locked);
    if (!guard.ok())
        QSKIP("this file system or user cannot set the immutable attribute");
    GameUpdateContext ctx = mergeContext(dir.path(), pair);
    StageResult result;
    QVERIFY(runStage(ctx, result));
    QCOMPARE(result.ends, 1);
    QCOMPARE(result.reports.last().errorString,
        QStringLiteral("文件%1被占用中，无法修改或删除，请解除占用或者删除后再进行重试").arg(locked));
    QVERIFY(!result.reports.last().bFinished);
    QVERIFY(QFileInfo::exists(pair.v1 + QStringLiteral("/old.dll")));
}

namespace {

QString manifestText(const QMap<QString, QByteArray> &files)
{
    QString text;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        text += QStringLiteral("%1|md5|%2\r\n").arg(it.key()).arg(it.value().size());
    return text;
}

} // namespace

void tst_Patch::updateStage_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("installers replaced and deleted") << false;
    // Held by a running installer: neither deleted nor replaced, and no error.
    QTest::newRow("locked installers stay") << true;
}

// The launcher's own update: deletions, letter-case renames, the background
// video beside the playing one, the installers and the updater staged aside.
void tst_Patch::updateStage()
{
    QFETCH(bool, locked);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("Launcher"));
    const QString source = dir.filePath(QStringLiteral("UnZip/launcher_1.1"));
    const QMap<QString, QByteArray> oldFiles{
        { QStringLiteral("Launcher.exe"), "old exe" },
        { QStringLiteral("Readme.TXT"), "old readme" },
        { QStringLiteral("gone.dll"), "gone" },
        { QStringLiteral("bg.wmv"), "old video" },
        { QStringLiteral("redist/vc_redist.x64.exe"), "old installer" },
        { QStringLiteral("UpdateGUI/UpdateGUI.exe"), "old updater" },
    };
    const QMap<QString, QByteArray> newFiles{
        { QStringLiteral("Launcher.exe"), "new exe" },
        { QStringLiteral("readme.txt"), "new readme" },
        { QStringLiteral("bg.wmv"), "new video" },
        { QStringLiteral("redist/dxwebsetup.exe"), "new installer" },
        { QStringLiteral("UpdateGUI/UpdateGUI.exe"), "new updater" },
    };
    for (auto it = oldFiles.cbegin(); it != oldFiles.cend(); ++it)
        QVERIFY(writeFile(target + QLatin1Char('/') + it.key(), it.value()));
    for (auto it = newFiles.cbegin(); it != newFiles.cend(); ++it)
        QVERIFY(writeFile(source + QLatin1Char('/') + it.key(), it.value()));
    QVERIFY(writeFile(source + QStringLiteral("/UpdateGUI/lib/core.dll"), "updater lib"));
    QVERIFY(writeFile(target + QStringLiteral("/redist/dxwebsetup.exe"), "running installer"));
    std::unique_ptr<ImmutableGuard> lockOld, lockNew;
    if (locked) {
        lockOld = std::make_unique<ImmutableGuard>(target + QStringLiteral("/redist/vc_redist.x64.exe"));
        lockNew = std::make_unique<ImmutableGuard>(target + QStringLiteral("/redist/dxwebsetup.exe"));
        if (!lockOld->ok() || !lockNew->ok())
            QSKIP("this file system or user cannot set the immutable attribute");
    }

    GameUpdateContext ctx;
    ctx.bGameUpdate = false;
    ctx.updateTargetDir = target;
    ctx.updateSourceDir = source;
    ctx.oldFileManifestText = manifestText(oldFiles);
    ctx.newFileManifestText = manifestText(newFiles);
    StageResult result;
    QVERIFY(runStage(ctx, result));

    QCOMPARE(result.ends, 1);
    const PatcherCallbackInfo &end = result.reports.last();
    QVERIFY2(end.errorString.isEmpty(), qPrintable(end.errorString));
    QVERIFY(end.bFinished && !end.bError);
    // 4 manifest files outside the updater plus 2 staged updater files.
    QCOMPARE(end.percent, quint64(6));
    QCOMPARE(end.totalpercent, quint64(6));
    for (const PatcherCallbackInfo &r : result.reports)
        QCOMPARE(r.status, MergeStep::Copying);

    // The whole folder: the old-case readme and gone.dll are gone, the running video stays.
    QMap<QString, QByteArray> expected{ { "Launcher.exe", "new exe" }, { "readme.txt", "new readme" },
        { "bg.wmv", "old video" }, { "bg.wmv.copy", "new video" },
        { "redist/dxwebsetup.exe", locked ? "running installer" : "new installer" },
        { "UpdateGUI/UpdateGUI.exe", "old updater" }, { "UpdateGUITemp/UpdateGUI.exe", "new updater" },
        { "UpdateGUITemp/lib/core.dll", "updater lib" } };
    if (locked)
        expected.insert(QStringLiteral("redist/vc_redist.x64.exe"), "old installer");
    QCOMPARE(treeContent(target), expected);
    // The unpacked package is cleaned up with its parent folder.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("UnZip"))));
}

void tst_Patch::updateStageNeverDeletesTheTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("gone"); // what the stage removes after its work
    textRow("package in its own folder", "Launcher", "UnZip/src", "UnZip");
    textRow("package inside the target", "u1/launcher", "u1/launcher/download", "u1/launcher/download");
    textRow("package beside the target", "Games/Launcher", "Games/New", "Games/New");
    textRow("package is the target", "L", "L", "");
    // The default layout keeps the download cache in the program's folder: it
    // goes with the package, since none of the files placed lies in it.
    textRow("cache inside the target", "Launcher", "Launcher/MorvanielCache/UnZip", "Launcher/MorvanielCache");
}

// The unpacked package goes when the stage is done; the updated folder, its
// settings and whatever lies beside it stay.
void tst_Patch::updateStageNeverDeletesTheTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(QString, gone);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    target = dir.filePath(target);
    source = dir.filePath(source);
    QVERIFY(writeFile(target + QStringLiteral("/config.ini"), "[Setting]\n"));
    QVERIFY(writeFile(source + QStringLiteral("/Launcher.exe"), "new exe"));
    QVERIFY(writeFile(source + QStringLiteral("/UpdateGUI/UpdateGUI.exe"), "new updater"));
    QVERIFY(writeFile(QFileInfo(target).path() + QStringLiteral("/Other/save.dat"), "beside"));
    // The downloaded package beside its unpacked copy.
    if (source != target)
        QVERIFY(writeFile(QFileInfo(source).path() + QStringLiteral("/launcher_1.1.7z"), "package"));

    GameUpdateContext ctx;
    ctx.updateTargetDir = target;
    ctx.updateSourceDir = source;
    ctx.newFileManifestText = QStringLiteral("Launcher.exe|m|7\nUpdateGUI/UpdateGUI.exe|m|11\n");
    StageResult result;
    QVERIFY(runStage(ctx, result));
    QCOMPARE(result.ends, 1);
    QVERIFY2(!result.reports.last().bError, qPrintable(result.reports.last().errorString));

    const auto after = treeContent(target);
    QCOMPARE(after.value(QStringLiteral("config.ini")), QByteArray("[Setting]\n"));
    QCOMPARE(after.value(QStringLiteral("Launcher.exe")), QByteArray("new exe"));
    QCOMPARE(after.value(QStringLiteral("UpdateGUITemp/UpdateGUI.exe")), QByteArray("new updater"));
    QCOMPARE(readFile(QFileInfo(target).path() + QStringLiteral("/Other/save.dat")), QByteArray("beside"));
    if (!gone.isEmpty())
        QVERIFY(!QFileInfo::exists(dir.filePath(gone)));
}

namespace {

const char QuitChildFlag[] = "--quit-from-final-callback";

// A host that quits from the update stage's final callback, the natural end of
// a self-update: the Patcher goes with the application while its thread ends.
int quitFromFinalCallback(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[2]);
    writeFile(root + QStringLiteral("/UnZip/src/a.txt"), "new");
    GameUpdateContext ctx;
    ctx.updateTargetDir = root + QStringLiteral("/Launcher");
    ctx.updateSourceDir = root + QStringLiteral("/UnZip/src");
    ctx.newFileManifestText = QStringLiteral("a.txt|m|3\n");
    // The Patcher alone, without the registry: the network manager's own
    // thread would only add Qt-internal noise to a ThreadSanitizer run.
    Patcher::GetInstance()->RegistCallbackFunc([](PatcherCallbackInfo &info) {
        if (info.bFinished || info.bError)
            QCoreApplication::quit();
    });
    Patcher::GetInstance()->StartApplyPatch(ctx);
    return app.exec();
}

} // namespace

void tst_Patch::quittingFromTheFinalCallbackEndsCleanly()
{
#if defined(__SANITIZE_THREAD__)
    // The owner frees the thread object once QThread::wait() returned, and
    // that hand-over goes through Qt's futex wait, which the sanitizer cannot
    // see: every run would report the thread's last reads as races.
    QSKIP("QThread::wait() is invisible to ThreadSanitizer; the plain and AddressSanitizer runs cover this");
#endif
    for (int run = 0; run < 20; ++run) {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { QLatin1String(QuitChildFlag), dir.path() });
        QVERIFY2(child.waitForFinished(60000), "the host did not end");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
            qPrintable(
                QStringLiteral("run %1: %2")
                    .arg(QString::number(run), QString::fromLocal8Bit(child.readAllStandardError().right(2000)))));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("Launcher/a.txt"))), QByteArray("new"));
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], QuitChildFlag) == 0)
        return quitFromFinalCallback(argc, argv);
    QCoreApplication app(argc, argv);
    tst_Patch test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_patch.moc"
