#include "SampleGame.h"

#include "FileWriter.h"

#include "util/SplitMix64.h"

#include <QDir>
#include <QFileInfo>

namespace Publisher {

namespace {

using Stream = Morvaniel::SplitMix64;

QByteArray randomBytes(quint64 seed, int size)
{
    Stream s{ seed };
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; i += 8) {
        const quint64 v = s.next();
        for (int b = 0; b < 8 && i + b < size; ++b)
            out[i + b] = char((v >> (8 * b)) & 0xff);
    }
    return out;
}

// Alternating blocks of noise and of repetitive text, so archives have both
// incompressible and compressible data.
QByteArray mixedBytes(quint64 seed, int size)
{
    QByteArray out;
    out.reserve(size);
    Stream s{ seed ^ 0x5a5a5a5aull };
    for (int block = 0; out.size() < size; ++block) {
        if (block % 2 == 0) {
            out += randomBytes(seed * 1000 + quint64(block), 4096);
        } else {
            QByteArray text;
            while (text.size() < 4096)
                text += "asset_" + QByteArray::number(quint64(s.next() % 97)) + " mesh lod texture material\n";
            out += text.left(4096);
        }
    }
    out.truncate(size);
    return out;
}

// Version step j (from 2 on) rewrites a few regions and, when asked, grows the file.
void applyStep(QByteArray &data, quint64 seed, int step, int regions, int growBy)
{
    Stream s{ seed * 7919 + quint64(step) };
    for (int r = 0; r < regions; ++r) {
        const int len = 8192;
        const int at = int(s.next() % quint64(qMax(1, data.size() - len)));
        data.replace(at, qMin(len, data.size() - at), randomBytes(s.next(), len));
    }
    if (growBy > 0)
        data += randomBytes(seed * 31 + quint64(step), growBy);
}

QByteArray evolving(quint64 seed, int size, int version, int firstChange, int regions, int growBy)
{
    QByteArray data = mixedBytes(seed, size);
    for (int step = firstChange; step <= version; ++step)
        applyStep(data, seed, step, regions, growBy);
    return data;
}

bool writeVersion(const QString &root, int v, QString &error)
{
    const QString paks = samplePakFolder() + QLatin1Char('/');
    const QString name = sampleVersionName(v - 1);
    struct File
    {
        QString path;
        QByteArray bytes;
    };
    QVector<File> files;
    files << File{ paks + QStringLiteral("pakchunk0-WindowsNoEditor.pak"), evolving(1, 1536 * 1024, v, 2, 3, 32768) };
    files << File{ paks + QStringLiteral("pakchunk1-WindowsNoEditor.pak"), evolving(2, 768 * 1024, v, 3, 2, 0) };
    if (v >= 2)
        files << File{ paks + QStringLiteral("pakchunk2-WindowsNoEditor.pak"), mixedBytes(3, 256 * 1024) };
    if (v == 1)
        files << File{ paks + QStringLiteral("pakchunk9-Legacy.pak"), mixedBytes(9, 128 * 1024) };
    files << File{ QStringLiteral("PM/Binaries/Win64/PM-Win64-Shipping.exe"), evolving(4, 512 * 1024, v, 2, 2, 4096) };
    files << File{ QStringLiteral("PM/Config/Default Game.ini"),
        QStringLiteral("[/Script/EngineSettings.GeneralProjectSettings]\nProjectVersion=%1\n"
                       "ProjectName=PM\nCompanyName=Morvaniel sample\n")
            .arg(name)
            .toUtf8() };
    files << File{ QStringLiteral("Docs/说明 readme.txt"),
        QStringLiteral("示例游戏 %1\nA sample game for the update engine.\n").arg(name).toUtf8() };
    // A rename in letter case only, content unchanged.
    files << File{ v == 1 ? QStringLiteral("PM/Content/Movies/Intro.txt")
                          : QStringLiteral("PM/Content/Movies/intro.txt"),
        QByteArray("intro movie placeholder\n").repeated(64) };
    if (v < 3) {
        files << File{ QStringLiteral("PM/Content/Legacy/old_a.txt"), QByteArray("legacy content\n").repeated(100) };
        files << File{ QStringLiteral("PM/Content/Legacy/old_b.bin"), mixedBytes(11, 64 * 1024) };
    }
    files << File{ QStringLiteral("Morvaniel.exe"), evolving(5, 64 * 1024, v, 3, 1, 0) };

    for (const File &f : qAsConst(files))
        if (!writeFileAtomically(root + QLatin1Char('/') + name + QLatin1Char('/') + f.path, f.bytes, error))
            return false;
    return true;
}

} // namespace

QString samplePakFolder()
{
    return QStringLiteral("PM/Content/Paks");
}

QString sampleVersionName(int index)
{
    return QStringLiteral("1.0.0.%1").arg(index + 1);
}

QStringList generateSampleGame(const QString &root, int versionCount, QString &error)
{
    QStringList versions;
    for (int v = 1; v <= versionCount; ++v) {
        if (QFileInfo::exists(root + QLatin1Char('/') + sampleVersionName(v - 1))) {
            error = QStringLiteral("%1 already holds version %2").arg(root, sampleVersionName(v - 1));
            return {};
        }
        if (!writeVersion(root, v, error))
            return {};
        versions << sampleVersionName(v - 1);
    }
    return versions;
}

} // namespace Publisher
