#pragma once

#include "ManagedContentModel.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class DeviceManagementStore;
class QLabel;
class QListView;
class QMenu;
class QStackedLayout;

// The content of the trash category of the files pane: "正在读取回收站…" during the first load, otherwise the
// store's trash entries as painted rows (each with its "恢复" button and its context menu) with the empty state
// laid over them. Restoring keeps both items without asking; restoring with replacement is asked for through
// replacingTrashEntryRequested, whose confirmation belongs to the pane.
class ManagedTrashList : public QWidget
{
    Q_OBJECT

public:
    class Model; // the rows, read by their delegate

    explicit ManagedTrashList(DeviceManagementStore *store, QWidget *parent = nullptr);

    // Starts the restore of `entry` keeping both items; the store reports the outcome.
    void restoreKeepingBoth(const ManagedTrashEntry &entry);
    // The row's context menu, owned by the caller.
    QMenu *makeRowMenu(const ManagedTrashEntry &entry, QWidget *parent);
    // The rectangle of a row's "恢复" button, in the list's viewport.
    QRect restoreButtonRect(int row) const;

    // For tests.
    bool showsLoading() const;
    QListView *view() const { return m_view; }
    QLabel *emptyOverlay() const { return m_emptyOverlay; }

signals:
    // The pane asks whether to replace the item of the same name before restoring `entry`.
    void replacingTrashEntryRequested(const ManagedTrashEntry &entry);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();

    QPointer<DeviceManagementStore> m_store;
    Model *m_model = nullptr;
    QStackedLayout *m_stack = nullptr;
    QWidget *m_loadingView = nullptr;
    QListView *m_view = nullptr;
    QWidget *m_emptyState = nullptr; // the symbol over the title, laid over the list
    QLabel *m_emptySymbol = nullptr;
    QLabel *m_emptyOverlay = nullptr;
};
