#include "NativeSavePanel.h"

#include "FileDialogSupport.h"

#include <QStandardPaths>

NativeSavePanel::NativeSavePanel(const QString &suggestedName, const QMimeType &contentType, QWidget *parent)
    : QFileDialog(parent)
{
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // No question about replacing: a download never replaces a file, it is saved beside one of the chosen name
    // under a numbered name.
    setOption(QFileDialog::DontConfirmOverwrite, true);
    FileDialogSupport::prepare(this, QStringLiteral("下载到电脑"), QStringLiteral("选择保存位置和名称"),
                               QStringLiteral("下载"));
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty()) {
        setDirectory(downloads);
    }
    if (contentType.isValid() && !contentType.isDefault()) {
        setMimeTypeFilters({contentType.name()});
        setDefaultSuffix(contentType.preferredSuffix());
    }
    selectFile(suggestedName);
}

void NativeSavePanel::accept()
{
    const QStringList choice = selectedFiles();
    if (choice.isEmpty() || choice.first().isEmpty()) {
        return;
    }
    const QString path = choice.first();
    // A folder picked in the list is opened; only a name typed into the name field is taken as the file.
    if (FileDialogSupport::containsRealFolder({path}) && !FileDialogSupport::nameFieldNames(this, path)) {
        QFileDialog::accept();
        return;
    }
    m_chosenURL = QUrl::fromLocalFile(path);
    QDialog::accept();
}
