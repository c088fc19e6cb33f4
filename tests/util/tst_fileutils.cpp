#include "util/FolderGuard.h"
#include "util/Md5.h"
#include "util/QFileUtils.h"

#include "../support/DataRows.h"
#include "../support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <zlib.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace QFileUtils;
using TestSupport::randomBytes;
using TestSupport::textRow;
using TestSupport::writeFile;

namespace {

#ifdef Q_OS_WIN
// The 8.3 name of an existing path, as the system hands it out.
QString shortName(const QString &nativePath)
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetShortPathNameW(reinterpret_cast<const wchar_t *>(nativePath.utf16()), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? QString::fromWCharArray(buffer, int(n)) : nativePath;
}
#endif

QStringList relativeTree(const QString &root)
{
    QStringList files;
    getFileListUnderDir(root, files);
    for (QString &f : files)
        f = AbsoluteToRelativePath(root, f);
    return files;
}

} // namespace

class tst_FileUtils : public QObject
{
    Q_OBJECT

private slots:
    void combinePath_data();
    void combinePath();
    void parentPath_data();
    void parentPath();
    void relativePath_data();
    void relativePath();
    void ignoreFile_data();
    void ignoreFile();
    void queries();
    void md5();
    void md5OfShrinkingFile();
    void md5Blocks_data();
    void md5Blocks();
    void crc32();
    void readWrite();
    void createFolder();
    void copyAndMoveOne();
    void copyOrMoveOntoItselfKeepsTheFile_data();
    void copyOrMoveOntoItselfKeepsTheFile();
    void copyOrMoveOntoALinkReplacesTheLink_data();
    void copyOrMoveOntoALinkReplacesTheLink();
    void writeBytesReportsAFullDisk();
    void protectedFolders_data();
    void protectedFolders();
    void deleteFileOrFolder();
    void deleteKeepsNamedEntry();
    void deleteDoesNotFollowLinks();
    void copyAndMoveTrees();

private:
    QTemporaryDir m_links; // links made for data rows
};

void tst_FileUtils::combinePath_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("expected");
    textRow("native separators", "C:\\a", "b", "C:/a/b");
    textRow("slash on both sides", "a/", "/b", "a/b");
    textRow("empty first", "", "b", "/b");
    textRow("double slash kept", "a//", "/b", "a//b");
    textRow("url", "http://h:1/x", "v/p.7z", "http://h:1/x/v/p.7z");
}

void tst_FileUtils::combinePath()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, expected);
    QCOMPARE(CombinePath(a, b), expected);
}

void tst_FileUtils::parentPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    textRow("file", "a/b/c.txt", "a/b/");
    textRow("trailing slash", "a/b/", "a/");
    textRow("backslashes", "a\\b\\", "a\\");
    textRow("no separator", "c.txt", "c.txt");
    textRow("mixed, rightmost wins", "a\\b/c\\d", "a\\b/c\\");
}

void tst_FileUtils::parentPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(GetParentPath(path), expected);
}

void tst_FileUtils::relativePath_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    textRow("windows path", "D:/game", "D:\\game\\a\\b.pak", "a/b.pak");
    textRow("base missing", "X:/other", "D:\\game\\a", "D:/game/a");
    textRow("equal", "/g", "/g", "");
    textRow("last occurrence", "/g", "/g/x/g/y", "y");
    textRow("case-sensitive", "/G", "/g/a", "/g/a");
}

void tst_FileUtils::relativePath()
{
    QFETCH(QString, base);
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(AbsoluteToRelativePath(base, path), expected);
}

void tst_FileUtils::ignoreFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QVector<QString>>("suffixes");
    QTest::addColumn<bool>("expected");
    QTest::newRow("empty list") << "x.pak" << QVector<QString>{} << false;
    QTest::newRow("match") << "dir/x.pak" << QVector<QString>{ "txt", "pak" } << true;
    QTest::newRow("case-sensitive") << "x.PAK" << QVector<QString>{ "pak" } << false;
    QTest::newRow("last dot") << "x.pak.bak" << QVector<QString>{ "pak" } << false;
    QTest::newRow("no dot, empty suffix") << "README" << QVector<QString>{ "" } << true;
    QTest::newRow("no dot") << "README" << QVector<QString>{ "pak" } << false;
}

