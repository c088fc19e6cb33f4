// The parts of block delivery, one at a time: the digest, the cutter, the
// index format and its rules (hostile and cut-short indexes), the grouping
// of requests, the reading of ranged answers, the planner and the journal.

#include "../support/DataRows.h"
#include "../support/TestSupport.h"

#include "blocks/BlockCutter.h"
#include "blocks/BlockIndex.h"
#include "blocks/BlockJournal.h"
#include "blocks/BlockPlan.h"
#include "blocks/BundleRequests.h"
#include "blocks/RangeReplyParser.h"
#include "util/Sha256.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <sodium.h>
#include <zstd.h>

using namespace Morvaniel;
using TestSupport::row;

namespace {

// Blocks named by a letter: the same letter is the same content.
QByteArray content(QChar name, int size = 4096)
{
    return TestSupport::randomBytes(size, name.unicode());
}

// An index built from files given as strings of block letters ("ABC").
// Every distinct block lies in one bundle per ten blocks, in first-use order.
BlockIndex makeIndex(const QVector<QPair<QString, QString>> &files, const QString &version = "1.0.0.1")
{
    BlockIndex index;
    index.version = version;
    index.cut = CutParameters{ 1024, 4096, 16384 };
    QHash<QChar, quint32> numbers;
    QVector<QPair<QString, QString>> sorted = files;
    std::sort(sorted.begin(), sorted.end());
    for (const auto &f : sorted) {
        IndexFile file;
        file.path = f.first;
        file.md5 = QByteArray(16, 'm');
        file.firstRef = quint32(index.refs.size());
        for (const QChar c : f.second) {
            if (!numbers.contains(c)) {
                const int n = numbers.size();
                if (n % 10 == 0) {
                    IndexBundle b;
                    b.digest = BlockDigest::of(&n, sizeof n);
                    index.bundles.append(b);
                }
                IndexBlock b;
                const QByteArray bytes = content(c);
                b.digest = BlockDigest::of(bytes.constData(), std::size_t(bytes.size()));
                b.size = quint32(bytes.size());
                b.packedSize = 1000;
                b.bundle = quint32(index.bundles.size() - 1);
                b.bundleOffset = index.bundles.last().size;
                index.bundles.last().size += b.packedSize;
                index.blocks.append(b);
                numbers.insert(c, quint32(index.blocks.size() - 1));
            }
            index.refs.append(IndexRef{ file.size, numbers.value(c) });
            file.size += index.blocks[int(numbers.value(c))].size;
            ++file.refCount;
        }
        index.files.append(file);
    }
    return index;
}

QString refuse(const BlockIndex &index)
{
    BlockIndex out;
    QString error;
    return BlockIndex::parseRaw(index.encodeRaw(), out, error) ? QString() : error;
}

QByteArray zstdFrame(const QByteArray &raw, bool withSize = true)
{
    QByteArray out(int(ZSTD_compressBound(std::size_t(raw.size()))), Qt::Uninitialized);
    ZSTD_CCtx *c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, withSize ? 1 : 0);
    const std::size_t n
        = ZSTD_compress2(c, out.data(), std::size_t(out.size()), raw.constData(), std::size_t(raw.size()));
    ZSTD_freeCCtx(c);
    out.truncate(int(n));
    return out;
}

struct Run
{
    qint64 offset;
    QByteArray bytes;
};

} // namespace

class tst_Blocks : public QObject
{
    Q_OBJECT

private slots:
    void sha256_data();
    void sha256();
    void sha256BothPathsAgree();
    void cutter();
    void indexRoundTrip();
    void hostileIndex_data();
    void hostileIndex();
    void hostileFrame_data();
    void hostileFrame();
    void cutShortIndex();
    void requestGrouping_data();
    void requestGrouping();
    void rangeAnswer_data();
    void rangeAnswer();
    void planner_data();
    void planner();
    void journal();
};

