#include "manifest/FileManifest.h"
#include "manifest/GuideManifest.h"
#include "manifest/PatchManifest.h"
#include "manifest/RepairManifest.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

using namespace Morvaniel;

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void fileManifest_data();
    void fileManifest();
    void fileManifestPathOrder();
    void guideManifest_data();
    void guideManifest();
    void patchManifest_data();
    void patchManifest();
    void patchSectionOrderDoesNotMatter();
    void repairManifest_data();
    void repairManifest();
    void randomInputNeverBreaksParsers();
};

// "path=md5=size" per entry, joined by ";" in key order, so a whole map compares as one string.
static QString describe(const FileManifest &m)
{
    QStringList parts;
    for (auto it = m.cbegin(); it != m.cend(); ++it) {
        if (it.key() != it->path)
            return QStringLiteral("key %1 holds path %2").arg(it.key(), it->path);
        parts << QStringLiteral("%1=%2=%3").arg(it->path, it->md5).arg(it->size);
    }
    return parts.join(QLatin1Char(';'));
}

void tst_Manifest::fileManifest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("later line wins") << "a|m1|1\nb|m2|2\na|m3|3\n"
                                     << "a=m3=3;b=m2=2";
    QTest::newRow("crlf and blank lines") << "a|m|5\r\n   \r\n\t\nb|n|6\r\n"
                                          << "a=m=5;b=n=6";
    QTest::newRow("inner blanks collapse") << "Game  Data/x\t.pak|m|1"
                                           << "Game Data/x .pak=m=1";
    QTest::newRow("bad size is zero") << "a|m|12x\nb|m|-3\nc|m|99999999999999999999\nd|m|"
                                      << "a=m=0;b=m=0;c=m=0;d=m=0";
    QTest::newRow("largest size") << "a|m|18446744073709551615"
                                  << "a=m=18446744073709551615";
    QTest::newRow("no separator") << "just a path"
                                  << "just a path==0";
    QTest::newRow("extra fields ignored") << "a|m|7|junk|more"
                                          << "a=m=7";
    QTest::newRow("case makes two entries") << "A|m|1\na|n|2"
                                            << "A=m=1;a=n=2";
}

void tst_Manifest::fileManifest()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseFileManifest(text)), expected);
}

void tst_Manifest::fileManifestPathOrder()
{
    const FileManifest m = parseFileManifest(QStringLiteral("c|1|1\na|2|2\nb|3|3\nZ|4|4"));
    QCOMPARE(fileManifestPaths(m), QStringList({ "Z", "a", "b", "c" }));
}

// "from>to[path:md5:size,...]=total" per edge, edges joined by ";", patch edges marked "*".
static QString describe(const GuideManifest &g)
{
    QStringList edges;
    for (const GuideEdge &e : g.edges) {
        QStringList files;
        for (const GuidePackage &p : e.files)
            files << QStringLiteral("%1:%2:%3").arg(p.path, p.md5).arg(p.size);
        edges << QStringLiteral("%1>%2%3[%4]=%5")
                     .arg(e.fromVersion, e.toVersion, e.isPatch ? "*" : "", files.join(','))
                     .arg(e.totalSize);
    }
    return g.lastVersion + QLatin1Char('|') + edges.join(QLatin1Char(';'));
}

void tst_Manifest::guideManifest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << "|";
    QTest::newRow("example") << "--download_version--\n"
                                "1.0.0.1->1.0.0.1|1.0.0.1/a.7z|ma|500\n"
                                "1.0.0.1->1.0.0.2|1.0.0.2/b.7z|mb|200\n"
                                "--last_version--\n"
                                "1.0.0.2\n"
                             << "1.0.0.2|1.0.0.1>1.0.0.1[1.0.0.1/a.7z:ma:500]=500;"
                                "1.0.0.1>1.0.0.2*[1.0.0.2/b.7z:mb:200]=200";
    QTest::newRow("crlf") << "--download_version--\r\n1->2|p|m|1\r\n  \r\n--last_version--\r\n2\r\n"
                          << "2|1>2*[p:m:1]=1";
    QTest::newRow("before any marker") << "1->1|p|m|3"
                                       << "|1>1[p:m:3]=3";
    QTest::newRow("pair lines not adjacent") << "A->B|p1|m|10\nA->A|f|m|1\nA->B|p2|m|20"
                                             << "|A>B*[p1:m:10,p2:m:20]=30;A>A[f:m:1]=1";
    QTest::newRow("last version line wins") << "--last_version--\n1.0.0.1\n1.0.0.2"
                                            << "1.0.0.2|";
    QTest::newRow("markers repeat") << "--last_version--\n1\n--download_version--\n1->1|p|m|1\n--last_version--\n2"
                                    << "2|1>1[p:m:1]=1";
    QTest::newRow("bad size adds zero") << "A->B|p1|m|x\nA->B|p2|m|4"
                                        << "|A>B*[p1:m:0,p2:m:4]=4";
    QTest::newRow("marker case matters") << "--last_version--\n--DOWNLOAD_VERSION--"
                                         << "--DOWNLOAD_VERSION--|";
    QTest::newRow("version text as written") << "1.0.0.1->1.0.0.2|p|m|1\n1.0.0.01->1.0.0.2|q|m|2"
                                             << "|1.0.0.1>1.0.0.2*[p:m:1]=1;1.0.0.01>1.0.0.2*[q:m:2]=2";
    QTest::newRow("no arrow") << "1.0.0.1|p|m|1"
                              << "|1.0.0.1>*[p:m:1]=1";
    QTest::newRow("second arrow cuts") << "A->B->C|p|m|1"
                                       << "|A>B*[p:m:1]=1";
    QTest::newRow("missing fields") << "A->B"
                                    << "|A>B*[::0]=0";
    QTest::newRow("total does not wrap") << "A->B|p|m|18446744073709551615\nA->B|q|m|5"
                                         << "|A>B*[p:m:18446744073709551615,q:m:5]=18446744073709551615";
}

