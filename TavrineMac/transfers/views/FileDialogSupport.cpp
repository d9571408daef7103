#include "FileDialogSupport.h"

#include "FilePanelChecks.h"
#include "PlainLabel.h"
#include "ViewColors.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLineEdit>

#include <algorithm>
#include <tuple>
#include <vector>

namespace FileDialogSupport {

namespace {

// Moves every item of the dialog's grid one row down and puts the message into the free top row.
void addMessageRow(QFileDialog *dialog, const QString &message)
{
    auto *grid = qobject_cast<QGridLayout *>(dialog->layout());
    auto *label = new PlainLabel(message, dialog);
    label->setObjectName(QStringLiteral("panelMessage"));
    label->setWordWrap(true);
    if (!grid) {
        return;
    }
    std::vector<std::tuple<QLayoutItem *, int, int, int, int>> items;
    while (grid->count() > 0) {
        int row = 0;
        int column = 0;
        int rowSpan = 0;
        int columnSpan = 0;
        grid->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
        items.emplace_back(grid->takeAt(0), row, column, rowSpan, columnSpan);
    }
    const int columns = std::max(1, grid->columnCount());
    for (const auto &[item, row, column, rowSpan, columnSpan] : items) {
        grid->addItem(item, row + 1, column, rowSpan, columnSpan);
    }
    grid->addWidget(label, 0, 0, 1, columns);
}

} // namespace

void prepare(QFileDialog *dialog, const QString &title, const QString &message, const QString &prompt)
{
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::DontResolveSymlinks, true);
    dialog->setWindowTitle(title);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("位置："));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("名称："));
    dialog->setLabelText(QFileDialog::FileType, QStringLiteral("类型："));
    addMessageRow(dialog, message);
}

void allowMultipleSelection(QFileDialog *dialog)
{
    for (const char *name : {"listView", "treeView"}) {
        if (auto *view = dialog->findChild<QAbstractItemView *>(QLatin1String(name))) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
}

void typeSelection(QFileDialog *dialog, const QStringList &paths)
{
    auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!nameField) {
        return;
    }
    // Typing selects the named items in the list; what was selected before must not stay chosen.
    if (auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        list && list->selectionModel()) {
        list->selectionModel()->clearSelection();
    }
    if (paths.size() == 1) {
        nameField->setText(paths.first());
        return;
    }
    QStringList quoted;
    for (const QString &path : paths) {
        quoted.append(QLatin1Char('"') + path + QLatin1Char('"'));
    }
    nameField->setText(quoted.join(QLatin1Char(' ')));
}

bool containsRealFolder(const QStringList &choice)
{
    for (const QString &path : choice) {
        const FilePanelResult<FilePanelChecks::ItemValues> values = FilePanelChecks::readItemValues(path);
        const auto *read = std::get_if<FilePanelChecks::ItemValues>(&values);
        if (read && read->isFolder && !read->isSymbolicLink) {
            return true;
        }
    }
    return false;
}

bool nameFieldNames(const QFileDialog *dialog, const QString &path)
{
    const auto *nameField = dialog->findChild<const QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!nameField || nameField->text().isEmpty()) {
        return false;
    }
    const QString typed = nameField->text();
    const QString typedPath = QDir::isAbsolutePath(typed) ? typed : dialog->directory().absoluteFilePath(typed);
    return QDir::cleanPath(typedPath) == QDir::cleanPath(path);
}

} // namespace FileDialogSupport
