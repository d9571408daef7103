#include "ManagedFileListModel.h"

#include "FileSelectionRules.h"

ManagedFileListModel::ManagedFileListModel(QObject *parent) : QAbstractListModel(parent) {}

void ManagedFileListModel::setEntries(const QList<ManagedFileEntry> &entries)
{
    if (entries == m_entries) {
        return;
    }
    beginResetModel();
    m_entries = entries;
    endResetModel();
}

const ManagedFileEntry *ManagedFileListModel::entryAt(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.row() < 0 || index.row() >= m_entries.size()) {
        return nullptr;
    }
    return &m_entries.at(index.row());
}

int ManagedFileListModel::rowOf(const QString &id) const
{
    for (qsizetype row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).id == id) {
            return int(row);
        }
    }
    return -1;
}

void ManagedFileListModel::setSelectedIDs(const QSet<QString> &ids)
{
    if (ids == m_selectedIDs) {
        return;
    }
    const QSet<QString> changed = (ids - m_selectedIDs) + (m_selectedIDs - ids);
    m_selectedIDs = ids;
    for (qsizetype row = 0; row < m_entries.size(); ++row) {
        if (changed.contains(m_entries.at(row).id)) {
            const QModelIndex changedIndex = index(int(row));
            emit dataChanged(changedIndex, changedIndex, {Qt::AccessibleDescriptionRole});
        }
    }
}

int ManagedFileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant ManagedFileListModel::data(const QModelIndex &index, int role) const
{
    const ManagedFileEntry *entry = entryAt(index);
    if (!entry) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return entry->name;
    case Qt::AccessibleDescriptionRole:
        return m_selectedIDs.contains(entry->id) ? QStringLiteral("已选择") : QStringLiteral("未选择");
    case Qt::ToolTipRole:
        return fileHoverHint(*entry);
    case EntryIDRole:
        return entry->id;
    case DirectoryRole:
        return entry->directory;
    default:
        return {};
    }
}

Qt::ItemFlags ManagedFileListModel::flags(const QModelIndex &index) const
{
    const ManagedFileEntry *entry = entryAt(index);
    if (!entry) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!entry->directory) {
        flags |= Qt::ItemIsDragEnabled;
    }
    return flags;
}
