#include "FileDialogSupport.h"

#include "FilePanelChecks.h"
#include "LocalNames.h"
#include "PlainLabel.h"
#include "ViewColors.h"
#include "ViewDates.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QStyle>
#include <QTreeView>

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

// Qt's file list writes sizes and times in the system's language, whatever the application's, and calls a folder
// "Folder": those columns are written as the rest of the interface writes them.
class FileColumns : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || !index.isValid()) {
            return QIdentityProxyModel::data(index, role);
        }
        const QModelIndex source = mapToSource(index);
        switch (index.column()) {
        case sizeColumn:
            return files->isDir(source) ? QString() : fileByteCount(files->size(source));
        case typeColumn:
            return files->isDir(source) ? QStringLiteral("文件夹") : QIdentityProxyModel::data(index, role);
        case dateColumn:
            return ViewDates::dateTimeText(files->lastModified(source));
        default:
            return QIdentityProxyModel::data(index, role);
        }
    }

    static constexpr int sizeColumn = 1;
    static constexpr int typeColumn = 2;
    static constexpr int dateColumn = 3;
};

constexpr QSize dialogSize(780, 460);

QDateTime longestDate()
{
    return QDateTime(QDate(2000, 12, 28), QTime(23, 58));
}

// The kinds of file most often chosen; the type column is as wide as the longest of their names.
constexpr const char *usualFileTypes[] = {
    "text/plain",
    "image/jpeg",
    "video/mp4",
    "audio/mpeg",
    "application/pdf",
    "application/zip",
    "text/markdown",
    "application/vnd.android.package-archive",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
};

int widestUsualFileType(const QFontMetrics &metrics)
{
    const QMimeDatabase types;
    int widest = 0;
    for (const char *name : usualFileTypes) {
        widest = std::max(widest, metrics.horizontalAdvance(types.mimeTypeForName(QLatin1String(name)).comment()));
    }
    return widest;
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
    dialog->setProxyModel(new FileColumns(dialog));
    if (auto *details = dialog->findChild<QTreeView *>(QStringLiteral("treeView"))) {
        // Wide enough for the longest date, which would otherwise lose its month to an ellipsis.
        const int dateWidth = details->fontMetrics().horizontalAdvance(ViewDates::dateTimeText(longestDate()));
        const int margins = 2 * details->style()->pixelMetric(QStyle::PM_HeaderMargin);
        details->header()->resizeSection(FileColumns::dateColumn, dateWidth + margins);
        // So is the type column for the usual types, which would otherwise read "纯…档".
        details->header()->resizeSection(FileColumns::typeColumn,
                                         std::max(details->header()->sectionSize(FileColumns::typeColumn),
                                                  widestUsualFileType(details->fontMetrics()) + margins));
        // And the dialog wide enough for the columns beside the places.
        dialog->resize(dialog->size().expandedTo(dialogSize));
    }
}

void startInUsualFolder(QFileDialog *dialog)
{
    // Without a folder shown before, Qt's dialog starts in the folder the process was started from, which means
    // nothing to the user.
    if (QDir(dialog->directory()) == QDir::current()) {
        dialog->setDirectory(QDir::homePath());
    }
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