void tst_Blocks::sha256_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("digest");
    row("empty", QByteArray(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    row("abc", QByteArray("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    row("two blocks of padding", QByteArray("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    row("a million a", QByteArray(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

void tst_Blocks::sha256()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, digest);
    for (bool accelerated : { false, true }) {
        Sha256::allowAcceleration(accelerated);
        QCOMPARE(QString::fromLatin1(Sha256::hash(input).toHex()), digest);
    }
    Sha256::allowAcceleration(true);
}

void tst_Blocks::sha256BothPathsAgree()
{
    // Lengths around every block border, fed whole and in odd pieces, against libsodium's SHA-256.
    QVERIFY(sodium_init() >= 0);
    const QByteArray data = TestSupport::randomBytes(4200, 9);
    for (bool accelerated : { false, true }) {
        Sha256::allowAcceleration(accelerated);
        for (int length = 0; length < 300; ++length) {
            unsigned char expected[32], whole[32], pieces[32];
            crypto_hash_sha256(expected, reinterpret_cast<const unsigned char *>(data.constData()), quint64(length));
            Sha256::hash(data.constData(), std::size_t(length), whole);
            Sha256 h;
            for (int at = 0; at < length; at += 1 + at % 67)
                h.addData(data.constData() + at, std::size_t(qMin(1 + at % 67, length - at)));
            h.result(pieces);
            QVERIFY2(std::equal(expected, expected + 32, whole), qPrintable(QString::number(length)));
            QVERIFY2(std::equal(expected, expected + 32, pieces), qPrintable(QString::number(length)));
        }
    }
    Sha256::allowAcceleration(true);
    qInfo("SHA-256 runs on %s", Sha256::implementation());
}

void tst_Blocks::cutter()
{
    const CutParameters p{ 2048, 8192, 32768 };
    QVERIFY(p.isValid());
    QVERIFY(CutParameters::standard().isValid());
    QVERIFY(!(CutParameters{ 2048, 6000, 32768 }).isValid()); // average not a power of two
    QVERIFY(!(CutParameters{ 8192, 8192, 32768 }).isValid());
    const QByteArray data = TestSupport::randomBytes(1 << 20, 11);
    auto cuts = [&p](const QByteArray &bytes) {
        QVector<QByteArray> blocks;
        const unsigned char *d = reinterpret_cast<const unsigned char *>(bytes.constData());
        std::size_t at = 0;
        while (at < std::size_t(bytes.size())) {
            const std::size_t n = BlockCutter::nextCut(d + at, std::size_t(bytes.size()) - at, p);
            blocks.append(bytes.mid(int(at), int(n)));
            at += n;
        }
        return blocks;
    };
    const QVector<QByteArray> before = cuts(data);
    for (int i = 0; i + 1 < before.size(); ++i) {
        QVERIFY(before[i].size() >= int(p.minSize));
        QVERIFY(before[i].size() <= int(p.maxSize));
    }
    QCOMPARE(before, cuts(data)); // the same bytes, the same cuts
    // An insertion moves only the cuts near it: nearly every block after it is found again.
    QByteArray edited = data;
    edited.insert(400000, TestSupport::randomBytes(777, 12));
    const QVector<QByteArray> after = cuts(edited);
    int kept = 0;
    for (const QByteArray &b : after)
        kept += before.contains(b) ? 1 : 0;
    QVERIFY2(kept >= after.size() - 4, qPrintable(QStringLiteral("%1 of %2 kept").arg(kept).arg(after.size())));
    // Short input is one block.
    QCOMPARE(BlockCutter::nextCut(reinterpret_cast<const unsigned char *>(data.constData()), 100, p), std::size_t(100));
}

void tst_Blocks::indexRoundTrip()
{
    const BlockIndex index = makeIndex(
        { { "PM/Content/Paks/a.pak", "ABCA" }, { "b.bin", "DB" }, { "empty.txt", "" }, { "说明.txt", "E" } });
    QString error;
    QVERIFY2(index.check(error), qPrintable(error));
    const QByteArray bytes = index.encode();
    QCOMPARE(index.encode(), bytes); // same index, same bytes
    BlockIndex back;
    QVERIFY2(BlockIndex::parse(bytes, back, error), qPrintable(error));
    QCOMPARE(back.encodeRaw(), index.encodeRaw());
    QCOMPARE(back.version, QStringLiteral("1.0.0.1"));
    QCOMPARE(back.files.size(), 4);
    QCOMPARE(back.findFile("b.bin"), 1);
    QCOMPARE(back.findFile("missing"), -1);
    QCOMPARE(back.totalBytes(), qint64(7 * 4096));
    QCOMPARE(BlockIndex::bundlePath(back.bundles[0].digest), "blocks/" + back.bundles[0].digest.hex() + ".bundle");
    QCOMPARE(BlockIndex::indexPath("1.0.0.2"), QStringLiteral("blocks/1.0.0.2.index"));
}

// Each row changes a sound index in one way a hostile or broken server
// might; the parser must refuse it, naming why, before anything acts on it.
void tst_Blocks::hostileIndex_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("refusal");
    const char *outside = "no path inside the game folder";
    row("absolute path", "path:/etc/passwd", outside);
    row("climbing path", "path:../x.pak", outside);
    row("climbing inside", "path:a/../../x", outside);
    row("drive letter", "path:C:x.pak", outside);
    row("backslash", "path:a\\b.pak", outside);
    row("empty segment", "path:a//b.pak", outside);
    row("dot segment", "path:./b.pak", outside);
    row("trailing dot", "path:b.pak.", outside);
    row("control character", "path:b\x01.pak", outside);
    row("empty path", "path:", outside);
    row("file listed twice", "twice", "twice");
    row("file twice in other letter case", "case", "different letter case");
    row("file inside a file", "nested", "would lie inside the file");
    row("files out of order", "order", "out of order");
    row("gap between blocks", "gap", "leave a gap");
    row("blocks overlapping", "overlap", "overlap at offset");
    row("file larger than its blocks", "bigger", "make");
    row("file smaller than its blocks", "smaller", "make");
    row("block of no bytes", "block-empty", "has 0 bytes");
    row("block past the cut maximum", "block-huge", "bytes");
    row("frame of no bytes", "packed-zero", "is packed into 0");
    row("frame beyond zstd's bound", "packed-huge", "is packed into");
    row("block in no listed bundle", "bundle-number", "no listed bundle");
    row("block past its bundle's end", "bundle-end", "past the end of its bundle");
    row("blocks sharing bundle bytes", "bundle-overlap", "overlap in their bundle");
    row("block listed twice", "block-twice", "listed twice");
    row("bundle listed twice", "bundle-twice", "listed twice");
    row("bundle of no bytes", "bundle-empty", "has 0 bytes");
    row("bundle beyond the limit", "bundle-huge", "bytes");
    row("place of a block not listed", "ref-block", "not listed");
    row("places that belong to no file", "ref-stray", "belong to no file");
    row("file's places not the next ones", "ref-first", "not the next ones");
    row("version that is a path", "version:../1.0", "is no version");
    row("empty version", "version:", "is no version");
    row("cut sizes unusable", "cut", "unusable");
}

void tst_Blocks::hostileIndex()
{
    QFETCH(QString, change);
    QFETCH(QString, refusal);
    BlockIndex index = makeIndex({ { "a.pak", "ABC" }, { "b.pak", "DE" }, { "c.pak", "F" } });
    QCOMPARE(refuse(index), QString());
    const QString kind = change.section(QLatin1Char(':'), 0, 0);
    const QString arg = change.section(QLatin1Char(':'), 1);
    if (kind == "path") {
        index.files[0].path = arg;
        std::sort(index.files.begin(), index.files.end(),
            [](const IndexFile &a, const IndexFile &b) { return a.path < b.path; });
        // Keep the places in file order.
        QVector<IndexRef> refs;
        for (IndexFile &f : index.files) {
            const quint32 first = quint32(refs.size());
            for (quint32 k = 0; k < f.refCount; ++k)
                refs.append(index.refs[int(f.firstRef + k)]);
            f.firstRef = first;
        }
        index.refs = refs;
    } else if (kind == "twice") {
        index.files[1].path = index.files[0].path;
    } else if (kind == "case") {
        index.files[0].path = "B.pak";
    } else if (kind == "nested") {
        index.files[1].path = "a.pak/inner";
    } else if (kind == "order") {
        std::swap(index.files[0].path, index.files[1].path);
    } else if (kind == "gap") {
        index.refs[1].offset += 1;
    } else if (kind == "overlap") {
        index.refs[1].offset -= 1;
    } else if (kind == "bigger") {
        index.files[0].size += 1;
    } else if (kind == "smaller") {
        index.files[0].size -= 1;
    } else if (kind == "block-empty") {
        index.blocks[0].size = 0;
    } else if (kind == "block-huge") {
        index.blocks[0].size = index.cut.maxSize + 1;
    } else if (kind == "packed-zero") {
        index.blocks[0].packedSize = 0;
    } else if (kind == "packed-huge") {
        index.blocks[0].packedSize = quint32(ZSTD_compressBound(index.blocks[0].size) + 1);
    } else if (kind == "bundle-number") {
        index.blocks[0].bundle = 7;
    } else if (kind == "bundle-end") {
        index.blocks[5].bundleOffset = index.bundles[0].size - 10;
    } else if (kind == "bundle-overlap") {
        index.blocks[1].bundleOffset = 500;
    } else if (kind == "block-twice") {
        index.blocks[1].digest = index.blocks[0].digest;
    } else if (kind == "bundle-twice") {
        index.bundles.append(index.bundles[0]);
    } else if (kind == "bundle-empty") {
        index.bundles[0].size = 0;
    } else if (kind == "bundle-huge") {
        index.bundles[0].size = BlockIndex::MaxBundleSize + 1;
    } else if (kind == "ref-block") {
        index.refs[0].block = 99;
    } else if (kind == "ref-stray") {
        index.refs.append(index.refs[0]);
    } else if (kind == "ref-first") {
        index.files[1].firstRef += 1;
    } else if (kind == "version") {
        index.version = arg;
    } else if (kind == "cut") {
        index.cut.avgSize = 5000;
    }
    const QString error = refuse(index);
    QVERIFY2(error.contains(refusal), qPrintable(error));
    QVERIFY(error.startsWith(QLatin1String("block index refused: ")));
    QString why;
    QVERIFY(!index.check(why));
}

// The outer layers: the zstd frame and the binary tables.
void tst_Blocks::hostileFrame_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("refusal");
    row("not a zstd frame", "garbage", "no zstd frame of known size");
    row("frame without its size", "unsized", "no zstd frame of known size");
    row("bytes after the frame", "trailing", "bytes after its frame");
    row("two frames", "two", "bytes after its frame");
    row("frame unpacking too large", "huge", "more than");
    row("index too large to fetch", "fetch", "more than");
    row("unknown magic", "magic", "no block index header");
    row("newer format", "format", "format 2");
    row("unknown digest", "digest", "unknown digest kind");
    row("tables longer than the bytes", "short", "its tables need");
    row("a byte after the tables", "long", "its tables need");
    row("more files than allowed", "count", "entries in one table");
    row("path beyond the strings", "path-range", "outside its strings");
    row("path that is not UTF-8", "utf8", "not UTF-8");
}

void tst_Blocks::hostileFrame()
{
    QFETCH(QString, kind);
    QFETCH(QString, refusal);
    const BlockIndex index = makeIndex({ { "a.pak", "AB" } });
    QByteArray raw = index.encodeRaw();
    QByteArray bytes;
    auto setU32 = [&raw](int at, quint32 v) { qToLittleEndian(v, raw.data() + at); };
    if (kind == "garbage") {
        bytes = "this is no index";
    } else if (kind == "unsized") {
        bytes = zstdFrame(raw, false);
    } else if (kind == "trailing") {
        bytes = index.encode() + "x";
    } else if (kind == "two") {
        bytes = index.encode() + index.encode();
    } else if (kind == "huge") {
        // A frame header alone: magic, one byte saying "8-byte size, single segment", the size.
        bytes = QByteArray("\x28\xb5\x2f\xfd\xe0", 5);
        char size[8];
        qToLittleEndian(quint64(BlockIndex::MaxRawBytes) + 1, size);
        bytes.append(size, 8);
    } else if (kind == "fetch") {
        bytes = QByteArray(int(BlockIndex::MaxIndexBytes) + 1, 'x');
    } else {
        if (kind == "magic")
            raw[0] = 'X';
        else if (kind == "format")
            setU32(8, 2);
        else if (kind == "digest")
            setU32(12, 2);
        else if (kind == "short")
            raw.chop(1);
        else if (kind == "long")
            raw.append('x');
        else if (kind == "count")
            setU32(40, BlockIndex::MaxCount + 1);
        else if (kind == "path-range")
            setU32(raw.size() - 2 * 12 - 40, 1000); // the file's path start
        else if (kind == "utf8")
            raw[56 + 7] = char(0xff); // inside "a.pak", after the version "1.0.0.1"
        bytes = zstdFrame(raw);
    }
    BlockIndex out;
    QString error;
    QVERIFY(!BlockIndex::parse(bytes, out, error));
    QVERIFY2(error.contains(refusal), qPrintable(error));
    QVERIFY(out.files.isEmpty() && out.blocks.isEmpty());
}

void tst_Blocks::cutShortIndex()
{
    // Every prefix of a sound index, packed or not, is refused without harm.
    const BlockIndex index = makeIndex({ { "a.pak", "ABCD" }, { "b/c.pak", "EA" } });
    const QByteArray raw = index.encodeRaw();
    const QByteArray packed = index.encode();
    BlockIndex out;
    QString error;
    for (int n = 0; n < raw.size(); ++n)
        QVERIFY2(!BlockIndex::parseRaw(raw.left(n), out, error), qPrintable(QString::number(n)));
    for (int n = 0; n < packed.size(); ++n)
        QVERIFY2(!BlockIndex::parse(packed.left(n), out, error), qPrintable(QString::number(n)));
    QVERIFY(BlockIndex::parse(packed, out, error));
}

void tst_Blocks::requestGrouping_data()
{
    QTest::addColumn<QString>("shape"); // mergeGap/maxRanges/maxBytes, "whole" for one request a bundle
    QTest::addColumn<QString>("blocks"); // block letters of makeIndex's "ABCDEFGHIJKL" (bundle 0: A-J, 1: K-L)
    QTest::addColumn<QString>("requests"); // per request: its ranges as first-last block letters
    row("neighbours share a range", "0/16/100000", "ABC", "A-C");
    row("a gap ends a range", "0/16/100000", "ABD", "A-B,D-D");
    row("a small gap is bridged", "1000/16/100000", "ABD", "A-D");
    row("bundles never share a request", "0/16/100000", "JK", "J-J|K-K");
    row("ranges per request bounded", "0/2/100000", "ACEG", "A-A,C-C|E-E,G-G");
    row("bytes per request bounded", "0/16/2500", "ABCDE", "A-B|C-D|E-E");
    row("order of the list does not matter", "0/16/100000", "CAB", "A-C");
    row("whole bundles", "whole", "ADJK", "A-J|K-K");
}

void tst_Blocks::requestGrouping()
{
    QFETCH(QString, shape);
    QFETCH(QString, blocks);
    QFETCH(QString, requests);
    const BlockIndex index = makeIndex({ { "a.pak", "ABCDEFGHIJKL" } });
    RequestShape s;
    if (shape == "whole") {
        s.wholeBundle = true;
    } else {
        s.mergeGap = shape.section('/', 0, 0).toLongLong();
        s.maxRanges = shape.section('/', 1, 1).toInt();
        s.maxBytes = shape.section('/', 2, 2).toLongLong();
    }
    QVector<quint32> numbers;
    for (const QChar c : blocks)
        numbers.append(quint32(c.unicode() - 'A'));
    QStringList got;
    for (const BundleRequest &r : GroupBundleRequests(index, numbers, s)) {
        QStringList ranges;
        for (const ByteRange &range : r.ranges) {
            auto letterAt = [&](qint64 offset) {
                for (int i = 0; i < index.blocks.size(); ++i)
                    if (index.blocks[i].bundle == r.bundle && index.blocks[i].bundleOffset == offset)
                        return QChar('A' + i);
                return QChar('?');
            };
            ranges << QString(letterAt(range.begin)) + "-" + letterAt(range.end - 1000);
        }
        got << ranges.join(',');
        // Every block lies whole in one of the request's ranges.
        for (quint32 b : r.blocks) {
            const IndexBlock &block = index.blocks[int(b)];
            QVERIFY(std::any_of(r.ranges.cbegin(), r.ranges.cend(), [&](const ByteRange &range) {
                return block.bundle == r.bundle && range.begin <= block.bundleOffset
                    && block.bundleOffset + block.packedSize <= range.end;
            }));
        }
    }
    QCOMPARE(got.join('|'), requests);
}

// Answers to a ranged request for a 1000-byte bundle whose byte i is 'a' + i % 26.
void tst_Blocks::rangeAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<qint64>("contentLength");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("runs"); // "offset+length ..." as handed on, or "refused: <why>"
    QByteArray bundle;
    for (int i = 0; i < 1000; ++i)
        bundle.append(char('a' + i % 26));
    auto part = [&](int first, int last, const QByteArray &boundary = "B") {
        return "\r\n--" + boundary + "\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes "
            + QByteArray::number(first) + "-" + QByteArray::number(last) + "/1000\r\n\r\n"
            + bundle.mid(first, last - first + 1);
    };
    const QByteArray multipart = "multipart/byteranges; boundary=B";
    const QByteArray end = "\r\n--B--\r\n";
    row("one range", 206, QByteArray(), QByteArray("bytes 100-199/1000"), qint64(100), bundle.mid(100, 100), "100+100");
    row("one range, size unknown", 206, QByteArray(), QByteArray("bytes 0-9/*"), qint64(-1), bundle.left(10), "0+10");
    row("range beyond the bundle", 206, QByteArray(), QByteArray("bytes 990-1009/1000"), qint64(20), QByteArray(),
        "refused: does not fit the bundle");
    row("another file's size", 206, QByteArray(), QByteArray("bytes 0-9/2000"), qint64(10), QByteArray(),
        "refused: does not fit the bundle");
    row("length disagrees with range", 206, QByteArray(), QByteArray("bytes 0-9/1000"), qint64(11), QByteArray(),
        "refused: length disagrees");
    row("more body than the range", 206, QByteArray(), QByteArray("bytes 0-9/1000"), qint64(-1), bundle.left(11),
        "refused: more than it announced");
    row("several parts", 206, multipart, QByteArray(), qint64(-1), part(0, 9) + part(500, 519) + end, "0+10 500+20");
    row("quoted boundary", 206, QByteArray("multipart/byteranges; boundary=\"B\""), QByteArray(), qint64(-1),
        part(7, 7) + end, "7+1");
    row("part beyond the bundle", 206, multipart, QByteArray(), qint64(-1),
        part(0, 9).replace("0-9/1000", "0-1200/1000"), "refused: a part's range does not fit");
    row("bytes between parts", 206, multipart, QByteArray(), qint64(-1), part(0, 9) + "junk" + part(20, 29) + end,
        "refused: bytes between its parts");
    row("overlong part header", 206, multipart, QByteArray(), qint64(-1), "--B\r\n" + QByteArray(5000, 'h'),
        "refused: overlong header");
    row("no boundary", 206, QByteArray("multipart/byteranges"), QByteArray(), qint64(-1), QByteArray(),
        "refused: without its boundary");
    row("whole file", 200, QByteArray(), QByteArray(), qint64(1000), bundle, "0+1000");
    row("whole file of another size", 200, QByteArray(), QByteArray(), qint64(1001), QByteArray(),
        "refused: sent 1001 bytes");
    row("not found", 404, QByteArray(), QByteArray(), qint64(9), QByteArray(), "refused: answered 404");
}

void tst_Blocks::rangeAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, contentRange);
    QFETCH(qint64, contentLength);
    QFETCH(QByteArray, body);
    QFETCH(QString, runs);
    // Fed whole and a byte at a time: the runs are the same, joined.
    for (int piece : { body.size() + 1, 1 }) {
        RangeReplyParser parser;
        QString error;
        QStringList got;
        QByteArray bytes;
        bool ok = parser.begin(status, contentType, contentRange, contentLength, 1000, 10000, error);
        qint64 runStart = -1, runEnd = -1;
        for (int at = 0; ok && at < body.size(); at += piece) {
            ok = parser.feed(
                body.constData() + at, qMin(piece, body.size() - at),
                [&](qint64 offset, const char *data, qint64 length) {
                    if (offset != runEnd) {
                        if (runStart >= 0)
                            got << QStringLiteral("%1+%2").arg(runStart).arg(runEnd - runStart);
                        runStart = offset;
                    }
                    runEnd = offset + length;
                    bytes.append(data, int(length));
                },
                error);
        }
        if (runStart >= 0)
            got << QStringLiteral("%1+%2").arg(runStart).arg(runEnd - runStart);
        if (runs.startsWith(QLatin1String("refused: "))) {
            QVERIFY(!ok);
            QVERIFY2(error.contains(runs.mid(9)), qPrintable(error));
            continue;
        }
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(got.join(' '), runs);
        QVERIFY(parser.complete());
        // Every byte handed on is the bundle's own at its offset.
        int at = 0;
        for (const QString &run : got) {
            const int offset = run.section('+', 0, 0).toInt();
            const int length = run.section('+', 1, 1).toInt();
            for (int i = 0; i < length; ++i)
                QCOMPARE(bytes[at + i], char('a' + (offset + i) % 26));
            at += length;
        }
    }
}