void tst_FileUtils::ignoreFile()
{
    QFETCH(QString, path);
    QFETCH(QVector<QString>, suffixes);
    QFETCH(bool, expected);
    QCOMPARE(IsIgnoreFile(path, suffixes), expected);
}

void tst_FileUtils::queries()
{
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    QVERIFY(IsDirEmpty(dir + "/missing"));
    QVERIFY(writeFile(dir + "/f.bin", "12345"));
    QVERIFY(!IsFileExist(dir));
    QCOMPARE(GetFileSize(dir + "/nope"), qint64(0));
    QVERIFY(!FileIsUsing(dir + "/nope"));
    QVERIFY(!FileIsUsing(dir + "/f.bin"));

    QVERIFY(writeFile(dir + "/B/z.txt", "z"));
    QVERIFY(writeFile(dir + "/a/y.txt", "y"));
    QVERIFY(writeFile(dir + "/.hidden", "h"));
    QStringList list{ QStringLiteral("kept") };
    getFileListUnderDir(dir, list);
    QCOMPARE(list.size(), 4);
    QCOMPARE(list.first(), QStringLiteral("kept"));
    // Case-insensitive name order, folders descended where they are met.
    QCOMPARE(list.mid(1), (QStringList{ dir + "/a/y.txt", dir + "/B/z.txt", dir + "/f.bin" }));
}

void tst_FileUtils::md5()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("big.bin");
    const QByteArray content = randomBytes(600000, 7); // 256 KiB + 256 KiB + 75,712 bytes
    QVERIFY(writeFile(path, content));
    const QString expected = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    QCOMPARE(GetFileMD5(path), expected);

    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), { path });
    if (md5sum.waitForFinished(30000) && md5sum.exitCode() == 0)
        QCOMPARE(GetFileMD5(path), QString::fromLatin1(md5sum.readAllStandardOutput().left(32)));

    QVERIFY(writeFile(tmp.filePath("empty"), QByteArray()));
    QCOMPARE(GetFileMD5(tmp.filePath("empty")), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("missing.bin\"  open error\\.$"));
    QVERIFY(GetFileMD5(tmp.filePath("missing.bin")).isNull());
}

// The hashing behind verification takes whole blocks straight from the
// caller's buffer and keeps only the rest: every way of cutting the input
// across the 64-byte blocks and the 56-byte padding edge must give the digest
// QCryptographicHash gives.
void tst_FileUtils::md5Blocks_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("piece");
    for (int length : { 0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 409600 * 2 + 5 }) {
        for (int piece : { 1, 7, 64, 100, 409600 })
            QTest::addRow("%d bytes in pieces of %d", length, piece) << length << piece;
    }
}

