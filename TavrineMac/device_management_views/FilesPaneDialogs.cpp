#include "FilesPaneDialogs.h"

#include "PlainLabel.h"
#include "ViewMessageBox.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace FilesPaneDialogs {

namespace {

using Role = FilesPaneDialogButton::Role;

const FilesPaneDialogButton cancelButton{QStringLiteral("取消"), Role::cancel};

} // namespace

FilesPaneDialog newFolder(const QString &name)
{
    return {FilesPaneDialogKind::newFolder, QStringLiteral("新建文件夹"), {}, QStringLiteral("文件夹名称"), name,
            {{QStringLiteral("创建"), Role::normal}, cancelButton}};
}

FilesPaneDialog rename(const QString &value)
{
    return {FilesPaneDialogKind::rename,
            QStringLiteral("重命名"),
            {},
            QStringLiteral("新名称"),
            value,
            {{QStringLiteral("保存"), Role::normal},
             {QStringLiteral("保留两个"), Role::normal},
             {QStringLiteral("替换同名项目"), Role::destructive},
             cancelButton}};
}

FilesPaneDialog moveToTrash(const QList<ManagedFileEntry> &entries)
{
    return {FilesPaneDialogKind::moveToTrash, trashConfirmationTitle(entries.size()),
            trashConfirmationMessage(entries), std::nullopt, {},
            {{QStringLiteral("移到回收站"), Role::destructive}, cancelButton}};
}

FilesPaneDialog replaceOnPaste()
{
    return {FilesPaneDialogKind::replaceOnPaste, QStringLiteral("替换目标位置的同名项目？"),
            QStringLiteral("被替换的项目仍可从 Tavrine 回收站恢复。"), std::nullopt, {},
            {{QStringLiteral("替换并保留到回收站"), Role::destructive}, cancelButton}};
}

FilesPaneDialog replaceOnRestore()
{
    return {FilesPaneDialogKind::replaceOnRestore, QStringLiteral("替换原位置的同名项目？"),
            QStringLiteral("当前位置的同名项目会先移入回收站，不会直接丢失。"), std::nullopt, {},
            {{QStringLiteral("替换并恢复"), Role::destructive}, cancelButton}};
}

FilesPaneDialog emptyTrash()
{
    return {FilesPaneDialogKind::emptyTrash, QStringLiteral("永久清空 Tavrine 回收站？"),
            QStringLiteral("这个操作无法撤销。"), std::nullopt, {},
            {{QStringLiteral("永久删除全部项目"), Role::destructive}, cancelButton}};
}

QString trashConfirmationTitle(qsizetype count)
{
    if (count >= 2) {
        return QStringLiteral("将 %1 项移到 Tavrine 回收站？").arg(count);
    }
    return QStringLiteral("移到 Tavrine 回收站？");
}

QString trashConfirmationMessage(const QList<ManagedFileEntry> &entries)
{
    if (entries.size() == 1) {
        return entries.first().name;
    }
    const qsizetype folders = std::count_if(entries.begin(), entries.end(),
                                            [](const ManagedFileEntry &entry) { return entry.directory; });
    const qsizetype files = entries.size() - folders;
    QStringList parts;
    if (files > 0) {
        parts.append(QStringLiteral("%1 个文件").arg(files));
    }
    if (folders > 0) {
        parts.append(QStringLiteral("%1 个文件夹").arg(folders));
    }
    return parts.join(QStringLiteral("、")) + QStringLiteral("；之后仍可从 Tavrine 回收站恢复。");
}

std::optional<ManagedConflictPolicy> renamePolicy(int button)
{
    switch (button) {
    case 0:
        return ManagedConflictPolicy::error;
    case 1:
        return ManagedConflictPolicy::keepBoth;
    case 2:
        return ManagedConflictPolicy::replace;
    default:
        return std::nullopt;
    }
}

QPointer<QWidget> present(QWidget *parent, const FilesPaneDialog &dialog, FilesPaneDialogAnswer answer)
{
    auto *box = new QDialog(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(dialog.title);
    ViewMessageBox::makeRoomForTitle(box);
    auto *column = new QVBoxLayout(box);
    auto *title = new PlainLabel(dialog.title, box);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    column->addWidget(title);
    if (!dialog.message.isEmpty()) {
        auto *message = new PlainLabel(dialog.message, box);
        message->setWordWrap(true);
        column->addWidget(message);
    }
    QLineEdit *field = nullptr;
    if (dialog.fieldPrompt) {
        field = new QLineEdit(dialog.fieldText, box);
        field->setPlaceholderText(*dialog.fieldPrompt);
        column->addWidget(field);
    }
    auto *buttons = new QDialogButtonBox(box);
    // Answered once: by a button, or as cancelled when the box closes any other way.
    auto answered = std::make_shared<bool>(false);
    auto reply = [answered, answer, field](int button) {
        if (*answered) {
            return;
        }
        *answered = true;
        answer(button, field ? field->text() : QString());
    };
    QList<QPushButton *> destructive;
    QPushButton *firstNormal = nullptr;
    QPushButton *cancelPush = nullptr;
    for (int index = 0; index < dialog.buttons.size(); ++index) {
        const FilesPaneDialogButton &spec = dialog.buttons.at(index);
        const auto role = spec.role == FilesPaneDialogButton::Role::cancel        ? QDialogButtonBox::RejectRole
                          : spec.role == FilesPaneDialogButton::Role::destructive ? QDialogButtonBox::DestructiveRole
                                                                                  : QDialogButtonBox::AcceptRole;
        QPushButton *button = buttons->addButton(spec.text, role);
        if (spec.role == FilesPaneDialogButton::Role::destructive) {
            destructive.append(button);
        } else if (spec.role == FilesPaneDialogButton::Role::cancel) {
            cancelPush = button;
        } else if (spec.role == FilesPaneDialogButton::Role::normal && !firstNormal) {
            firstNormal = button;
        }
        QObject::connect(button, &QPushButton::clicked, box, [reply, index, box] {
            reply(index);
            box->close();
        });
    }
    column->addWidget(buttons);
    // Return never chooses a destructive button: a question with a field takes it for its first plain button,
    // one without for its cancel button.
    if (!destructive.isEmpty()) {
        QPushButton *fallback = field && firstNormal ? firstNormal : cancelPush;
        if (fallback) {
            ViewMessageBox::protectDestructive(fallback, destructive);
        }
        if (field) {
            field->setFocus();
        }
    }
    QObject::connect(box, &QDialog::finished, box, [reply, cancel = dialog.cancelButton()] { reply(cancel); });
    box->open();
    return box;
}

} // namespace FilesPaneDialogs
