#include "blocks/FileTable.h"

#include <QDir>
#include <QFileInfo>

namespace Morvaniel {

FileTable::FileTable(int maxOpen)
    : m_maxOpen(maxOpen)
{
}

FileTable::Handle FileTable::acquire(
    const QString &path, bool write, qint64 sizeOnFirstOpen, PositionalFile::Error &error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Key key(path, write);
    const auto found = m_byKey.constFind(key);
    if (found != m_byKey.constEnd()) {
        m_entries.splice(m_entries.begin(), m_entries, found.value());
        return m_entries.front().file;
    }
    // Room first: close idle files from the least recently used end.
    for (auto it = m_entries.end(); int(m_entries.size()) >= m_maxOpen && it != m_entries.begin();) {
        --it;
        if (it->file.use_count() == 1) {
            m_byKey.remove(Key(it->path, it->write));
            it = m_entries.erase(it);
        }
    }
    Handle file = std::make_shared<PositionalFile>();
    if (write && !QDir().mkpath(QFileInfo(path).absolutePath())) {
        error.diskFull = false;
        error.text = QStringLiteral("cannot create the folder of %1").arg(path);
        return nullptr;
    }
    if (!file->open(path, write ? PositionalFile::ReadWrite : PositionalFile::ReadOnly, error))
        return nullptr;
    if (write && sizeOnFirstOpen >= 0 && !m_sized.contains(path)) {
        if (file->size() != sizeOnFirstOpen && !file->resize(sizeOnFirstOpen, error))
            return nullptr;
        m_sized.insert(path);
    }
    m_entries.push_front(Entry{ path, write, file });
    m_byKey.insert(key, m_entries.begin());
    return file;
}

void FileTable::forget(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (bool write : { false, true }) {
        const auto found = m_byKey.find(Key(path, write));
        if (found == m_byKey.end())
            continue;
        m_entries.erase(found.value());
        m_byKey.erase(found);
    }
}

void FileTable::closeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_byKey.clear();
    m_entries.clear();
}

} // namespace Morvaniel
