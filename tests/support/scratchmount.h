#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace velmora::test {

// A small tmpfs of its own, for saves onto a full or read-only disk. Needs root;
// valid() is false where mounting is not allowed.
class ScratchMount
{
public:
    explicit ScratchMount(const QString &size = QStringLiteral("64k"))
    {
        m_mounted = m_dir.isValid()
            && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                           QStringLiteral("-o"), QStringLiteral("size=") + size,
                                                           QStringLiteral("tmpfs"), m_dir.path()}) == 0;
    }
    ~ScratchMount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir.path()});
    }
    ScratchMount(const ScratchMount &) = delete;
    ScratchMount &operator=(const ScratchMount &) = delete;

    bool valid() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    bool makeReadOnly() const
    {
        return QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"),
                                                           m_dir.path()}) == 0;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace velmora::test
