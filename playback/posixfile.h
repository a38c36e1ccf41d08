#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace velmora {

// Owns a file descriptor and closes it exactly once.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

enum class FileProblem { None, Missing, Unreadable, NotRegular, Empty };

struct OpenedFile
{
    UniqueFd fd;
    qint64 size = 0;
    FileProblem problem = FileProblem::None;
};

// Why a file could not be used, in words for the user.
QString fileProblemText(FileProblem problem);

// Opens a regular file for reading. Never blocks on FIFOs or devices: they are opened
// non-blocking, recognised by fstat and refused.
OpenedFile openRegularFile(const QString &path);

// Reads up to `length` bytes at `offset`; fewer only at end of file or on error.
QByteArray readAt(int fd, qint64 offset, qint64 length);

} // namespace velmora
