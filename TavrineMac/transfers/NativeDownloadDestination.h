#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Where a download to this computer goes: the folder, and for a single file the name the user typed.
struct NativeDownloadDestination
{
    QUrl directoryURL;                        // local folder, as a clean file URL
    std::optional<QString> preferredRootName; // none when the folder came from the folder browser

    bool operator==(const NativeDownloadDestination &) const = default;
};
