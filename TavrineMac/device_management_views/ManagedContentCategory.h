#pragma once

#include "ManagedContentModel.h"

#include <QHashFunctions>
#include <QList>
#include <QString>

#include <optional>

// What the content section of the device dashboard shows; the raw value is its title.
enum class ManagedContentCategory
{
    photos,
    videos,
    downloads,
    documents,
    allFiles,
    trash,
};

// The three groups the files pane, its toolbar and its selection handling tell apart: selection, delete,
// Return, Space, file drops and the selection bar exist only in the files group.
enum class ManagedContentGroup
{
    media, // photos, videos
    files, // downloads, documents, allFiles
    trash,
};

QString rawValue(ManagedContentCategory category);
std::optional<ManagedContentCategory> managedContentCategoryFromRawValue(const QString &text);
// Every category in the order the files pane lists them.
QList<ManagedContentCategory> allManagedContentCategories();

ManagedContentGroup group(ManagedContentCategory category);
inline bool isMediaCategory(ManagedContentCategory category)
{
    return group(category) == ManagedContentGroup::media;
}
inline bool isFilesCategory(ManagedContentCategory category)
{
    return group(category) == ManagedContentGroup::files;
}
// The media kind a media category shows; nothing for the other categories.
std::optional<ManagedMediaKind> mediaKind(ManagedContentCategory category);
// The root-level folder names a folder category opens, in the order they are tried; empty for the others.
QStringList contentFolderNames(ManagedContentCategory category);

inline size_t qHash(ManagedContentCategory category, size_t seed = 0)
{
    return qHash(rawValue(category), seed);
}
