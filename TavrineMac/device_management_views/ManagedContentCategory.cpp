#include "ManagedContentCategory.h"

#include <QStringList>

QList<ManagedContentCategory> allManagedContentCategories()
{
    using enum ManagedContentCategory;
    return {photos, videos, downloads, documents, allFiles, trash};
}

QString rawValue(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::photos:
        return QStringLiteral("照片");
    case ManagedContentCategory::videos:
        return QStringLiteral("视频");
    case ManagedContentCategory::downloads:
        return QStringLiteral("下载");
    case ManagedContentCategory::documents:
        return QStringLiteral("文档");
    case ManagedContentCategory::allFiles:
        return QStringLiteral("所有文件");
    case ManagedContentCategory::trash:
        return QStringLiteral("回收站");
    }
    return {};
}

std::optional<ManagedContentCategory> managedContentCategoryFromRawValue(const QString &text)
{
    for (const ManagedContentCategory category : allManagedContentCategories()) {
        if (rawValue(category) == text) {
            return category;
        }
    }
    return std::nullopt;
}

ManagedContentGroup group(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::photos:
    case ManagedContentCategory::videos:
        return ManagedContentGroup::media;
    case ManagedContentCategory::trash:
        return ManagedContentGroup::trash;
    default:
        return ManagedContentGroup::files;
    }
}

std::optional<ManagedMediaKind> mediaKind(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::photos:
        return ManagedMediaKind::photo;
    case ManagedContentCategory::videos:
        return ManagedMediaKind::video;
    default:
        return std::nullopt;
    }
}

QStringList contentFolderNames(ManagedContentCategory category)
{
    switch (category) {
    case ManagedContentCategory::downloads:
        return {QStringLiteral("Download"), QStringLiteral("Downloads")};
    case ManagedContentCategory::documents:
        return {QStringLiteral("Documents"), QStringLiteral("Document")};
    default:
        return {};
    }
}
