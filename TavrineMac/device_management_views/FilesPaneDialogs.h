#pragma once

#include "DeviceManagementStore.h"

#include <QHashFunctions>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

// The six questions of the files pane: what each one shows and which buttons it offers. The pane decides when one
// is open (from its view state) and what each button does; a presenter only shows the question and reports the
// answer, so tests answer through a presenter of their own instead of a modal loop.

enum class FilesPaneDialogKind
{
    newFolder,
    rename,
    moveToTrash,
    replaceOnPaste,
    replaceOnRestore,
    emptyTrash,
};

inline size_t qHash(FilesPaneDialogKind kind, size_t seed = 0)
{
    return qHash(static_cast<int>(kind), seed);
}

struct FilesPaneDialogButton
{
    enum class Role
    {
        normal,
        cancel,
        destructive,
    };

    QString text;
    Role role = Role::normal;

    bool operator==(const FilesPaneDialogButton &) const = default;
};

struct FilesPaneDialog
{
    FilesPaneDialogKind kind = FilesPaneDialogKind::newFolder;
    QString title;
    QString message;
    std::optional<QString> fieldPrompt; // the two alerts with a text field
    QString fieldText;
    QList<FilesPaneDialogButton> buttons; // in their order; the cancel button is the last

    int cancelButton() const { return int(buttons.size()) - 1; }
    bool operator==(const FilesPaneDialog &) const = default;
};

// The answer: the index of the button pressed (closing the dialog answers its cancel button) and the field's text.
using FilesPaneDialogAnswer = std::function<void(int button, const QString &fieldText)>;
// Shows `dialog` without waiting and calls the answer once; returns the window shown (nothing when none), which
// the pane closes when its state closes the question first.
using FilesPaneDialogPresenter =
    std::function<QPointer<QWidget>(QWidget *parent, const FilesPaneDialog &dialog, FilesPaneDialogAnswer answer)>;

namespace FilesPaneDialogs {

FilesPaneDialog newFolder(const QString &name);
FilesPaneDialog rename(const QString &value);
FilesPaneDialog moveToTrash(const QList<ManagedFileEntry> &entries);
FilesPaneDialog replaceOnPaste();
FilesPaneDialog replaceOnRestore();
FilesPaneDialog emptyTrash();

// "移到 Tavrine 回收站？" for one entry, "将 N 项移到 Tavrine 回收站？" for more.
QString trashConfirmationTitle(qsizetype count);
// One entry: its name. More: "N 个文件" and "M 个文件夹" (each only when not zero) joined by "、", then
// "；之后仍可从 Tavrine 回收站恢复。".
QString trashConfirmationMessage(const QList<ManagedFileEntry> &entries);

// The rename buttons' policies, by button index ("保存", "保留两个", "替换同名项目").
std::optional<ManagedConflictPolicy> renamePolicy(int button);

// The default presenter: a window-modal dialog over `parent`, deleted when closed.
QPointer<QWidget> present(QWidget *parent, const FilesPaneDialog &dialog, FilesPaneDialogAnswer answer);

} // namespace FilesPaneDialogs