void tst_Manifest::guideManifest()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseGuideManifest(text)), expected);
}

void tst_Manifest::patchManifest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("newFiles");
    QTest::addColumn<QString>("delFiles");
    QTest::addColumn<QString>("patchFiles");

    QTest::newRow("empty") << QString() << QString() << QString() << QString();
    QTest::newRow("no markers") << "a|m|1\nb|m|2" << QString() << QString() << QString();
    QTest::newRow("new cancels delete, any case") << "--del_file--\nData/a.pak|m|1\nkeep|m|2\n"
                                                     "--new_file--\ndata/A.pak|n|3"
                                                  << "data/A.pak=n=3"
                                                  << "keep=m=2" << QString();
    // Every spelling goes: on a case-blind disk each one would delete the new copy.
    QTest::newRow("every spelling of a new file is kept") << "--del_file--\nX/a.pak|m|1\nx/A.pak|m|2\n"
                                                             "--new_file--\nx/a.pak|n|3"
                                                          << "x/a.pak=n=3" << QString() << QString();
    QTest::newRow("exact path after another spelling") << "--del_file--\nx/a.pak|m|1\nX/A.PAK|m|2\n"
                                                          "--new_file--\nx/a.pak|n|3"
                                                       << "x/a.pak=n=3" << QString() << QString();
    QTest::newRow("cancelling ignores order of sections") << "--new_file--\nA|n|1\n--del_file--\na|m|2"
                                                          << "A=n=1" << QString() << QString();
    QTest::newRow("patch listed twice") << "--patch_file--\np.patch|m1|1\np.patch|m2|2" << QString() << QString()
                                        << "p.patch=m2=2";
    QTest::newRow("lines before a marker ignored")
        << "x|m|1\n--patch_file--\np|m|1" << QString() << QString() << "p=m=1";
    QTest::newRow("patch and new may share a path") << "--patch_file--\nf|m|1\n--new_file--\nf|n|2"
                                                    << "f=n=2" << QString() << "f=m=1";
    QTest::newRow("marker case matters") << "--del_file--\n--NEW_FILE--|m|1" << QString() << "--NEW_FILE--=m=1"
                                         << QString();
}

void tst_Manifest::patchManifest()
{
    QFETCH(QString, text);
    const PatchManifest m = parsePatchManifest(text);
    QTEST(describe(m.newFiles), "newFiles");
    QTEST(describe(m.delFiles), "delFiles");
    QTEST(describe(m.patchFiles), "patchFiles");
}

void tst_Manifest::patchSectionOrderDoesNotMatter()
{
    const QString del = QStringLiteral("--del_file--\nold/a|m|1\nB|m|2\n");
    const QString add = QStringLiteral("--new_file--\nb|n|3\nc|n|4\n");
    const QString patch = QStringLiteral("--patch_file--\nd.patch|p|5\n");
    const PatchManifest forward = parsePatchManifest(del + add + patch);
    const PatchManifest backward = parsePatchManifest(patch + add + del);
    QCOMPARE(describe(backward.newFiles), describe(forward.newFiles));
    QCOMPARE(describe(backward.delFiles), describe(forward.delFiles));
    QCOMPARE(describe(backward.patchFiles), describe(forward.patchFiles));
    QCOMPARE(describe(forward.delFiles), QStringLiteral("old/a=m=1"));
}