void tst_FileUtils::md5Blocks()
{
    QFETCH(int, length);
    QFETCH(int, piece);
    const QByteArray content = randomBytes(length, quint32(length + 1));
    Morvaniel::Md5 md5;
    for (int at = 0; at < length; at += piece)
        md5.addData(content.constData() + at, qMin(piece, length - at));
    QCOMPARE(md5.result().toHex(), QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

// A sysfs file reports a size of one page but holds a few bytes: reading it is
// exactly a file that shrank after its size was taken. The hash must end and
// must not pass off the bytes it saw as the digest of the file.
void tst_FileUtils::md5OfShrinkingFile()
{
    const QString path = QStringLiteral("/sys/devices/system/cpu/online");
    const QFileInfo info(path);
    if (!info.exists() || info.size() <= 16)
        QSKIP("no sysfs file whose size exceeds its content on this machine");
    QVERIFY(GetFileMD5(path).isEmpty());
}

void tst_FileUtils::crc32()
{
    QTemporaryDir tmp;
    QVERIFY(writeFile(tmp.filePath("check"), "123456789"));
    QCOMPARE(GetFileCRC32(tmp.filePath("check")), quint32(0xCBF43926));
    QVERIFY(writeFile(tmp.filePath("empty"), QByteArray()));
    QCOMPARE(GetFileCRC32(tmp.filePath("empty")), quint32(0));
    QCOMPARE(GetFileCRC32(tmp.filePath("missing")), quint32(0));
    // Across the 1 MiB chunk boundary.
    const QByteArray big = randomBytes(3 * 1024 * 1024 + 17, 11);
    QVERIFY(writeFile(tmp.filePath("big"), big));
    QCOMPARE(GetFileCRC32(tmp.filePath("big")),
        quint32(::crc32(0, reinterpret_cast<const Bytef *>(big.constData()), uInt(big.size()))));
}

void tst_FileUtils::readWrite()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("deep/er/text.txt");
    QVERIFY(ReadBytes(path).isEmpty());
    QVERIFY(!ReadText(path).isNull());
    QVERIFY(WriteBytes(path, "raw"));
    QCOMPARE(ReadBytes(path), QByteArray("raw"));
    WriteText(path, QString());
    QCOMPARE(ReadBytes(path), QByteArray("raw"));
    WriteText(path, QStringLiteral("更新 ok"));
    QCOMPARE(ReadText(path), QStringLiteral("更新 ok"));
    WriteUTF8(path, QStringLiteral("bom"), true);
    QCOMPARE(ReadBytes(path),
        QByteArray("\xEF\xBB\xBF"
                   "bom"));
    WriteUTF8(path, QStringLiteral("plain"), false);
    QCOMPARE(ReadBytes(path), QByteArray("plain"));
    WriteUTF8(path, QString(), false);
    QCOMPARE(ReadBytes(path), QByteArray("plain"));
    QVERIFY(!WriteBytes(tmp.path(), "a folder is not a file"));
}

void tst_FileUtils::createFolder()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("x/y/z");
    QVERIFY(CreateFolder(path));
    QVERIFY(QDir(path).exists());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("z\" exists$"));
    QVERIFY(!CreateFolder(path));
}

void tst_FileUtils::copyAndMoveOne()
{
    QTemporaryDir tmp;
    const QString src = tmp.filePath("src.bin");
    QVERIFY(writeFile(src, "source"));
    QVERIFY(CopyOneFile(src, src));
    QCOMPARE(ReadBytes(src), QByteArray("source"));

    const QString dst = tmp.filePath("new/folder/dst.bin");
    QVERIFY(CopyOneFile(src, dst));
    QCOMPARE(ReadBytes(dst), QByteArray("source"));
    QVERIFY(writeFile(src, "changed"));
    QVERIFY(CopyOneFile(src, dst)); // replaces an existing destination
    QCOMPARE(ReadBytes(dst), QByteArray("changed"));
    QVERIFY(!CopyOneFile(tmp.filePath("none"), dst));

    const QString moved = tmp.filePath("other/moved.bin");
    QVERIFY(MoveOneFile(dst, moved));
    QVERIFY(!QFile::exists(dst));
    QCOMPARE(ReadBytes(moved), QByteArray("changed"));
    QVERIFY(writeFile(src, "third"));
    QVERIFY(MoveOneFile(src, moved));
    QCOMPARE(ReadBytes(moved), QByteArray("third"));
    QVERIFY(!MoveOneFile(src, moved));
    QVERIFY(MoveOneFile(moved, moved));

    // A bare destination name is a file in the working folder, not a folder to create.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    QVERIFY(writeFile(tmp.filePath("a.bin"), "bare"));
    QVERIFY(CopyOneFile(QStringLiteral("a.bin"), QStringLiteral("b.bin")));
    QDir::setCurrent(cwd);
    QCOMPARE(ReadBytes(tmp.filePath("b.bin")), QByteArray("bare"));
}

void tst_FileUtils::copyOrMoveOntoItselfKeepsTheFile_data()
{
    QTest::addColumn<QString>("destination"); // another name of <tmp>/d/f
    QTest::newRow("dot segment") << "d/./f";
    QTest::newRow("parent segment") << "d/x/../f";
    QTest::newRow("doubled slash") << "d//f";
    QTest::newRow("backslash") << "d\\f";
    QTest::newRow("through a link to the folder") << "link/f";
}

