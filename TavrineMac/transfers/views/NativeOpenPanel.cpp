#include "NativeOpenPanel.h"

#include "FileDialogSupport.h"
#include "ViewMessageBox.h"

NativeOpenPanel::NativeOpenPanel(const Settings &settings, QWidget *parent) : QFileDialog(parent), m_settings(settings)
{
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(settings.canChooseDirectories && !settings.canChooseFiles ? QFileDialog::Directory
                                                                          : QFileDialog::ExistingFiles);
    setOption(QFileDialog::ShowDirsOnly, !settings.canChooseFiles);
    setOption(QFileDialog::ReadOnly, true); // no folders are created from here
    FileDialogSupport::prepare(this, settings.title, settings.message, settings.prompt);
    FileDialogSupport::allowMultipleSelection(this);
    FileDialogSupport::startInUsualFolder(this);
}

void NativeOpenPanel::accept()
{
    const QStringList choice = selectedFiles();
    // Where folders cannot be chosen, confirming a folder opens it, as in every file dialog.
    if (!m_settings.canChooseDirectories && FileDialogSupport::containsRealFolder(choice)) {
        QFileDialog::accept();
        return;
    }
    if (m_check) {
        for (const QString &path : choice) {
            if (const std::optional<FilePanelError> refusal = m_check(QUrl::fromLocalFile(path))) {
                ViewMessageBox::open(this, QMessageBox::Warning, refusal->localizedDescription, QString(),
                                     QStringLiteral("好"));
                return;
            }
        }
    }
    QFileDialog::accept();
}
