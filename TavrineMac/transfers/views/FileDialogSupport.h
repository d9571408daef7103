#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;

// Shared set-up of the panels built on Qt's own file dialog.
namespace FileDialogSupport {

// Qt's dialog, with the labels of this application, its file list written as the interface writes sizes, dates and
// folders, and links never resolved: a choice must reach the checks as the link the user picked, not as its target.
void prepare(QFileDialog *dialog, const QString &title, const QString &message, const QString &prompt);
// Starts a chooser of files to open in the user's home folder, unless the application's choosers showed a folder
// before, which Qt's dialog returns to.
void startInUsualFolder(QFileDialog *dialog);
// Lets the file list select several items, also where the dialog mode selects one folder only.
void allowMultipleSelection(QFileDialog *dialog);
// Types the paths into the name field, as a user would, so that they become the dialog's selection.
void typeSelection(QFileDialog *dialog, const QStringList &paths);
// Whether one of the paths is a real folder, not a link to one.
bool containsRealFolder(const QStringList &choice);
// Whether the name field names `path`, rather than the path coming from an item picked in the list.
bool nameFieldNames(const QFileDialog *dialog, const QString &path);

} // namespace FileDialogSupport