// Each row: what the folder's installed version holds, what the target
// holds (files as strings of block letters, "=" for a file the target takes
// unchanged), and what the plan must say.
void tst_Blocks::planner_data()
{
    QTest::addColumn<QString>("installed"); // "path:letters;..." or "" for nothing
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("options"); // "repair:path", "nocheck", ""
    QTest::addColumn<QString>("expected"); // per planned file "path:pieces[:staged]", pieces K keep, C copy, F fetch;
                                           // "|" then fetched blocks, obsolete
    row("fresh install, a block shared", "", "a:ABA;b:CA", "", "a:FFF b:FF|fetch ABC");
    row("unchanged file left alone", "a:AB;b:CD", "a:AB;b:CE", "", "b:KF|fetch E");
    row("checks off: only what is written", "a:AB;b:CD", "a:AB;b:CE", "nocheck", "b:F|fetch E");
    row("moved within a file: staged", "a:ABCD", "a:BADC", "", "a:CCCC:staged|fetch ");
    row("moved between files, source unchanged", "a:AB;b:CD", "a:AB;b:CDB", "", "b:KKC|fetch ");
    row("source rewritten where it is read: staged", "a:AB;b:CD", "a:XB;b:CDA", "", "a:FC:staged b:KKC|fetch X");
    row("source rewritten elsewhere: in place", "a:AB;b:CD", "a:AX;b:CDA", "", "a:KF b:KKC|fetch X");
    row("file gone, its blocks reused", "a:AB;old:CD", "a:AB;new:DC", "", "new:CC|fetch |obsolete old");
    row("shrunk file read past its new end: staged", "a:ABC", "a:A;b:C", "", "a:C:staged b:C|fetch ");
    row("letter case of a file changed", "Intro.txt:A", "intro.txt:A", "", "intro.txt:C|fetch |twins Intro.txt");
    row("file where a folder must go", "d:AB", "d/x:AB", "", "d/x:FF|fetch AB|inway d");
    row("repair: kept blocks checked", "", "a:ABC;b:DE", "repair:a", "a:KKK|fetch ");
}

