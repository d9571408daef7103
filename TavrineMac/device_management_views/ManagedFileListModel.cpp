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
