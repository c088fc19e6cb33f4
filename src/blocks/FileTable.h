#pragma once

#include "util/PositionalFile.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <list>
#include <memory>
#include <mutex>

namespace Morvaniel {

// The open files of a block run, shared by its pool threads. A file opened
// for writing is created with its folders and, the first time in the run,
// brought to the size it will have, so that blocks land at their offsets.
// At most maxOpen files stay open; the least recently used idle one is
// closed when another is needed.
class FileTable
{
public:
    using Handle = std::shared_ptr<PositionalFile>;

    explicit FileTable(int maxOpen = 64);

    // sizeOnFirstOpen: for writing, the size to set once (-1: leave it).
    Handle acquire(const QString &path, bool write, qint64 sizeOnFirstOpen, PositionalFile::Error &error);
    // Closes the path's handles (before it is moved or deleted); handles in use stay valid for their holders.
    void forget(const QString &path);
    void closeAll();

private:
    struct Entry
    {
        QString path;
        bool write;
        Handle file;
    };
    using Key = QPair<QString, bool>;

    std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    QHash<Key, std::list<Entry>::iterator> m_byKey;
    QSet<QString> m_sized;
    int m_maxOpen;
};

} // namespace Morvaniel
