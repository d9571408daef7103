#pragma once

#include "NativeDownloadDestination.h"

#include <QList>
#include <QMimeType>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QDialog;

// The file dialogs of the application: choosing local files or folders to add to the phone, and the
// destination of a download to this computer. Each runs without blocking, is kept alive by a
// process-wide registry until it ends, and calls back only with a checked choice the user confirmed.
namespace NativeFilePanels {

using URLsCompletion = std::function<void(const QList<QUrl> &urls)>;
using DestinationCompletion = std::function<void(const NativeDownloadDestination &destination)>;

// The callback runs once with the chosen files, only when the user confirmed at least one.
QDialog *presentManagedFilesPanel(URLsCompletion completion);
// The same for folders.
QDialog *presentManagedFoldersPanel(URLsCompletion completion);
// One file (isFile): the save dialog, with the suggested name and the content type's filter; else the
// folder browser. The callback runs once with the checked destination; a refused save location shows
// the alert instead.
QDialog *presentDownloadSavePanel(const QString &suggestedName, bool isFile, const QMimeType &contentType,
                                  DestinationCompletion completion);

// The modal alert of a save location that cannot be used; returns when dismissed.
void showSaveLocationAlert(const QString &message);

// The next dialog presented is answered at once, as if the user chose these paths and confirmed (a
// folder browser opens on the first path and chooses it), or cancelled when the paths are none.
void setNextAnswer(std::optional<QStringList> paths);

int openPanelSessionCount();
int savePanelCount();
int folderBrowserSessionCount();

} // namespace NativeFilePanels
