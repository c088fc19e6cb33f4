#pragma once

#include <QString>
#include <QtGlobal>

namespace Morvaniel {

// A file read and written at explicit offsets, from several threads at once:
// each call names its offset, so no call moves a position another relies on.
// Opened files are shared with every other reader and writer, as POSIX files
// are, so a virus scanner or the game's own launcher cannot lock us out.
// PositionalFilePosix.cpp and PositionalFileWin.cpp implement it.
class PositionalFile
{
public:
    enum Mode {
        ReadOnly,
        ReadWrite, // created when missing, never truncated on opening
    };

    // What a failed call left behind.
    struct Error
    {
        bool diskFull = false; // no space, or a file-size limit
        QString text;
    };

    PositionalFile() = default;
    ~PositionalFile();
    PositionalFile(const PositionalFile &) = delete;
    PositionalFile &operator=(const PositionalFile &) = delete;

    bool open(const QString &path, Mode mode, Error &error);
    void close();
    bool isOpen() const;

    // Exactly length bytes at offset; a read past the end fails.
    bool readAt(qint64 offset, void *data, qint64 length, Error &error) const;
    bool writeAt(qint64 offset, const void *data, qint64 length, Error &error);
    // Grows with zeros (a hole where the file system allows) or cuts.
    bool resize(qint64 size, Error &error);
    // -1 on failure.
    qint64 size() const;
    // The written data on disk before this returns.
    bool sync(Error &error);

    // Moves source over target in one step, replacing a file already there.
    static bool replace(const QString &source, const QString &target, Error &error);

private:
    qintptr m_handle = -1;
    QString m_path;
};

} // namespace Morvaniel
