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

enum class FileProblem { None, Missing, NoPermission, Unreadable, Directory, NotRegular };

// What an errno from open/stat/read means for the user.
FileProblem problemForErrno(int error);

// The words for a problem, as a track or a playlist reports it.
enum class FileRole { Track, Playlist };
QString fileProblemText(FileProblem problem, FileRole role);

struct OpenedFile
{
    UniqueFd fd;
    qint64 size = 0;
    FileProblem problem = FileProblem::None;
};

// Opens a regular file for reading, or an existing one for writing (neither created
// nor emptied). Never blocks on FIFOs or devices: they are opened non-blocking,
// recognised by fstat and refused.
enum class OpenFor { Reading, Writing };
OpenedFile openRegularFile(const QString &path, OpenFor purpose = OpenFor::Reading);

// Reads up to `length` bytes at `offset`; fewer only at end of file or on error.
QByteArray readAt(int fd, qint64 offset, qint64 length);

// Writes all of `bytes` at `offset`; false with errno set when that fails.
bool writeAllAt(int fd, qint64 offset, const QByteArray &bytes);

} // namespace velmora
