// Windows side of PositionalFile: ReadFile and WriteFile with the offset in an
// OVERLAPPED record (safe from several threads on one handle), the end of file
// set through the handle, FlushFileBuffers and MoveFileExW.
#ifdef _WIN32

#include "util/PositionalFile.h"

#include <QDir>
#include <QFileInfo>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace Morvaniel {

namespace {

// ReadFile and WriteFile take 32-bit counts.
constexpr qint64 MaxTransfer = qint64(1) << 30;

HANDLE handleOf(qintptr h)
{
    return reinterpret_cast<HANDLE>(h);
}

// Long paths need the "\\?\" form, which takes only absolute paths with backslashes.
std::wstring nativePath(const QString &path)
{
    QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (native.size() >= MAX_PATH - 12 && !native.startsWith(QLatin1String("\\\\")))
        native.prepend(QStringLiteral("\\\\?\\"));
    return native.toStdWString();
}

bool fail(PositionalFile::Error &error, const QString &what, const QString &path)
{
    const DWORD code = GetLastError();
    error.diskFull = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == ERROR_FILE_TOO_LARGE;
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString reason = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    if (text)
        LocalFree(text);
    error.text = QStringLiteral("%1 %2: %3").arg(what, path, reason);
    return false;
}

OVERLAPPED at(qint64 offset)
{
    OVERLAPPED o = {};
    o.Offset = DWORD(quint64(offset) & 0xffffffffu);
    o.OffsetHigh = DWORD(quint64(offset) >> 32);
    return o;
}

} // namespace

PositionalFile::~PositionalFile()
{
    close();
}

bool PositionalFile::open(const QString &path, Mode mode, Error &error)
{
    close();
    m_path = path;
    const DWORD access = mode == ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE h = CreateFileW(nativePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, mode == ReadOnly ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return fail(error, QStringLiteral("cannot open"), path);
    m_handle = reinterpret_cast<qintptr>(h);
    return true;
}

void PositionalFile::close()
{
    if (m_handle != -1)
        CloseHandle(handleOf(m_handle));
    m_handle = -1;
}

bool PositionalFile::isOpen() const
{
    return m_handle != -1;
}

bool PositionalFile::readAt(qint64 offset, void *data, qint64 length, Error &error) const
{
    char *p = static_cast<char *>(data);
    while (length > 0) {
        OVERLAPPED o = at(offset);
        DWORD done = 0;
        if (!ReadFile(handleOf(m_handle), p, DWORD(qMin(length, MaxTransfer)), &done, &o)) {
            if (GetLastError() != ERROR_HANDLE_EOF)
                return fail(error, QStringLiteral("cannot read"), m_path);
            done = 0;
        }
        if (done == 0) {
            error.diskFull = false;
            error.text = QStringLiteral("cannot read %1: it ends before offset %2").arg(m_path).arg(offset);
            return false;
        }
        p += done;
        offset += done;
        length -= done;
    }
    return true;
}

bool PositionalFile::writeAt(qint64 offset, const void *data, qint64 length, Error &error)
{
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        OVERLAPPED o = at(offset);
        DWORD done = 0;
        if (!WriteFile(handleOf(m_handle), p, DWORD(qMin(length, MaxTransfer)), &done, &o) || done == 0)
            return fail(error, QStringLiteral("cannot write"), m_path);
        p += done;
        offset += done;
        length -= done;
    }
    return true;
}

bool PositionalFile::resize(qint64 size, Error &error)
{
    FILE_END_OF_FILE_INFO info = {};
    info.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(handleOf(m_handle), FileEndOfFileInfo, &info, sizeof info)
        || fail(error, QStringLiteral("cannot resize"), m_path);
}

qint64 PositionalFile::size() const
{
    LARGE_INTEGER s;
    return GetFileSizeEx(handleOf(m_handle), &s) ? qint64(s.QuadPart) : -1;
}

bool PositionalFile::sync(Error &error)
{
    return FlushFileBuffers(handleOf(m_handle)) || fail(error, QStringLiteral("cannot flush"), m_path);
}

bool PositionalFile::replace(const QString &source, const QString &target, Error &error)
{
    if (MoveFileExW(
            nativePath(source).c_str(), nativePath(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return fail(error, QStringLiteral("cannot move %1 to").arg(source), target);
}

} // namespace Morvaniel

#endif
