#pragma once

// Helpers that FileActions' source files share; for those files only.

#include "ActionPayload.h"
#include "ManagedContentModel.h"
#include "StorageIds.h"

#include <QFileInfo>
#include <QString>

namespace fileActionsPrivate {

inline const QString idKey = QStringLiteral("id");
inline const QString nameKey = QStringLiteral("name");
inline const QString queryKey = QStringLiteral("query");

constexpr qint64 answerVersion = 1;

inline const QString notFoundMessage = QStringLiteral("找不到这个项目。");

inline ManagedFileEntry fileEntry(const QString &relativePath, const QFileInfo &info)
{
    return {StorageIds::idForRelativePath(relativePath),
            info.fileName(),
            info.isDir(),
            info.isDir() ? std::nullopt : std::optional(info.size()),
            info.lastModified().toMSecsSinceEpoch(),
            info.fileName().startsWith(u'.'),
            info.isWritable()};
}

} // namespace fileActionsPrivate
