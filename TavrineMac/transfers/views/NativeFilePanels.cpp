#include "NativeFilePanels.h"

#include "FileDialogSupport.h"
#include "FilePanelChecks.h"
#include "NativeFilePanelSession.h"
#include "NativeFolderPanelSession.h"
#include "NativeOpenPanel.h"
#include "NativeSavePanel.h"
#include "ViewMessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QPointer>
#include <QUuid>

namespace NativeFilePanels {

namespace {

// What keeps each dialog alive from its begin until its completion has run.
struct Registry
{
    QHash<QUuid, QPointer<NativeFilePanelSession>> openPanelSessions;
    QHash<QUuid, QPointer<NativeSavePanel>> savePanels;
    QHash<QUuid, QPointer<NativeFolderPanelSession>> folderBrowserSessions;
};

Registry &registry()
{
    static Registry shared;
    return shared;
}

std::optional<std::optional<QStringList>> &nextAnswer()
{
    static std::optional<std::optional<QStringList>> answer;
    return answer;
}

std::optional<std::optional<QStringList>> takeNextAnswer()
{
    return std::exchange(nextAnswer(), std::nullopt);
}

template <typename T> void release(QHash<QUuid, QPointer<T>> &entries, const QUuid &id)
{
    if (const QPointer<T> entry = entries.take(id)) {
        entry->deleteLater();
    }
}

void answer(QFileDialog *panel, const std::optional<QStringList> &paths)
{
    if (!paths) {
        panel->reject();
        return;
    }
    FileDialogSupport::typeSelection(panel, *paths);
    static_cast<QDialog *>(panel)->accept();
}

QDialog *presentOpenPanel(const NativeOpenPanel::Settings &settings, URLsCompletion completion)
{
    const QUuid id = QUuid::createUuid();
    auto *panel = new NativeOpenPanel(settings);
    auto *session = new NativeFilePanelSession(
        panel, [id, completion = std::move(completion)](QDialog::DialogCode response, const QList<QUrl> &urls) {
            release(registry().openPanelSessions, id);
            if (response == QDialog::Accepted && !urls.isEmpty() && completion) {
                completion(urls);
            }
        });
    registry().openPanelSessions.insert(id, session);
    session->begin();
    if (const auto paths = takeNextAnswer()) {
        answer(panel, *paths);
    }
    return panel;
}

QDialog *presentFolderBrowser(DestinationCompletion completion)
{
    const QUuid id = QUuid::createUuid();
    const auto paths = takeNextAnswer();
    std::optional<QString> start;
    if (paths && *paths && !(*paths)->isEmpty()) {
        start = (*paths)->first();
    }
    auto *browser = new NativeFolderPanelSession(
        [id, completion = std::move(completion)](const std::optional<QString> &folder) {
            release(registry().folderBrowserSessions, id);
            if (folder && completion) {
                completion(NativeDownloadDestination{QUrl::fromLocalFile(QDir::cleanPath(*folder)), std::nullopt});
            }
        },
        start);
    registry().folderBrowserSessions.insert(id, browser);
    browser->present();
    if (paths) {
        if (start) {
            browser->chooseCurrentDirectory();
        } else {
            browser->cancel();
        }
    }
    return browser;
}

} // namespace

QDialog *presentManagedFilesPanel(URLsCompletion completion)
{
    return presentOpenPanel(
        {QStringLiteral("选择文件"), QStringLiteral("选择要添加到手机的文件"), QStringLiteral("添加"), true, false},
        std::move(completion));
}

QDialog *presentManagedFoldersPanel(URLsCompletion completion)
{
    return presentOpenPanel(
        {QStringLiteral("选择文件夹"), QStringLiteral("选择要添加到手机的文件夹"), QStringLiteral("添加"), false, true},
        std::move(completion));
}

QDialog *presentDownloadSavePanel(const QString &suggestedName, bool isFile, const QMimeType &contentType,
                                  DestinationCompletion completion)
{
    if (!isFile) {
        return presentFolderBrowser(std::move(completion));
    }
    const QUuid id = QUuid::createUuid();
    auto *panel = new NativeSavePanel(suggestedName, contentType);
    registry().savePanels.insert(id, panel);
    QObject::connect(panel, &QDialog::finished, panel, [id, completion = std::move(completion)](int result) {
        // Continues on a later turn of the event loop, outside the dialog's own signal.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [id, completion, result] {
                const QPointer<NativeSavePanel> closed = registry().savePanels.value(id);
                const std::optional<QUrl> url = closed ? closed->chosenURL() : std::nullopt;
                release(registry().savePanels, id);
                if (result != QDialog::Accepted || !url) {
                    return;
                }
                const FilePanelResult<NativeDownloadDestination> checked =
                    FilePanelChecks::validatedSaveDestination(*url);
                if (const auto *error = std::get_if<FilePanelError>(&checked)) {
                    showSaveLocationAlert(error->localizedDescription);
                    return;
                }
                if (completion) {
                    completion(std::get<NativeDownloadDestination>(checked));
                }
            },
            Qt::QueuedConnection);
    });
    panel->show();
    if (const auto paths = takeNextAnswer()) {
        answer(panel, *paths);
    }
    return panel;
}

void showSaveLocationAlert(const QString &message)
{
    ViewMessageBox::ask(nullptr, QMessageBox::Warning, QStringLiteral("无法使用这个保存位置"), message,
                        {{QStringLiteral("好"), QMessageBox::AcceptRole}});
}

void setNextAnswer(std::optional<QStringList> paths)
{
    nextAnswer() = std::move(paths);
}

int openPanelSessionCount()
{
    return int(registry().openPanelSessions.size());
}

int savePanelCount()
{
    return int(registry().savePanels.size());
}

int folderBrowserSessionCount()
{
    return int(registry().folderBrowserSessions.size());
}

} // namespace NativeFilePanels