void tst_Blocks::planner()
{
    QFETCH(QString, installed);
    QFETCH(QString, target);
    QFETCH(QString, options);
    QFETCH(QString, expected);
    auto parseFiles = [](const QString &text) {
        QVector<QPair<QString, QString>> files;
        for (const QString &f : text.split(';', Qt::SkipEmptyParts))
            files.append(qMakePair(f.section(':', 0, 0), f.section(':', 1)));
        return files;
    };
    const BlockIndex t = makeIndex(parseFiles(target), "1.0.0.2");
    const BlockIndex old = makeIndex(parseFiles(installed));
    LocalFolderState local;
    for (const IndexFile &f : old.files)
        local.sizes.insert(f.path, f.size);
#ifdef Q_OS_WIN
    // There both spellings name the one file the folder holds.
    if (QTest::currentDataTag() == QLatin1String("letter case of a file changed")) {
        local.sizes.insert("intro.txt", 4096);
        expected = "|fetch |twins Intro.txt";
    }
#endif
    PlanOptions o;
    o.checkInPlace = options != "nocheck";
    if (options.startsWith("repair:")) {
        o.repairFiles << options.mid(7);
        for (const IndexFile &f : t.files)
            local.sizes.insert(f.path, f.size);
    }
    const BlockPlan plan = PlanBlocks(t, installed.isEmpty() ? nullptr : &old, local, o);
    QStringList files;
    for (const PlanFile &pf : plan.files) {
        QString pieces;
        for (const PlanPiece &p : pf.pieces)
            pieces += p.source == PieceSource::Keep ? 'K' : p.source == PieceSource::Copy ? 'C' : 'F';
        files << t.files[int(pf.file)].path + ":" + pieces + (pf.staged ? ":staged" : "");
    }
    QString fetched;
    for (quint32 b : plan.fetchBlocks)
        for (QChar c = 'A'; c <= 'Z'; c = QChar(c.unicode() + 1)) {
            const QByteArray bytes = content(c);
            if (t.blocks[int(b)].digest == BlockDigest::of(bytes.constData(), std::size_t(bytes.size())))
                fetched += c;
        }
    std::sort(fetched.begin(), fetched.end());
    QString got = files.join(' ') + "|fetch " + fetched;
    if (!plan.obsolete.isEmpty())
        got += "|obsolete " + plan.obsolete.join(',');
    if (!plan.caseTwins.isEmpty())
        got += "|twins " + plan.caseTwins.join(',');
    if (!plan.inTheWay.isEmpty())
        got += "|inway " + plan.inTheWay.join(',');
    QCOMPARE(got, expected);
    // Copies read only from files the plan knows, never from where it writes in place.
    for (const PlanFile &pf : plan.files)
        for (const PlanPiece &p : pf.pieces)
            if (p.source == PieceSource::Copy)
                QVERIFY(p.sourceFile < quint32(plan.sources.size()));
    QCOMPARE(plan.cost.fetchBlocks, qint64(plan.fetchBlocks.size()));
    QVERIFY(plan.cost.fetchBytes >= qint64(plan.fetchBlocks.size()) * 1000);
}

