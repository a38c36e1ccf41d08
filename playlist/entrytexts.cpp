#include "entrytexts.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

constexpr qsizetype kFolded = qsizetype(1) << 62;
constexpr qsizetype kEndMask = kFolded - 1;
constexpr qsizetype kHeaderBytes = 2 * sizeof(quint32);
// Shorter folders are not worth a number.
constexpr qsizetype kShortestFolder = 12;

quint32 readNumber(const char *at)
{
    quint32 number;
    std::memcpy(&number, at, sizeof number);
    return number;
}

void writeNumber(char *at, quint32 number)
{
    std::memcpy(at, &number, sizeof number);
}

} // namespace

qsizetype EntryTexts::begin(qsizetype row) const
{
    return row == 0 ? 0 : m_ends[size_t(row - 1)] & kEndMask;
}

qsizetype EntryTexts::end(qsizetype row) const
{
    return m_ends[size_t(row)] & kEndMask;
}

bool EntryTexts::folded(qsizetype row) const
{
    return (m_ends[size_t(row)] & kFolded) != 0;
}

qsizetype EntryTexts::textLength(qsizetype row) const
{
    const qsizetype stored = end(row) - begin(row);
    if (!folded(row))
        return stored;
    return stored - kHeaderBytes + m_folders.at(readNumber(m_bytes.constData() + begin(row))).size();
}

QString EntryTexts::at(qsizetype row) const
{
    if (row < 0 || row >= size())
        return QString();
    const char *bytes = m_bytes.constData() + begin(row);
    const qsizetype length = end(row) - begin(row);
    if (!folded(row))
        return QString::fromUtf8(bytes, length);
    const QByteArray &folder = m_folders.at(readNumber(bytes));
    const qsizetype head = readNumber(bytes + sizeof(quint32));
    QVarLengthArray<char, 1024> text;
    text.append(bytes + kHeaderBytes, head);
    text.append(folder.constData(), folder.size());
    text.append(bytes + kHeaderBytes + head, length - kHeaderBytes - head);
    return QString::fromUtf8(text.constData(), text.size());
}

// The folder is what lies between the last "(" and the last "/" or "\" after it.
QByteArray EntryTexts::stored(const QByteArray &utf8, bool &isFolded)
{
    isFolded = false;
    const qsizetype bracket = utf8.lastIndexOf('(');
    if (bracket < 0)
        return utf8;
    const qsizetype separator = std::max(utf8.lastIndexOf('/'), utf8.lastIndexOf('\\'));
    const qsizetype folderLength = separator - bracket;
    if (folderLength < kShortestFolder || m_folders.size() >= qsizetype(UINT32_MAX))
        return utf8;
    const QByteArray folder = utf8.sliced(bracket + 1, folderLength);
    auto number = m_folderNumbers.constFind(folder);
    if (number == m_folderNumbers.constEnd()) {
        number = m_folderNumbers.insert(folder, quint32(m_folders.size()));
        m_folders.append(folder);
    }
    QByteArray bytes(kHeaderBytes, Qt::Uninitialized);
    writeNumber(bytes.data(), *number);
    writeNumber(bytes.data() + sizeof(quint32), quint32(bracket + 1));
    bytes.append(utf8.constData(), bracket + 1);
    bytes.append(utf8.constData() + separator + 1, utf8.size() - separator - 1);
    isFolded = true;
    return bytes;
}

// QByteArray's own growth copies the bytes into a new block; grown ahead by reserve(),
// a big block is reallocated in place, so a list of a million entries is never held twice.
void EntryTexts::makeRoom(qsizetype bytes)
{
    if (m_bytes.capacity() - m_bytes.size() < bytes)
        m_bytes.reserve(m_bytes.size() + m_bytes.size() / 2 + bytes);
}

void EntryTexts::append(QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    bool isFolded = false;
    const QByteArray bytes = stored(utf8, isFolded);
    makeRoom(bytes.size());
    m_bytes.append(bytes);
    m_ends.push_back(m_bytes.size() | (isFolded ? kFolded : 0));
    m_textBytes += utf8.size();
}

void EntryTexts::appendStored(const EntryTexts &other)
{
    const qsizetype offset = m_bytes.size();
    makeRoom(other.m_bytes.size());
    m_bytes.append(other.m_bytes);
    std::vector<quint32> renumbered;
    renumbered.reserve(size_t(other.m_folders.size()));
    for (const QByteArray &folder : other.m_folders) {
        auto number = m_folderNumbers.constFind(folder);
        if (number == m_folderNumbers.constEnd()) {
            number = m_folderNumbers.insert(folder, quint32(m_folders.size()));
            m_folders.append(folder);
        }
        renumbered.push_back(*number);
    }
    m_ends.reserve(m_ends.size() + other.m_ends.size());
    for (qsizetype row = 0; row < other.size(); ++row) {
        if (other.folded(row)) {
            char *bytes = m_bytes.data() + offset + other.begin(row);
            writeNumber(bytes, renumbered[readNumber(bytes)]);
        }
        m_ends.push_back(offset + other.m_ends[size_t(row)]);
    }
    m_textBytes += other.m_textBytes;
}

void EntryTexts::append(const EntryTexts &other)
{
    if (isEmpty()) {
        *this = other;
        return;
    }
    appendStored(other);
}

void EntryTexts::insert(qsizetype row, const EntryTexts &other)
{
    row = std::clamp<qsizetype>(row, 0, size());
    if (row == size()) {
        append(other);
        return;
    }
    // The rows from `row` on are set aside, the new ones appended, and they come back.
    EntryTexts after;
    const qsizetype from = begin(row);
    after.m_bytes = m_bytes.sliced(from);
    after.m_folders = m_folders;
    for (qsizetype moved = row; moved < size(); ++moved) {
        after.m_ends.push_back(m_ends[size_t(moved)] - from);
        after.m_textBytes += textLength(moved);
    }
    after.m_folderNumbers = m_folderNumbers;
    m_bytes.truncate(from);
    m_ends.resize(size_t(row));
    m_textBytes -= after.m_textBytes;
    appendStored(other);
    appendStored(after);
}

void EntryTexts::remove(qsizetype row)
{
    if (row < 0 || row >= size())
        return;
    const qsizetype from = begin(row);
    const qsizetype removed = end(row) - from;
    m_textBytes -= textLength(row);
    m_bytes.remove(from, removed);
    m_ends.erase(m_ends.begin() + row);
    // The folded mark sits above any length, so it survives the subtraction.
    for (auto end = m_ends.begin() + row; end != m_ends.end(); ++end)
        *end -= removed;
}

void EntryTexts::clear()
{
    *this = EntryTexts();
}

void EntryTexts::reserve(qsizetype entries, qsizetype bytes)
{
    m_ends.reserve(size_t(entries));
    m_bytes.reserve(bytes);
}

void EntryTexts::squeeze()
{
    m_bytes.squeeze();
    m_ends.shrink_to_fit();
}

} // namespace velmora
