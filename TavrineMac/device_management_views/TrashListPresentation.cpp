#include "TrashListPresentation.h"

#include "FileSelectionRules.h"
#include "FileTypeSymbol.h"
#include "LocalNames.h"
#include "ViewDates.h"

TrashListState trashListState(bool isLoadingTrash, bool hasEntries)
{
    return isLoadingTrash && !hasEntries ? TrashListState::loading : TrashListState::list;
}

QString trashLoadingText()
{
    return QStringLiteral("正在读取回收站…");
}

std::optional<QString> trashEmptyTitle(bool hasEntries, const QString &trashQuery)
{
    if (hasEntries) {
        return std::nullopt;
    }
    return trashQuery.isEmpty() ? QStringLiteral("回收站为空") : QStringLiteral("没有匹配的项目");
}

QString trashRowDetail(const ManagedTrashEntry &entry)
{
    return QStringLiteral("原位置：") + entry.originalLocation + QStringLiteral(" · ") +
           ViewDates::dateTimeText(entry.deletedAtMillis);
}

std::optional<QString> trashRowSizeText(const ManagedTrashEntry &entry)
{
    if (!entry.size) {
        return std::nullopt;
    }
    return fileByteCount(*entry.size);
}

QString trashRowSymbolName(const ManagedTrashEntry &entry)
{
    return entry.directory ? QStringLiteral("folder.fill") : fileTypeSymbolName(entry.originalName);
}

QList<TrashRowMenuItem> trashRowMenuItems()
{
    return {
        {TrashRowCommand::restoreKeepingBoth, QStringLiteral("恢复，同名时保留两个"), false},
        {TrashRowCommand::restoreReplacing, QStringLiteral("恢复并替换同名项目"), true},
    };
}
