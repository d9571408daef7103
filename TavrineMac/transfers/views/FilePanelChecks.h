#pragma once

#include "NativeDownloadDestination.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <variant>

enum class NativeFolderBrowserError
{
    invalidDirectory
};

QString localizedDescription(NativeFolderBrowserError error);

// The error of a file dialog: a refused choice (domain "com.drovan.tavrine.file-panel", code 1), a
// folder the browser cannot show, or a file-system failure passed on with its own description.
struct FilePanelError
{
    static inline const QString filePanelDomain = QStringLiteral("com.drovan.tavrine.file-panel");
    static inline const QString folderBrowserDomain = QStringLiteral("NativeFolderBrowserError");
    static inline const QString fileSystemDomain = QStringLiteral("posix");

    QString domain;
    int code = 0;
    QString localizedDescription;

    bool operator==(const FilePanelError &) const = default;

    static FilePanelError refusal(const QString &message) { return {filePanelDomain, 1, message}; }
    static FilePanelError folderBrowser(NativeFolderBrowserError error)
    {
        return {folderBrowserDomain, int(error), ::localizedDescription(error)};
    }
    // errnoValue as set by the failed call on `path`.
    static FilePanelError fileSystem(int errnoValue, const QString &path);
};

template <typename T> using FilePanelResult = std::variant<T, FilePanelError>;

// The checks of the file dialogs and the folder browser, on the file system and without a display.
namespace FilePanelChecks {

// The kind of an item itself; a symbolic link is reported as a link, never as what it points to.
struct ItemValues
{
    bool isFolder = false;
    bool isRegularFile = false;
    bool isSymbolicLink = false;
    bool isHidden = false;

    bool operator==(const ItemValues &) const = default;
};

FilePanelResult<ItemValues> readItemValues(const QString &path);

// Whether an open panel may hand on this item: a local file or folder of the kind the panel chooses,
// never a symbolic link. No value: accepted.
std::optional<FilePanelError> validateChosenURL(const QUrl &url, bool canChooseFiles, bool canChooseFolders);

// The destination of the save panel's choice: its folder and name, when the folder is a real folder
// and the name does not name a link or a folder.
FilePanelResult<NativeDownloadDestination> validatedSaveDestination(const QUrl &url);

// The visible real sub-folders of `folder`, as paths, ordered by name as a person would order them.
FilePanelResult<QStringList> listDirectories(const QString &folder);

// The folder the browser opens on: the first Downloads location, else the home folder.
QString initialDirectory(const QStringList &downloadLocations, const QString &homePath);

// The parent folder of `folder`; the same path at the top of the file system.
QString parentDirectory(const QString &folder);

bool isWritableDirectory(const QString &folder);

} // namespace FilePanelChecks
