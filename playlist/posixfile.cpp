#include "posixfile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

FileProblem problemForErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return FileProblem::Missing;
    case EACCES:
    case EPERM:
        return FileProblem::NoPermission;
    case EISDIR:
        return FileProblem::Directory;
    default:
        return FileProblem::Unreadable;
    }
}

QString fileProblemText(FileProblem problem, FileRole role)
{
    // A track names any unreadable or non-regular file alike; a playlist says more.
    const bool track = role == FileRole::Track;
    switch (problem) {
    case FileProblem::None:
        break;
    case FileProblem::Missing:
        return QStringLiteral("文件不存在");
    case FileProblem::NoPermission:
        return track ? QStringLiteral("无法读取文件") : QStringLiteral("无法读取（没有权限）");
    case FileProblem::Unreadable:
        return track ? QStringLiteral("无法读取文件") : QStringLiteral("无法读取");
    case FileProblem::Directory:
        return track ? QStringLiteral("不是普通文件") : QStringLiteral("这是一个文件夹");
    case FileProblem::NotRegular:
        return QStringLiteral("不是普通文件");
    }
    return QString();
}

OpenedFile openRegularFile(const QString &path, OpenFor purpose)
{
    OpenedFile result;
    // The system would stop reading the name at a NUL and open some other file.
    if (path.isEmpty() || path.contains(QChar(0))) {
        result.problem = FileProblem::Missing;
        return result;
    }
    const QByteArray name = QFile::encodeName(path);
    const int access = purpose == OpenFor::Writing ? O_WRONLY : O_RDONLY;
    UniqueFd fd(::open(name.constData(), access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.isValid()) {
        result.problem = problemForErrno(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.problem = problemForErrno(errno);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.problem = S_ISDIR(st.st_mode) ? FileProblem::Directory : FileProblem::NotRegular;
        return result;
    }
    // Regular files ignore O_NONBLOCK, but readers should see an ordinary descriptor.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    result.size = st.st_size;
    result.fd = std::move(fd);
    return result;
}

QByteArray readAt(int fd, qint64 offset, qint64 length)
{
    QByteArray data;
    if (fd < 0 || offset < 0 || length <= 0)
        return data;
    data.resize(length);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, data.data() + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    data.truncate(done);
    return data;
}

bool writeAllAt(int fd, qint64 offset, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // no progress: give up rather than spin
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace velmora
