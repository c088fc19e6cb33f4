#pragma once

#include <QSet>
#include <QString>

// Which files other processes hold open, as one snapshot of the process table.
// Windows refuses to open a file for reading and writing while another process
// holds it, so there the open test says enough and the snapshot is empty. POSIX
// allows the open, so there the snapshot lists every file in /proc/<pid>/fd of
// every other process. Taking it costs a walk of all processes: take it once per
// check, not once per file.
class OpenFileScan
{
public:
    static OpenFileScan take();

    // True when another process held path open when the snapshot was taken.
    bool isOpenElsewhere(const QString &path) const;

private:
    QSet<QPair<quint64, quint64>> m_openFiles; // (device, inode)
};