// The destination is removed before the copy: when it is the source under
// another name, the file would be gone.
void tst_FileUtils::copyOrMoveOntoItselfKeepsTheFile()
{
    QFETCH(QString, destination);
#ifdef Q_OS_WIN
    if (destination.startsWith(QLatin1String("link/")))
        QSKIP("QFile::link makes a shortcut here, not a link the file system follows");
#endif
    QTemporaryDir tmp;
    const QString file = tmp.filePath("d/f");
    QVERIFY(writeFile(file, "keep me"));
    QDir().mkpath(tmp.filePath("d/x"));
    QVERIFY(QFile::link(tmp.filePath("d"), tmp.filePath("link")));
    const QString other = tmp.path() + QLatin1Char('/') + destination;
    QVERIFY(CopyOneFile(file, other));
    QCOMPARE(ReadBytes(file), QByteArray("keep me"));
    QVERIFY(MoveOneFile(other, file));
    QCOMPARE(ReadBytes(file), QByteArray("keep me"));
}

void tst_FileUtils::copyOrMoveOntoALinkReplacesTheLink_data()
{
    QTest::addColumn<bool>("move");
    QTest::newRow("copy") << false;
    QTest::newRow("move") << true;
}

// A destination that is a link to the source is no name of the source: the
// file must really arrive there, and the source may go afterwards.
void tst_FileUtils::copyOrMoveOntoALinkReplacesTheLink()
{
    QFETCH(bool, move);
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes a shortcut here, not a link the file system follows");
#endif
    QTemporaryDir tmp;
    const QString staged = tmp.filePath("staging/f");
    const QString placed = tmp.filePath("game/f");
    QVERIFY(writeFile(staged, "new content"));
    QVERIFY(QDir().mkpath(tmp.filePath("game")));
    QVERIFY(QFile::link(staged, placed));
    QVERIFY(move ? MoveOneFile(staged, placed) : CopyOneFile(staged, placed));
    QVERIFY(DeleteFileOrFolder(tmp.filePath("staging")));
    QVERIFY(!QFileInfo(placed).isSymLink());
    QCOMPARE(ReadBytes(placed), QByteArray("new content"));
}

void tst_FileUtils::writeBytesReportsAFullDisk()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("this system has no /dev/full");
    QVERIFY(!WriteBytes(QStringLiteral("/dev/full"), QByteArray(100000, 'x')));
    QVERIFY(!WriteBytes(QStringLiteral("/dev/full"), "small"));
}

void tst_FileUtils::protectedFolders_data()
{
    const QString app = QCoreApplication::applicationDirPath();
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("isProtected");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("root") << "/" << true;
    QTest::newRow("climbs") << QDir::tempPath() + "/a/../b" << true;
    QTest::newRow("climbs with backslashes") << QDir::tempPath() + "\\a\\..\\b" << true;
    QTest::newRow("program folder") << app << true;
    QTest::newRow("program folder, other spelling") << app + "/./" << true;
    QTest::newRow("holds the program") << QFileInfo(app).path() << true;
    QTest::newRow("below the program") << app + "/cache" << false;
    QTest::newRow("name starts like the program's") << app + "2" << false;
    QTest::newRow("elsewhere") << QDir::tempPath() + "/MorvanielCache" << false;
    // A share is as much a root as a drive.
    QTest::newRow("share root") << "\\\\server\\share" << true;
    QTest::newRow("share root, slashes and a trailing one") << "//server/share/" << true;
    QTest::newRow("share root behind a long-path prefix") << "\\\\?\\UNC\\server\\share" << true;
    // Other names of the program's folder: what the file system would delete.
#ifndef Q_OS_WIN
    const QString link = m_links.filePath("program-link");
    QFile::link(app, link);
    QTest::newRow("program folder through a link") << link << true;
    const QString parentLink = m_links.filePath("parent-link");
    QFile::link(QFileInfo(app).path(), parentLink);
    QTest::newRow("folder holding the program through a link") << parentLink << true;
    QTest::newRow("not yet made, below a link to the program") << link + "/cache/new" << false;
#else
    const QString native = QDir::toNativeSeparators(app);
    QTest::newRow("trailing dot") << app + "." << true;
    QTest::newRow("trailing blank") << app + " " << true;
    QTest::newRow("long-path prefix") << "\\\\?\\" + native << true;
    QTest::newRow("short name") << shortName(native) << true;
    QTest::newRow("administrative share") << "\\\\localhost\\" + native.left(1) + "$" + native.mid(2) << true;
#endif
}

