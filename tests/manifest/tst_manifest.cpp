#include "manifest/FileManifest.h"
#include "manifest/GuideManifest.h"
#include "manifest/ManifestPathCheck.h"
#include "manifest/PatchManifest.h"
#include "manifest/RepairManifest.h"

#include <QtTest>

#include "../support/DataRows.h"

using namespace Morvaniel;
using TestSupport::textRow;

class tst_Manifest : public QObject
{
    Q_OBJECT

private slots:
    void fileManifest_data();
    void fileManifest();
    void guideManifest_data();
    void guideManifest();
    void patchManifest_data();
    void patchManifest();
    void repairManifest_data();
    void repairManifest();
    void manifestPathCheck_data();
    void manifestPathCheck();
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
    textRow("empty", "", "");
    textRow("later line wins", "a|m1|1\nb|m2|2\na|m3|3\n", "a=m3=3;b=m2=2");
    textRow("crlf and blank lines", "a|m|5\r\n   \r\n\t\nb|n|6\r\n", "a=m=5;b=n=6");
    textRow("inner blanks collapse", "Game  Data/x\t.pak|m|1", "Game Data/x .pak=m=1");
    textRow("bad size is zero", "a|m|12x\nb|m|-3\nc|m|99999999999999999999\nd|m|", "a=m=0;b=m=0;c=m=0;d=m=0");
    textRow("largest size", "a|m|18446744073709551615", "a=m=18446744073709551615");
    textRow("no separator", "just a path", "just a path==0");
    textRow("extra fields ignored", "a|m|7|junk|more", "a=m=7");
    textRow("case makes two entries", "A|m|1\na|n|2", "A=m=1;a=n=2");
}

void tst_Manifest::fileManifest()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseFileManifest(text)), expected);
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
    textRow("empty", "", "|");
    textRow("example",
        "--download_version--\n1.0.0.1->1.0.0.1|1.0.0.1/a.7z|ma|500\n1.0.0.1->1.0.0.2|1.0.0.2/b.7z|mb|200\n"
        "--last_version--\n1.0.0.2\n",
        "1.0.0.2|1.0.0.1>1.0.0.1[1.0.0.1/a.7z:ma:500]=500;1.0.0.1>1.0.0.2*[1.0.0.2/b.7z:mb:200]=200");
    textRow("crlf", "--download_version--\r\n1->2|p|m|1\r\n  \r\n--last_version--\r\n2\r\n", "2|1>2*[p:m:1]=1");
    textRow("before any marker", "1->1|p|m|3", "|1>1[p:m:3]=3");
    textRow(
        "pair lines not adjacent", "A->B|p1|m|10\nA->A|f|m|1\nA->B|p2|m|20", "|A>B*[p1:m:10,p2:m:20]=30;A>A[f:m:1]=1");
    textRow("last version line wins", "--last_version--\n1.0.0.1\n1.0.0.2", "1.0.0.2|");
    textRow("markers repeat", "--last_version--\n1\n--download_version--\n1->1|p|m|1\n--last_version--\n2",
        "2|1>1[p:m:1]=1");
    textRow("bad size adds zero", "A->B|p1|m|x\nA->B|p2|m|4", "|A>B*[p1:m:0,p2:m:4]=4");
    textRow("marker case matters", "--last_version--\n--DOWNLOAD_VERSION--", "--DOWNLOAD_VERSION--|");
    textRow("version text as written", "1.0.0.1->1.0.0.2|p|m|1\n1.0.0.01->1.0.0.2|q|m|2",
        "|1.0.0.1>1.0.0.2*[p:m:1]=1;1.0.0.01>1.0.0.2*[q:m:2]=2");
    textRow("no arrow", "1.0.0.1|p|m|1", "|1.0.0.1>*[p:m:1]=1");
    textRow("second arrow cuts", "A->B->C|p|m|1", "|A>B*[p:m:1]=1");
    textRow("missing fields", "A->B", "|A>B*[::0]=0");
    textRow("total does not wrap", "A->B|p|m|18446744073709551615\nA->B|q|m|5",
        "|A>B*[p:m:18446744073709551615,q:m:5]=18446744073709551615");
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
    textRow("empty", "", "", "", "");
    textRow("no markers", "a|m|1\nb|m|2", "", "", "");
    textRow("new cancels delete, any case", "--del_file--\nData/a.pak|m|1\nkeep|m|2\n--new_file--\ndata/A.pak|n|3",
        "data/A.pak=n=3", "keep=m=2", "");
    // Every spelling goes: on a case-blind disk each one would delete the new copy.
    textRow("every spelling of a new file is kept", "--del_file--\nX/a.pak|m|1\nx/A.pak|m|2\n--new_file--\nx/a.pak|n|3",
        "x/a.pak=n=3", "", "");
    textRow("exact path after another spelling", "--del_file--\nx/a.pak|m|1\nX/A.PAK|m|2\n--new_file--\nx/a.pak|n|3",
        "x/a.pak=n=3", "", "");
    textRow("cancelling ignores order of sections", "--new_file--\nA|n|1\n--del_file--\na|m|2", "A=n=1", "", "");
    textRow("patch listed twice", "--patch_file--\np.patch|m1|1\np.patch|m2|2", "", "", "p.patch=m2=2");
    textRow("lines before a marker ignored", "x|m|1\n--patch_file--\np|m|1", "", "", "p=m=1");
    textRow("patch and new may share a path", "--patch_file--\nf|m|1\n--new_file--\nf|n|2", "f=n=2", "", "f=m=1");
    textRow("marker case matters", "--del_file--\n--NEW_FILE--|m|1", "", "--NEW_FILE--=m=1", "");
}

void tst_Manifest::patchManifest()
{
    QFETCH(QString, text);
    const PatchManifest m = parsePatchManifest(text);
    QTEST(describe(m.newFiles), "newFiles");
    QTEST(describe(m.delFiles), "delFiles");
    QTEST(describe(m.patchFiles), "patchFiles");
}

void tst_Manifest::repairManifest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    textRow("empty", "", "");
    textRow("one group", "a:x|y", "x>a;y>a");
    textRow("later group wins", "a:x\nb:x", "x>b");
    textRow("blank inside name", "g/a.7z:Data/my   file.pak\r\n", "Data/my file.pak>g/a.7z");
    textRow("second colon cuts", "a:x:y", "x>a");
    textRow("trailing bar gives empty key", "a:x|", ">a;x>a");
    textRow("no colon", "lonely", ">lonely");
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

void tst_Manifest::manifestPathCheck_data()
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

void tst_Manifest::manifestPathCheck()
{
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(IsSafeManifestPath(path), safe);
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_manifest.moc"
