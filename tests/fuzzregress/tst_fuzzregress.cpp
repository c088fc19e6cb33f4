#include "FuzzEntries.h"

#ifdef MORVANIEL_HAVE_HPATCH
#include "PatchHeaderCheck.h"
#endif

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

namespace {

using Entry = QString (*)(const QByteArray &);

struct Target
{
    const char *name; // the folder below fuzz/corpus and fuzz/regressions
    Entry entry;
};

#ifdef MORVANIEL_HAVE_HPATCH
QString patchHeader(const QByteArray &input)
{
    return QString::fromStdString(
        checkPatchHeader(reinterpret_cast<const uint8_t *>(input.constData()), static_cast<size_t>(input.size())));
}
#endif

const Target Targets[] = {
    { "file_manifest", FuzzEntries::fileManifest },
    { "guide_manifest", FuzzEntries::guideManifest },
    { "patch_manifest", FuzzEntries::patchManifest },
    { "repair_manifest", FuzzEntries::repairManifest },
    { "remote_info", FuzzEntries::remoteInfo },
    { "guide_solver", FuzzEntries::guideSolver },
    { "block_index", FuzzEntries::blockIndex },
    { "range_answer", FuzzEntries::rangeAnswer },
#ifdef MORVANIEL_HAVE_HPATCH
    { "patch_header", patchHeader },
#endif
};

} // namespace

Q_DECLARE_METATYPE(Entry)

class tst_FuzzRegress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();
    void mutatedSeeds_data();
    void mutatedSeeds();
    void seedsArePresent();
};

void tst_FuzzRegress::initTestCase()
{
    FuzzEntries::setUp();
}

void tst_FuzzRegress::replay_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QString>("file");
    const QDir root(QStringLiteral(MORVANIEL_FUZZ_DIR));
    for (const Target &t : Targets) {
        for (const char *kind : { "corpus", "regressions" }) {
            QDirIterator it(
                root.filePath(QStringLiteral("%1/%2").arg(QLatin1String(kind), QLatin1String(t.name))), QDir::Files);
            QStringList files;
            while (it.hasNext())
                files << it.next();
            files.sort();
            for (const QString &file : qAsConst(files)) {
                const QString row = QStringLiteral("%1/%2/%3")
                                        .arg(QLatin1String(kind), QLatin1String(t.name), QFileInfo(file).fileName());
                QTest::newRow(qPrintable(row)) << t.entry << file;
            }
        }
    }
}

void tst_FuzzRegress::replay()
{
    QFETCH(Entry, entry);
    QFETCH(QString, file);
    QFile f(file);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(file));
    const QString error = entry(f.readAll());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(QFileInfo::exists(FuzzEntries::scratchRoot() + QStringLiteral("/sentinel")));
}

void tst_FuzzRegress::mutatedSeeds_data()
{
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QString>("corpus");
    for (const Target &t : Targets)
        QTest::newRow(t.name) << t.entry << QStringLiteral(MORVANIEL_FUZZ_DIR "/corpus/") + QLatin1String(t.name);
}

// A small share of the fuzzers' work in every run: seeds with bytes deleted,
// overwritten or spliced in from another seed, each checked by the entry.
void tst_FuzzRegress::mutatedSeeds()
{
    QFETCH(Entry, entry);
    QFETCH(QString, corpus);
    QVector<QByteArray> seeds;
    for (const QFileInfo &file : QDir(corpus).entryInfoList(QDir::Files, QDir::Name)) {
        QFile f(file.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        seeds << f.readAll();
    }
    QVERIFY(!seeds.isEmpty());
    QRandomGenerator rng(20261206);
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    // Bounded by time too: the guide solver saves its stage to disk for most inputs.
    for (; done < 4000 && clock.elapsed() < 10000; ++done) {
        QByteArray input = seeds.at(rng.bounded(seeds.size()));
        for (int edits = 1 + rng.bounded(4); edits > 0 && !input.isEmpty(); --edits) {
            const int at = rng.bounded(input.size());
            const QByteArray &other = seeds.at(rng.bounded(seeds.size()));
            switch (rng.bounded(3)) {
            case 0:
                input.remove(at, 1 + rng.bounded(3));
                break;
            case 1:
                input.insert(at, other.mid(rng.bounded(other.size() + 1), rng.bounded(20)));
                break;
            default:
                input[at] = char(rng.bounded(256));
                break;
            }
        }
        const QString error = entry(input);
        QVERIFY2(error.isEmpty(),
            qPrintable(error + QStringLiteral("\ninput (percent-encoded): ")
                + QString::fromLatin1(input.toPercentEncoding())));
    }
    QVERIFY2(done >= 100, "too few inputs in the time allowed");
}

// An empty folder would let the replay pass without replaying anything.
void tst_FuzzRegress::seedsArePresent()
{
    const QDir root(QStringLiteral(MORVANIEL_FUZZ_DIR));
    for (const Target &t : Targets) {
        const QDir corpus(root.filePath(QStringLiteral("corpus/%1").arg(QLatin1String(t.name))));
        QVERIFY2(!corpus.entryList(QDir::Files).isEmpty(), t.name);
    }
}

QTEST_GUILESS_MAIN(tst_FuzzRegress)
#include "tst_fuzzregress.moc"
