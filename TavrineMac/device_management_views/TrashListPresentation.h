#pragma once

#include "ManagedContentModel.h"

#include <QList>
#include <QString>

#include <optional>

// The plain decisions of the trash list: which state the trash category shows and the texts of a row.

enum class TrashListState
{
    loading, // "正在读取回收站…" in place of the list
    list,    // the rows, with the empty state laid over them when there are none
};

// The first load shows the loading row; a reload with entries present keeps the rows.
TrashListState trashListState(bool isLoadingTrash, bool hasEntries);
// "正在读取回收站…".
QString trashLoadingText();
// "回收站为空" for an empty search text, "没有匹配的项目" otherwise; nothing while entries are listed.
std::optional<QString> trashEmptyTitle(bool hasEntries, const QString &trashQuery);

// "原位置：<location> · <deletion time>".
QString trashRowDetail(const ManagedTrashEntry &entry);
// The file-style byte count, only when the size is known.
std::optional<QString> trashRowSizeText(const ManagedTrashEntry &entry);
// "folder.fill" for a folder, else the file type's symbol of the original name.
QString trashRowSymbolName(const ManagedTrashEntry &entry);

// The items of a row's context menu, in order.
enum class TrashRowCommand
{
    restoreKeepingBoth, // "恢复，同名时保留两个", the same as the row's "恢复"
    restoreReplacing,   // "恢复并替换同名项目": asks first
};

struct TrashRowMenuItem
{
    TrashRowCommand command;
    QString title;
    bool destructive = false;

    bool operator==(const TrashRowMenuItem &) const = default;
};

QList<TrashRowMenuItem> trashRowMenuItems();
