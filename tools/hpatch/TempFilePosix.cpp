// The temporary result file on POSIX systems: mkstemp, fsync, rename and a
// sync of the folder.

#include "FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hpatch {

namespace {

std::string folderOf(const std::string &path)
{
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    return dirname(copy.data());
}

} // namespace

TempFile::~TempFile()
{
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_path.c_str());
    }
}

int TempFile::create(const std::string &target, const std::string &modeFrom)
{
    m_target = target;
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".hpatch-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    m_fd = mkstemp(name.data());
    if (m_fd < 0)
        return errno;
    m_path = name.data();
    struct stat st;
    const mode_t mode = (!modeFrom.empty() && stat(modeFrom.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
    fchmod(m_fd, mode);
    return 0;
}

int TempFile::commit()
{
    if (fsync(m_fd) != 0) {
        const int err = errno;
        // A sync that the file system does not offer is no failure of the data.
        if (err != EINVAL && err != EROFS)
            return err;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        const int err = errno;
        unlink(m_path.c_str());
        return err;
    }
    if (rename(m_path.c_str(), m_target.c_str()) != 0) {
        const int err = errno;
        unlink(m_path.c_str());
        return err;
    }
    // Make the rename itself durable.
    const int dir = open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

} // namespace hpatch