void tst_Blocks::journal()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal");
    const QByteArray run = QByteArray(32, 'r');
    BlockJournal::State state;
    bool resumed = true;
    QString error;
    {
        BlockJournal j;
        QVERIFY2(j.open(path, run, state, resumed, error), qPrintable(error));
        QVERIFY(!resumed);
        j.append(BlockJournal::PieceDone, 4);
        j.append(BlockJournal::PieceDone, 9);
        j.append(BlockJournal::Checkpoint, 2);
        j.append(BlockJournal::PieceDone, 1);
        QCOMPARE(j.pieceRecords(), quint32(3));
        QVERIFY(j.flush(error));
    }
    // A torn record after the last good one, as a crash in mid-write leaves.
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    f.write("torn");
    f.close();
    {
        BlockJournal j;
        QVERIFY(j.open(path, run, state, resumed, error));
        QVERIFY(resumed);
        QCOMPARE(state.done, (QVector<quint32>{ 4, 9 }));
        QCOMPARE(state.unsure, (QVector<quint32>{ 1 })); // after the checkpoint: checked again
        QVERIFY(!state.commitBegun);
        j.append(BlockJournal::CommitBegun);
        QVERIFY(j.flush(error));
    }
    // Rewritten on opening: what was unsure is gone from it, the commit stays.
    {
        BlockJournal j;
        QVERIFY(j.open(path, run, state, resumed, error));
        QCOMPARE(state.done, (QVector<quint32>{ 4, 9 }));
        QVERIFY(state.unsure.isEmpty());
        QVERIFY(state.commitBegun);
    }
    QVERIFY(BlockJournal::belongsTo(path, run));
    QVERIFY(!BlockJournal::belongsTo(path, QByteArray(32, 'x')));
    // Another run's journal starts empty.
    BlockJournal other;
    QVERIFY(other.open(path, QByteArray(32, 'x'), state, resumed, error));
    QVERIFY(!resumed);
    QVERIFY(state.done.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Blocks)
#include "tst_blocks.moc"
