#include "FileSelectionRules.h"

#include "FileTypeSymbol.h"
#include "LocalNames.h"
#include "ViewDates.h"


#include <algorithm>
#include <limits>

namespace {

qsizetype indexOf(const QList<ManagedFileEntry> &entries, const QString &id)
{
    const auto found = std::find_if(entries.cbegin(), entries.cend(),
                                    [&id](const ManagedFileEntry &entry) { return entry.id == id; });
    return found == entries.cend() ? -1 : found - entries.cbegin();
}

} // namespace

void handleFileClick(FileSelection &selection, const ManagedFileEntry &entry,
                     const QList<ManagedFileEntry> &shownEntries, Qt::KeyboardModifiers modifiers)
{
    if (modifiers.testFlag(Qt::ShiftModifier) && selection.selectionAnchorID) {
        const qsizetype anchor = indexOf(shownEntries, *selection.selectionAnchorID);
        const qsizetype clicked = indexOf(shownEntries, entry.id);
        if (anchor >= 0 && clicked >= 0) {
            for (qsizetype index = std::min(anchor, clicked); index <= std::max(anchor, clicked); ++index) {
                selection.selectedFileIDs.insert(shownEntries.at(index).id);
            }
            return;
        }
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        if (!selection.selectedFileIDs.remove(entry.id)) {
            selection.selectedFileIDs.insert(entry.id);
        }
        selection.selectionAnchorID = entry.id;
        return;
    }
    selection.selectedFileIDs = {entry.id};
    selection.selectionAnchorID = entry.id;
}

QList<ManagedFileEntry> selectedEntries(const QList<ManagedFileEntry> &shownEntries, const QSet<QString> &selectedIDs)
{
    QList<ManagedFileEntry> selected;
    for (const ManagedFileEntry &entry : shownEntries) {
        if (selectedIDs.contains(entry.id)) {
            selected.append(entry);
        }
    }
    return selected;
}

qint64 selectedTotalBytes(const QList<ManagedFileEntry> &entries)
{
    qint64 total = 0;
    for (const ManagedFileEntry &entry : entries) {
        // A hostile listing cannot overflow the sum.
        if (entry.size && *entry.size > 0) {
            total = *entry.size > std::numeric_limits<qint64>::max() - total ? std::numeric_limits<qint64>::max()
                                                                               : total + *entry.size;
        }
    }
    return total;
}

void pruneFileSelection(FileSelection &selection, const QList<ManagedFileEntry> &listedEntries)
{
    QSet<QString> listed;
    for (const ManagedFileEntry &entry : listedEntries) {
        listed.insert(entry.id);
    }
    selection.selectedFileIDs.intersect(listed);
    if (selection.selectionAnchorID && !listed.contains(*selection.selectionAnchorID)) {
        selection.selectionAnchorID.reset();
    }
}

FileOpenAction openAction(const ManagedFileEntry &entry)
{
    return entry.directory ? FileOpenAction::openFolder : FileOpenAction::quickLook;
}

FileOpenAction returnKeyAction(const QList<ManagedFileEntry> &selected)
{
    return selected.size() == 1 ? openAction(selected.first()) : FileOpenAction::none;
}

FileOpenAction spaceKeyAction(const QList<ManagedFileEntry> &selected)
{
    return selected.size() == 1 && !selected.first().directory ? FileOpenAction::quickLook : FileOpenAction::none;
}

QList<ManagedFileEntry> contextMenuTargets(const ManagedFileEntry &entry, const QSet<QString> &selectedIDs,
                                           const QList<ManagedFileEntry> &selected)
{
    if (selectedIDs.contains(entry.id) && selectedIDs.size() >= 2) {
        return selected;
    }
    return {entry};
}

QList<FileCommandItem> entryContextMenuItems(const ManagedFileEntry &entry, qsizetype targetCount)
{
    QList<FileCommandItem> items;
    if (targetCount == 1) {
        if (entry.directory) {
            items.append({FileCommand::open, QStringLiteral("打开"), {}, false, false});
        } else {
            items.append({FileCommand::quickLook, QStringLiteral("快速查看"), QStringLiteral("eye"), false, false});
        }
    }
    const QString count = QString::number(targetCount);
    items.append({FileCommand::download, QStringLiteral("下载到…"), QStringLiteral("arrow.down.circle"), false, false});
    items.append({FileCommand::copy, QStringLiteral("复制 ") + count + QStringLiteral(" 项"), {}, false, true});
    items.append({FileCommand::move, QStringLiteral("移动 ") + count + QStringLiteral(" 项"), {}, false, false});
    if (targetCount == 1) {
        items.append({FileCommand::rename, QStringLiteral("重命名"), {}, false, false});
    }
    items.append({FileCommand::trash, QStringLiteral("移到回收站"), {}, true, true});
    return items;
}

QList<FileCommandItem> selectionBarItems()
{
    return {
        {FileCommand::download, QStringLiteral("下载到…"), QStringLiteral("arrow.down.circle"), false, false},
        {FileCommand::copy, QStringLiteral("复制"), QStringLiteral("doc.on.doc"), false, false},
        {FileCommand::move, QStringLiteral("移动"), QStringLiteral("folder"), false, false},
        {FileCommand::trash, QStringLiteral("移到回收站"), QStringLiteral("trash"), true, true},
    };
}

QString selectionCountText(qsizetype count)
{
    return QStringLiteral("已选择 %1 项").arg(count);
}

std::optional<QString> selectionBytesText(qint64 totalBytes)
{
    if (totalBytes < 1) {
        return std::nullopt;
    }
    return fileByteCount(totalBytes);
}

std::optional<QString> emptyFolderTitle(bool hasEntries, const QString &fileQuery)
{
    if (hasEntries) {
        return std::nullopt;
    }
    return fileQuery.isEmpty() ? QStringLiteral("文件夹为空") : QStringLiteral("没有匹配的文件");
}

QString fileRowSubtitle(const ManagedFileEntry &entry)
{
    return entry.directory ? QStringLiteral("文件夹") : ViewDates::dateTimeText(entry.modifiedAtMillis);
}

std::optional<QString> fileRowSizeText(const ManagedFileEntry &entry)
{
    if (!entry.size) {
        return std::nullopt;
    }
    return fileByteCount(*entry.size);
}

QString fileTileSubtitle(const ManagedFileEntry &entry)
{
    if (entry.directory) {
        return QStringLiteral("文件夹");
    }
    return entry.size ? fileByteCount(*entry.size) : QStringLiteral("—");
}

QString fileHoverHint(const ManagedFileEntry &entry)
{
    return entry.directory ? QStringLiteral("双击打开") : QStringLiteral("双击快速查看");
}

QString fileEntrySymbolName(const ManagedFileEntry &entry)
{
    return entry.directory ? QStringLiteral("folder.fill") : fileTypeSymbolName(entry.name);
}

