#pragma once

#include "ManagedContentModel.h"

#include <QAbstractListModel>
#include <QList>
#include <QSet>

// The shown entries of the open phone folder as one row each, for the list and the grid of the files pane. The
// views paint rows and tiles with their delegates (FileListRow, FileGridTile), so a folder of thousands of entries
// builds no widget per entry.
class ManagedFileListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        EntryIDRole = Qt::UserRole + 1, // QString
        DirectoryRole,                  // bool
    };

    explicit ManagedFileListModel(QObject *parent = nullptr);

    // Replaces the rows; rows of unchanged entries are kept (only a changed list resets the model).
    void setEntries(const QList<ManagedFileEntry> &entries);
    const QList<ManagedFileEntry> &entries() const { return m_entries; }
    const ManagedFileEntry *entryAt(const QModelIndex &index) const;
    // The row of the first entry with this id; -1 when none.
    int rowOf(const QString &id) const;
    // The selected entries, which a screen reader hears as "已选择" / "未选择" on each row and tile.
    void setSelectedIDs(const QSet<QString> &ids);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Only files can be dragged out; folders cannot.
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QList<ManagedFileEntry> m_entries;
    QSet<QString> m_selectedIDs;
};
