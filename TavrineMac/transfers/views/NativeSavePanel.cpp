#include "NativeSavePanel.h"

#include "FileDialogSupport.h"
#include "FilePanelChecks.h"
#include "ViewMessageBox.h"

#include <QFileInfo>
#include <QStandardPaths>

NativeSavePanel::NativeSavePanel(const QString &suggestedName, const QMimeType &contentType, QWidget *parent)
    : QFileDialog(parent)
{
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // The question about replacing is asked by accept(), where tests can answer it.
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
    const FilePanelResult<FilePanelChecks::ItemValues> existing = FilePanelChecks::readItemValues(path);
    const auto *values = std::get_if<FilePanelChecks::ItemValues>(&existing);
    if (values && values->isRegularFile) {
        const QMessageBox::ButtonRole answer = ViewMessageBox::ask(
            this, QMessageBox::Warning, QStringLiteral("“%1”已存在。要替换它吗？").arg(QFileInfo(path).fileName()),
            QString(),
            {{QStringLiteral("替换"), QMessageBox::DestructiveRole}, {QStringLiteral("取消"), QMessageBox::RejectRole}},
            1);
        if (answer != QMessageBox::DestructiveRole) {
            return;
        }
    }
    m_chosenURL = QUrl::fromLocalFile(path);
    QDialog::accept();
}
