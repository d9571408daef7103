#pragma once

#include "ManagedContentModel.h"

#include <QList>
#include <QSet>
#include <QString>
#include <Qt>

#include <optional>

// The plain decisions of the phone file list and grid: which entries a click selects, what the selection holds,
// what Return, Space and Delete do, and which items the selection bar and an entry's context menu offer. No
// widgets here, so every rule is tested headless.

// The selection of the files pane: ids of the shown entries, and the entry from which a Shift-click range starts
// (set by grid clicks only).
struct FileSelection
{
    QSet<QString> selectedFileIDs;
    std::optional<QString> selectionAnchorID;

    bool operator==(const FileSelection &) const = default;
};

// A click on a grid tile `entry` among `shownEntries` with the keyboard modifiers held at the time of the click
// (Shift extends from the anchor; Control, the Command key of this desktop, toggles). Shift is tested first: with a
// usable anchor it adds the range anchor..entry and keeps the anchor; otherwise Control toggles the entry and makes
// it the anchor; a plain click selects the entry alone and makes it the anchor.
void handleFileClick(FileSelection &selection, const ManagedFileEntry &entry,
                     const QList<ManagedFileEntry> &shownEntries, Qt::KeyboardModifiers modifiers);

// The shown entries whose id is selected, in the shown order; ids of entries not shown are ignored.
QList<ManagedFileEntry> selectedEntries(const QList<ManagedFileEntry> &shownEntries, const QSet<QString> &selectedIDs);
// The sum of the known sizes; folders and files of unknown size add nothing.
qint64 selectedTotalBytes(const QList<ManagedFileEntry> &entries);
// Keeps the selected ids that are still listed, and the anchor only while its entry is.
void pruneFileSelection(FileSelection &selection, const QList<ManagedFileEntry> &listedEntries);

// What opening an entry does: a folder is opened, a file is shown in the preview.
enum class FileOpenAction
{
    none, // the key is passed on
    openFolder,
    quickLook,
};

FileOpenAction openAction(const ManagedFileEntry &entry);
// Return: opens the one selected entry; nothing with none or several selected.
FileOpenAction returnKeyAction(const QList<ManagedFileEntry> &selected);
// Space: previews the one selected file; nothing with a folder, none or several selected.
FileOpenAction spaceKeyAction(const QList<ManagedFileEntry> &selected);

// What the context menu of `entry` acts on: the whole selection when the entry is part of a selection of at least
// two, else the entry alone (the selection is then left as it is).
QList<ManagedFileEntry> contextMenuTargets(const ManagedFileEntry &entry, const QSet<QString> &selectedIDs,
                                           const QList<ManagedFileEntry> &selected);

// The commands of the selection bar and of the context menu of an entry.
enum class FileCommand
{
    quickLook,
    open,
    download,
    copy,
    move,
    rename,
    trash,
};

struct FileCommandItem
{
    FileCommand command = FileCommand::download;
    QString title;
    QString symbolName; // a system symbol name, empty for none
    bool destructive = false;
    bool dividerBefore = false;

    bool operator==(const FileCommandItem &) const = default;
};

// The items of the context menu of `entry` with `targetCount` targets, in menu order.
QList<FileCommandItem> entryContextMenuItems(const ManagedFileEntry &entry, qsizetype targetCount);
// The four actions of the selection bar: "下载到…", "复制", "移动", "移到回收站" (divided from the others in the
// menu of the narrow layout).
QList<FileCommandItem> selectionBarItems();

// "已选择 N 项".
QString selectionCountText(qsizetype count);
// The file-style byte count of the selection, when it is at least one byte.
std::optional<QString> selectionBytesText(qint64 totalBytes);

// The title over an empty folder: "文件夹为空", or "没有匹配的文件" while a search text is set; nothing when
// entries are shown.
std::optional<QString> emptyFolderTitle(bool hasEntries, const QString &fileQuery);

// The texts of a row and a tile: "文件夹" for a folder, else the modification time (row) or the size, "—" when
// unknown (tile); the row's size text only when known; the hover hint "双击打开" / "双击快速查看".
QString fileRowSubtitle(const ManagedFileEntry &entry);
std::optional<QString> fileRowSizeText(const ManagedFileEntry &entry);
QString fileTileSubtitle(const ManagedFileEntry &entry);
QString fileHoverHint(const ManagedFileEntry &entry);
// The system symbol name of an entry's icon: "folder.fill" for a folder, else the file type's symbol.
QString fileEntrySymbolName(const ManagedFileEntry &entry);
