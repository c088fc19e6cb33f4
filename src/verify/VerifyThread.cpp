#include "verify/VerifyThread.h"

#include "manifest/ManifestPathCheck.h"

#include "util/DualDigest.h"
#include "util/Logger.h"
#include "util/Platform.h"
#include "util/QFileUtils.h"
#include "util/TrustedRelease.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("VerifyThread");
constexpr qint64 ArchiveChunkSize = 0x64000;

void log(const QString &text)
{
    Logger::LogInfo(Tag, text);
}

// The pak folder is cleaned only where it really lies inside the game folder:
// when it (or a folder on the way) is a link to somewhere else, its "unlisted"
// files are someone else's.
bool liesInside(const QString &folder, const QString &root)
{
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonicalRoot.isEmpty() || canonical.isEmpty())
        return false;
    const QString written = QDir(QDir::cleanPath(QFileInfo(root).absoluteFilePath()))
                                .relativeFilePath(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    // Compared as the file system compares names (letter case ignored on Windows).
    const auto key = [](const QString &path) { return Platform::FileNameKey(path.toStdString()); };
    return key(canonical) == key(canonicalRoot + QLatin1Char('/') + written);
}

// The form in which the pak-folder cleaning compares paths: absolute, without
// "." segments or doubled slashes, so that the folder's spelling cannot make a
// listed file look unlisted.
QString comparablePath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toUpper();
}

} // namespace

VerifyThread::VerifyThread(QObject *parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &VerifyThread::finishedThread);
}

VerifyThread::~VerifyThread() = default;

void VerifyThread::finishedThread()
{
    emit VerifyComplete(m_bError, m_bSingle);
}

void VerifyThread::run()
{
    m_bError = false;
    if (m_bSingle) {
        verifyArchives();
    } else if (m_bManifestRefused) {
        m_bError = true;
    } else {
        log(QStringLiteral("verify folder is %1").arg(m_folder));
        verifyManifest();
    }
}

void VerifyThread::recordFailure(const QString &path, const QString &reason)
{
    if (m_firstFailure.isEmpty())
        m_firstFailure = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), reason);
}

void VerifyThread::verifyArchives()
{
    m_firstFailure.clear();
    const int n = m_fileList.size();
    for (int i = 0; i < qMin(n, m_md5List.size()); ++i)
        log(QStringLiteral("Md5 is %1, file is %2").arg(m_md5List.at(i), m_fileList.at(i)));
    qDebug() << "begin to verify zip file";

    int successes = 0;
    for (int i = 0; i < n && !isInterruptionRequested(); ++i) {
        const QString &path = m_fileList.at(i);
        if (i < m_md5List.size() || TrustedRelease::required()) {
            if (verifyArchive(path, m_md5List.value(i), n == 1))
                ++successes;
        } else {
            // Nothing to compare with: the archive cannot pass, but it is not
            // known to be bad either, so it stays on disk.
            log(QStringLiteral("verify zip file is %1, no md5 given, counted as failed").arg(path));
            recordFailure(path, QStringLiteral("no MD5 to check against"));
        }
        emit VerifyProgress(static_cast<float>(i) / static_cast<float>(n));
    }

    if (successes < n) {
        m_bError = true;
        return;
    }
    emit VerifyProgress(1.0f);
    m_bError = false;
}

bool VerifyThread::verifyArchive(const QString &path, const QString &md5, bool reportWithin)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        log(QStringLiteral("manifest File %1 cannot open, please check!").arg(path));
        recordFailure(path, QStringLiteral("cannot be read"));
        m_bError = true;
        return false;
    }
    const qint64 total = file.size();
    log(QStringLiteral("begin verify zipfile, the totalBytes of files is %1").arg(total));

    // With signed releases on, the archive must also carry a digest the
    // accepted release lists under its name: MD5 alone an attacker can match.
    const bool strong = TrustedRelease::required();
    DualDigest hash(strong);
    QByteArray chunk(static_cast<int>(ArchiveChunkSize), Qt::Uninitialized);
    qint64 read = 0;
    float lastReported = 0.0f;
    while (read < total) {
        if (isInterruptionRequested())
            return false;
        const qint64 got = file.read(chunk.data(), qMin(ArchiveChunkSize, total - read));
        if (got <= 0) {
            // Something else is rewriting the archive; its digest means nothing,
            // and deleting it could take a file from under its writer.
            log(QStringLiteral("verify zip file is %1, file shrank while hashing, counted as failed").arg(path));
            recordFailure(path, QStringLiteral("changed while it was checked"));
            return false;
        }
        hash.addData(chunk.constData(), got);
        read += got;
        const float p = static_cast<float>(static_cast<double>(read) / static_cast<double>(total));
        if (p - lastReported > 0.01f) {
            lastReported = p;
            if (reportWithin)
                emit VerifyProgress(p);
        }
    }
    file.close();

    const QString digest = QString::fromLatin1(hash.md5().toHex());
    qDebug().noquote() << "md5Str : " << digest;
    log(QStringLiteral("verify zip file is %1, md5 is %2 calculate md5 is %3").arg(path, md5, digest));
    // Where the signed release lists a digest, that digest is the check: a
    // guide line without an MD5 passes on it, a present but wrong MD5 still fails.
    const bool md5Ok = md5 == digest || (strong && md5.isEmpty());
    if (md5Ok && strong) {
        const QByteArray blake2b = hash.blake2b();
        if (!TrustedRelease::listsArchive(QFileInfo(path).fileName(), blake2b)) {
            log(QStringLiteral("verify zip file is %1, blake2b %2 is not listed by the signed release, refused")
                    .arg(path, QString::fromLatin1(blake2b.toHex())));
            recordFailure(path, QStringLiteral("not the archive of the signed release (BLAKE2b)"));
            QFileUtils::DeleteFileOrFolder(path);
            return false;
        }
    }
    if (md5Ok) {
        log(QStringLiteral("verify zipfile is success !"));
        return true;
    }
    log(QStringLiteral("verify zipfile is failed !"));
    recordFailure(path, QStringLiteral("MD5 differs"));
    QFileUtils::DeleteFileOrFolder(path);
    return false;
}

