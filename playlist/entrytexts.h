#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <vector>

namespace velmora {

// The texts of a list's entries, in order, packed as UTF-8 one after the other: a
// QString each would take three times the memory, and a list may hold a million.
class EntryTexts
{
public:
    qsizetype size() const { return qsizetype(m_ends.size()); }
    bool isEmpty() const { return m_ends.empty(); }
    // The text at `row`; "" outside the list.
    QString at(qsizetype row) const;

    void append(QStringView text);
    void append(const EntryTexts &other);
    void insert(qsizetype row, QStringView text);
    void insert(qsizetype row, const EntryTexts &other);
    void remove(qsizetype row);
    void clear();
    void reserve(qsizetype entries, qsizetype bytes);
    void squeeze();

private:
    void makeRoom(qsizetype bytes);
    qsizetype begin(qsizetype row) const { return row == 0 ? 0 : m_ends[size_t(row - 1)]; }

    QByteArray m_utf8;
    std::vector<qsizetype> m_ends; // where each entry's bytes end
};

} // namespace velmora
