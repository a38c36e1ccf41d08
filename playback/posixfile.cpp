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

OpenedFile openRegularFile(const QString &path)
{
    OpenedFile result;
    // The system would stop reading the name at a NUL and open some other file.
    if (path.isEmpty() || path.contains(QChar(0))) {
        result.problem = FileProblem::Missing;
        return result;
    }
    const QByteArray name = QFile::encodeName(path);
    UniqueFd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.isValid()) {
        result.problem = (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP)
                             ? FileProblem::Missing
                             : FileProblem::Unreadable;
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        result.problem = FileProblem::Unreadable;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.problem = FileProblem::NotRegular;
        return result;
    }
    // Regular files ignore O_NONBLOCK, but the decoder should see an ordinary descriptor.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    result.size = st.st_size;
    if (result.size == 0) {
        result.problem = FileProblem::Empty;
        return result;
    }
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

QString fileProblemText(FileProblem problem)
{
    switch (problem) {
    case FileProblem::Missing:
        return QStringLiteral("文件不存在");
    case FileProblem::Unreadable:
        return QStringLiteral("无法读取文件");
    case FileProblem::NotRegular:
        return QStringLiteral("不是普通文件");
    case FileProblem::Empty:
    case FileProblem::None:
        break;
    }
    return QStringLiteral("不是MP3文件");
}

} // namespace velmora