void tst_Manifest::repairManifest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one group") << "a:x|y"
                               << "x>a;y>a";
    QTest::newRow("later group wins") << "a:x\nb:x"
                                      << "x>b";
    QTest::newRow("blank inside name") << "g/a.7z:Data/my   file.pak\r\n"
                                       << "Data/my file.pak>g/a.7z";
    QTest::newRow("second colon cuts") << "a:x:y"
                                       << "x>a";
    QTest::newRow("trailing bar gives empty key") << "a:x|"
                                                  << ">a;x>a";
    QTest::newRow("no colon") << "lonely"
                              << ">lonely";
}

void tst_Manifest::repairManifest()
{
    QFETCH(QString, text);
    const RepairManifest m = parseRepairManifest(text);
    QStringList parts;
    for (auto it = m.cbegin(); it != m.cend(); ++it)
        parts << it.key() + QLatin1Char('>') + it.value();
    QTEST(parts.join(QLatin1Char(';')), "expected");
}

namespace {

// Fragments that steer random text into the parsers' interesting paths.
const char *const Fragments[] = { "--download_version--", "--last_version--", "--del_file--", "--new_file--",
    "--patch_file--", "->", "|", ":", "\n", "\r\n", " ", "\t", "1.0.0.1", "1.0.0.2", "18446744073709551615",
    "99999999999999999999", "-1", "a/b.7z", "A/B.7Z", "\xc3\x84", "..", "" };

QString randomText(QRandomGenerator &rng)
{
    QString text;
    const int pieces = rng.bounded(40);
    for (int i = 0; i < pieces; ++i) {
        switch (rng.bounded(3)) {
        case 0:
            text += QString::fromUtf8(Fragments[rng.bounded(int(sizeof Fragments / sizeof *Fragments))]);
            break;
        case 1:
            text += QChar(static_cast<ushort>(rng.bounded(0x10000)));
            break;
        default:
            text += QChar(static_cast<ushort>(rng.bounded(32, 127)));
            break;
        }
    }
    return text;
}

// Deletes, duplicates or overwrites a few characters of a well-formed manifest.
QString mutate(QString text, QRandomGenerator &rng)
{
    const int edits = 1 + rng.bounded(4);
    for (int i = 0; i < edits && !text.isEmpty(); ++i) {
        const int at = rng.bounded(text.size());
        switch (rng.bounded(3)) {
        case 0:
            text.remove(at, 1 + rng.bounded(3));
            break;
        case 1:
            text.insert(at, text.mid(rng.bounded(text.size()), rng.bounded(20)));
            break;
        default:
            text[at] = QChar(static_cast<ushort>(rng.bounded(0x10000)));
            break;
        }
    }
    return text;
}

} // namespace

void tst_Manifest::randomInputNeverBreaksParsers()
{
    const QString seeds[] = {
        QStringLiteral("--download_version--\n1.0.0.1->1.0.0.1|1.0.0.1/a.7z|ma|500\n"
                       "1.0.0.1->1.0.0.2|1.0.0.2/b.7z|mb|200\n--last_version--\n1.0.0.2\n"),
        QStringLiteral("--del_file--\nData/a.pak|m|1\n--new_file--\ndata/A.pak|n|3\n--patch_file--\nx.patch|p|9\n"),
        QStringLiteral("g/a.7z:x|y|z\ng/b.7z:w\n"),
        QStringLiteral("a|m|5\r\nb|n|6\r\n"),
    };
    QRandomGenerator rng(20261206);
    const int rounds = 300000;
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    for (; done < rounds && clock.elapsed() < 120000; ++done) {
        const QString text = done % 2 ? randomText(rng) : mutate(seeds[rng.bounded(4)], rng);
        // Beyond not crashing, each result must keep the invariants the planners rely on.
        for (const GuideEdge &e : parseGuideManifest(text).edges) {
            quint64 sum = 0;
            for (const GuidePackage &p : e.files)
                sum = sum > ~quint64(0) - p.size ? ~quint64(0) : sum + p.size;
            QCOMPARE(e.totalSize, sum);
            QCOMPARE(e.isPatch, e.fromVersion != e.toVersion);
            QVERIFY(!e.files.isEmpty());
        }
        const FileManifest files = parseFileManifest(text);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QCOMPARE(it.key(), it->path);
        const PatchManifest patch = parsePatchManifest(text);
        for (const FileManifestEntry &d : patch.delFiles) {
            for (const FileManifestEntry &n : patch.newFiles)
                QVERIFY(d.path.toLower() != n.path.toLower());
        }
        parseRepairManifest(text);
    }
    qInfo("parsed %d random and mutated manifests in %lld ms", done, static_cast<long long>(clock.elapsed()));
    QVERIFY2(done >= 10000, "too few inputs parsed in the time allowed");
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_manifest.moc"
