#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <vector>

namespace velmora {

// The texts of a list's entries, in order, packed as UTF-8 one after the other: a
// QString each would take three times the memory, and a list may hold a million. The
// folder of an entry's path is kept once for all the entries in it (an album's tracks
// share theirs), which halves a big list again.
class EntryTexts
{
public:
    qsizetype size() const { return qsizetype(m_ends.size()); }
    bool isEmpty() const { return m_ends.empty(); }
    // The text at `row`; "" outside the list.
    QString at(qsizetype row) const;
    // The length of all texts as UTF-8.
    qsizetype textBytes() const { return m_textBytes; }

    void append(QStringView text);
    void append(const EntryTexts &other);
    void insert(qsizetype row, const EntryTexts &other);
    void remove(qsizetype row);
    void clear();
    void reserve(qsizetype entries, qsizetype bytes);
    void squeeze();

private:
    qsizetype begin(qsizetype row) const;
    qsizetype end(qsizetype row) const;
    bool folded(qsizetype row) const;
    qsizetype textLength(qsizetype row) const;
    // The entry's bytes as stored: the text, or for a folded entry the folder's number,
    // the length of the text before the folder, and the text without the folder.
    QByteArray stored(const QByteArray &utf8, bool &isFolded);
    void makeRoom(qsizetype bytes);
    // Appends other's entries at the end, their folders numbered as this list numbers them.
    void appendStored(const EntryTexts &other);

    QByteArray m_bytes;
    std::vector<qsizetype> m_ends; // where each entry's bytes end; kFolded marks a folded one
    QList<QByteArray> m_folders;
    QHash<QByteArray, quint32> m_folderNumbers;
    qsizetype m_textBytes = 0;
};

} // namespace velmora
