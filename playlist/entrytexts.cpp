#include "entrytexts.h"

#include <algorithm>

namespace velmora {

QString EntryTexts::at(qsizetype row) const
{
    if (row < 0 || row >= size())
        return QString();
    const qsizetype from = begin(row);
    return QString::fromUtf8(m_utf8.constData() + from, m_ends[size_t(row)] - from);
}

// QByteArray's own growth copies the bytes into a new block; grown ahead by reserve(),
// a big block is reallocated in place, so a list of a million entries is never held twice.
void EntryTexts::makeRoom(qsizetype bytes)
{
    if (m_utf8.capacity() - m_utf8.size() < bytes)
        m_utf8.reserve(m_utf8.size() + m_utf8.size() / 2 + bytes);
}

void EntryTexts::append(QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    makeRoom(utf8.size());
    m_utf8.append(utf8);
    m_ends.push_back(m_utf8.size());
}

void EntryTexts::append(const EntryTexts &other)
{
    const qsizetype offset = m_utf8.size();
    makeRoom(other.m_utf8.size());
    m_utf8.append(other.m_utf8);
    m_ends.reserve(m_ends.size() + other.m_ends.size());
    for (const qsizetype end : other.m_ends)
        m_ends.push_back(offset + end);
}

void EntryTexts::insert(qsizetype row, QStringView text)
{
    EntryTexts one;
    one.append(text);
    insert(row, one);
}

void EntryTexts::insert(qsizetype row, const EntryTexts &other)
{
    row = std::clamp<qsizetype>(row, 0, size());
    if (row == size()) {
        append(other);
        return;
    }
    const qsizetype at = begin(row);
    const qsizetype added = other.m_utf8.size();
    m_utf8.insert(at, other.m_utf8);
    for (auto end = m_ends.begin() + row; end != m_ends.end(); ++end)
        *end += added;
    std::vector<qsizetype> ends;
    ends.reserve(other.m_ends.size());
    for (const qsizetype end : other.m_ends)
        ends.push_back(at + end);
    m_ends.insert(m_ends.begin() + row, ends.begin(), ends.end());
}

void EntryTexts::remove(qsizetype row)
{
    if (row < 0 || row >= size())
        return;
    const qsizetype from = begin(row);
    const qsizetype removed = m_ends[size_t(row)] - from;
    m_utf8.remove(from, removed);
    m_ends.erase(m_ends.begin() + row);
    for (auto end = m_ends.begin() + row; end != m_ends.end(); ++end)
        *end -= removed;
}

void EntryTexts::clear()
{
    m_utf8 = QByteArray();
    m_ends = std::vector<qsizetype>();
}

void EntryTexts::reserve(qsizetype entries, qsizetype bytes)
{
    m_ends.reserve(size_t(entries));
    m_utf8.reserve(bytes);
}

void EntryTexts::squeeze()
{
    m_utf8.squeeze();
    m_ends.shrink_to_fit();
}

} // namespace velmora
