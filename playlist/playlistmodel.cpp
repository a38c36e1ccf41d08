#include "playlistmodel.h"

#include "entry.h"

#include <algorithm>

namespace velmora {

int PlaylistModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return text(index.row());
    case Qt::ToolTipRole: {
        const int reason = reasonAt(index.row());
        return reason > 0 ? QVariant(QStringLiteral("无法播放：") + m_reasons.at(reason - 1)) : QVariant();
    }
    case FailedRole:
        return reasonAt(index.row()) > 0;
    default:
        return QVariant();
    }
}

Qt::ItemFlags PlaylistModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::ItemIsDropEnabled;
}

void PlaylistModel::append(const QString &text)
{
    EntryTexts one;
    one.append(text);
    append(std::move(one));
}

void PlaylistModel::append(EntryTexts texts)
{
    insert(count(), std::move(texts));
}

void PlaylistModel::insert(int row, EntryTexts texts)
{
    if (texts.isEmpty())
        return;
    row = std::clamp(row, 0, count());
    beginInsertRows(QModelIndex(), row, row + int(texts.size()) - 1);
    if (m_texts.isEmpty())
        m_texts = std::move(texts);
    else
        m_texts.insert(row, texts);
    if (!m_marks.empty())
        m_marks.insert(m_marks.begin() + row, size_t(texts.size()), 0);
    endInsertRows();
}

void PlaylistModel::removeAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_texts.remove(row);
    if (!m_marks.empty()) {
        m_markedCount -= m_marks[size_t(row)] > 0 ? 1 : 0;
        m_marks.erase(m_marks.begin() + row);
    }
    endRemoveRows();
}

void PlaylistModel::clear()
{
    beginResetModel();
    m_texts.clear();
    m_marks = std::vector<int>();
    m_markedCount = 0;
    endResetModel();
}

int PlaylistModel::reasonAt(int row) const
{
    return m_markedCount > 0 && row >= 0 && size_t(row) < m_marks.size() ? m_marks[size_t(row)] : 0;
}

bool PlaylistModel::isFailed(int row) const
{
    return reasonAt(row) > 0;
}

void PlaylistModel::markFailed(int row, const QString &reason)
{
    if (row < 0 || row >= count())
        return;
    if (m_marks.empty())
        m_marks.assign(size_t(count()), 0);
    auto found = m_reasonIndex.constFind(reason);
    if (found == m_reasonIndex.constEnd()) {
        m_reasons.append(reason);
        found = m_reasonIndex.insert(reason, int(m_reasons.size()));
    }
    int &mark = m_marks[size_t(row)];
    m_markedCount += mark == 0 ? 1 : 0;
    mark = *found;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::ToolTipRole, FailedRole});
}

void PlaylistModel::unmarkTrack(const QString &path)
{
    // Only the marked rows are read, so a big list with few failures stays cheap.
    for (size_t row = 0; m_markedCount > 0 && row < m_marks.size(); ++row) {
        if (m_marks[row] == 0 || EntryPathOf(text(int(row))) != path)
            continue;
        m_marks[row] = 0;
        --m_markedCount;
        const QModelIndex changed = index(int(row));
        emit dataChanged(changed, changed, {Qt::ToolTipRole, FailedRole});
    }
}

} // namespace velmora

#include "moc_playlistmodel.cpp"