void tst_FileUtils::protectedFolders()
{
    QFETCH(QString, folder);
    // Wine has no administrative shares; Windows does.
    if (folder.startsWith(QLatin1String("\\\\localhost\\")) && !QFileInfo::exists(folder))
        QSKIP("this system does not serve the drive as an administrative share");
    QTEST(Morvaniel::FolderGuard::IsProtectedFolder(folder), "isProtected");
}

void tst_FileUtils::deleteFileOrFolder()
{
    QTemporaryDir tmp;
    QVERIFY(writeFile(tmp.filePath("f"), "x"));
    QVERIFY(writeFile(tmp.filePath("d/sub/.hidden"), "x"));
    QVERIFY(writeFile(tmp.filePath("d/sub/g"), "x"));
    QVERIFY(DeleteFileOrFolder(tmp.filePath("f")));
    QVERIFY(!QFile::exists(tmp.filePath("f")));
    QVERIFY(DeleteFileOrFolder(tmp.filePath("d")));
    QVERIFY(!QFileInfo::exists(tmp.filePath("d")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^DeleteFileOrFolder path .* is empty$"));
    QVERIFY(!DeleteFileOrFolder(tmp.filePath("d")));
    QTest::ignoreMessage(QtDebugMsg, "DeleteFileOrFolder path \"\"  is empty");
    QVERIFY(!DeleteFileOrFolder(QString()));
    QVERIFY(!DeleteFileOrFolder(QString(), QStringLiteral("k")));
}

void tst_FileUtils::deleteKeepsNamedEntry()
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("root");
    QVERIFY(writeFile(dir + "/K/inside", "keep"));
    QVERIFY(writeFile(dir + "/a", "x"));
    QVERIFY(writeFile(dir + "/b/c", "x"));
    QVERIFY(DeleteFileOrFolder(dir, QStringLiteral("K")));
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{ "K" });
    QCOMPARE(ReadBytes(dir + "/K/inside"), QByteArray("keep"));
    QVERIFY(DeleteFileOrFolder(dir, QStringLiteral("K"))); // nothing left to delete
    QVERIFY(DeleteFileOrFolder(dir, QString()));
    QVERIFY(!QFileInfo::exists(dir));
}

void tst_FileUtils::deleteDoesNotFollowLinks()
{
    QTemporaryDir tmp;
    QVERIFY(writeFile(tmp.filePath("precious/data"), "keep"));
    QVERIFY(QFile::link(tmp.filePath("precious"), tmp.filePath("link")));
    QVERIFY(DeleteFileOrFolder(tmp.filePath("link")));
    QCOMPARE(ReadBytes(tmp.filePath("precious/data")), QByteArray("keep"));
    QVERIFY(!QFileInfo(tmp.filePath("link")).isSymLink());
}

void tst_FileUtils::copyAndMoveTrees()
{
    QTemporaryDir tmp;
    const QString from = tmp.filePath("from");
    QVERIFY(writeFile(from + "/a.txt", "a"));
    QVERIFY(writeFile(from + "/sub/b.txt", "b"));
    QVERIFY(writeFile(from + "/sub/deeper/c.txt", "c"));
    const QString to = tmp.filePath("to");
    QVERIFY(writeFile(to + "/a.txt", "old"));
    QVERIFY(CopyMultiFiles(from, to));
    QCOMPARE(relativeTree(to), (QStringList{ "a.txt", "sub/b.txt", "sub/deeper/c.txt" }));
    QCOMPARE(ReadBytes(to + "/a.txt"), QByteArray("a"));
    QCOMPARE(relativeTree(from).size(), 3);

    const QString moved = tmp.filePath("moved");
    QVERIFY(MoveMultiFiles(from, moved));
    QCOMPARE(relativeTree(moved), (QStringList{ "a.txt", "sub/b.txt", "sub/deeper/c.txt" }));
    QVERIFY(relativeTree(from).isEmpty());
    QVERIFY(QDir(from + "/sub/deeper").exists()); // emptied folders stay

    // The target's parent must exist: only one level is created.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^CopyMultiFiles .* not is exist and  cannot create path$"));
    QVERIFY(!CopyMultiFiles(moved, tmp.filePath("no/such/parent")));
}

QTEST_GUILESS_MAIN(tst_FileUtils)
#include "tst_fileutils.moc"
