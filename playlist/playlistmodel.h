#pragma once

#include "entrytexts.h"

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>

#include <vector>

namespace velmora {

// The playlist: the entries' texts in order, as the list shows them and a saved list
// writes them, and which entries could not be played, and why. Views show it; the
// player layer changes it.
class PlaylistModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        FailedRole = Qt::UserRole + 1, // bool: the entry's track could not be played
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int count() const { return int(m_texts.size()); }
    // The entry's text; "" for a row that is not (or no longer) in the list.
    QString text(int row) const { return m_texts.at(row); }
    // All texts at once: cheap, and unchanged by what happens to the list afterwards.
    EntryTexts texts() const { return m_texts; }

    void append(const QString &text);
    // Taken over whole when the list is empty, so that a list read in holds no copy.
    void append(EntryTexts texts);
    void insert(int row, EntryTexts texts);
    void removeAt(int row);
    void clear();

    // Greys out the entry at `row`, with the reason as its tooltip.
    void markFailed(int row, const QString &reason);
    // Every entry of the track at `path` is playable again.
    void unmarkTrack(const QString &path);
    bool isFailed(int row) const;

private:
    int reasonAt(int row) const;

    EntryTexts m_texts;
    // Per row, 1 + the reason's index in m_reasons, 0 when the entry is fine. Empty
    // until an entry fails, so that a big list pays nothing for it.
    std::vector<int> m_marks;
    int m_markedCount = 0;
    QStringList m_reasons;
    QHash<QString, int> m_reasonIndex;
};

} // namespace velmora