void VerifyThread::verifyManifest()
{
    const int total = m_manifest.size();
    log(QStringLiteral("begin verify manifest,the number of files is %1").arg(total));
    m_bError = false;

    QSet<QString> expected;
    for (auto it = m_manifest.cbegin(); it != m_manifest.cend(); ++it)
        expected.insert(comparablePath(QFileUtils::CombinePath(m_folder, it.value().path)));
    const QString paksDir
        = QDir::toNativeSeparators(QFileUtils::CombinePath(m_folder, QStringLiteral("PM/Content/Paks")));

    int processed = 0;
    int md5Checked = 0;
    int sizeChecked = 0;
    for (auto it = m_manifest.cbegin(); it != m_manifest.cend(); ++it) {
        if (isInterruptionRequested()) {
            m_bError = true;
            break;
        }
        const FileManifestEntry &entry = it.value();
        ++processed;
        bool ok = false;
        // Manifest paths come from the server: one that could leave the folder
        // (with either separator, a drive letter or a climbing segment) is
        // never looked at, by the same rule as the patch stages.
        if (IsSafeManifestPath(entry.path)) {
            const QString full = QFileUtils::CombinePath(m_folder, entry.path);
            ok = checkEntry(entry, full, paksDir, md5Checked, sizeChecked);
        } else {
            log(QStringLiteral("verify file is %1, path leaves the folder, refused").arg(entry.path));
        }
        if (!ok) {
            m_bError = true;
            if (!m_bCollectFailures)
                break;
            m_failedList.append(entry.path);
        }
        emit VerifyProgress(static_cast<float>(processed) / static_cast<float>(total));
    }

    if (!m_bError && total >= 1 && QFileInfo::exists(paksDir) && !liesInside(paksDir, m_folder)) {
        log(QStringLiteral("pak folder %1 leads out of the game folder, not cleaned").arg(paksDir));
    } else if (!m_bError && total >= 1) {
        QStringList present;
        QFileUtils::getFileListUnderDir(paksDir, present);
        for (const QString &file : qAsConst(present)) {
            if (expected.contains(comparablePath(file)))
                continue;
            qDebug() << "delete " << file;
            QFileUtils::DeleteFileOrFolder(file);
        }
    }

    log(QStringLiteral("verify manifest is finished,result:%1, total:%2, verified:%3, md5Checked:%4, sizeChecked:%5")
            .arg(m_bError ? 1 : 0)
            .arg(total)
            .arg(processed)
            .arg(md5Checked)
            .arg(sizeChecked));
}

bool VerifyThread::checkEntry(
    const FileManifestEntry &entry, const QString &full, const QString &paksDir, int &md5Checked, int &sizeChecked)
{
    bool useMd5 = true;
    if (!m_bCollectFailures) {
        if (!m_bMd5Check)
            useMd5 = false;
        else if (QDir::toNativeSeparators(QFileInfo(full).path()) == paksDir)
            useMd5 = m_bMd5CheckPaksDir;
    }

    // A missing file never passes, even against an empty manifest size or MD5.
    const bool exists = QFileUtils::IsFileExist(full);
    if (!useMd5) {
        ++sizeChecked;
        const qint64 actual = exists ? QFileUtils::GetFileSize(full) : 0;
        if (exists && static_cast<quint64>(actual) == entry.size)
            return true;
        qDebug() << QFileInfo(full).fileName() << ">>" << actual << "<<==>>" << entry.size;
        return false;
    }

    ++md5Checked;
    const QString digest = exists ? QFileUtils::GetFileMD5(full) : QString();
    if (!digest.isNull() && digest == entry.md5)
        return true;
    log(QStringLiteral("verify file is %1,caculate md5 is %2, manifest md5 is %3 ").arg(full, digest, entry.md5));
    return false;
}

} // namespace Morvaniel
