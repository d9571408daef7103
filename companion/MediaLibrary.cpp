#include "MediaLibrary.h"

#include "StorageIds.h"
#include "StorageLayout.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace {

struct FoundFile
{
    QString relativePath;
    QFileInfo info;
};

// The regular files below `storageDirectory`, in no particular order.
QList<FoundFile> regularFiles(const QString &storageDirectory)
{
    struct Folder
    {
        QString relativePath;
        int depth;
    };
    const QString privateFolder = QDir::cleanPath(StorageLayout::stateFolderPath(storageDirectory));
    const QDir storage(storageDirectory);
    QList<FoundFile> files;
    QList<Folder> pending = {{QString(), 0}};
    int entries = 0;
    while (!pending.isEmpty() && entries < MediaLibrary::maximumWalkEntries) {
        const Folder folder = pending.takeLast();
        // An iterator rather than a list, so that a folder of millions of entries stops at the bound.
        QDirIterator children(folder.relativePath.isEmpty() ? storageDirectory : storage.filePath(folder.relativePath),
                              QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (children.hasNext() && ++entries <= MediaLibrary::maximumWalkEntries) {
            children.next();
            const QFileInfo child = children.fileInfo();
            const QString relativePath =
                folder.relativePath.isEmpty() ? child.fileName() : folder.relativePath + u'/' + child.fileName();
            if (child.isSymLink()) {
                continue;
            }
            if (child.isDir()) {
                if (folder.depth + 1 < MediaLibrary::maximumWalkDepth &&
                    QDir::cleanPath(child.absoluteFilePath()) != privateFolder) {
                    pending.append({relativePath, folder.depth + 1});
                }
            } else if (child.isFile()) {
                files.append({relativePath, child});
            }
        }
    }
    return files;
}

} // namespace

MediaLibrary::MediaLibrary(const QString &storageDirectory) : m_storageDirectory(QDir::cleanPath(storageDirectory)) {}

QList<ManagedMediaItem> MediaLibrary::items(ManagedMediaKind kind, const QString &query)
{
    // Only the files of this walk stay in the index, so removed files do not pile up.
    QHash<QString, IndexEntry> index;
    QList<ManagedMediaItem> found;
    for (const FoundFile &file : regularFiles(m_storageDirectory)) {
        const qint64 size = file.info.size();
        const qint64 modifiedAtMillis = file.info.lastModified().toMSecsSinceEpoch();
        const auto known = m_index.constFind(file.relativePath);
        IndexEntry entry;
        if (known != m_index.cend() && known->size == size && known->modifiedAtMillis == modifiedAtMillis) {
            entry = *known;
        } else if (file.info.fileName().contains(query, Qt::CaseInsensitive)) {
            entry = {size, modifiedAtMillis, MediaFile::probe(file.info.filePath())};
            ++m_probeCount;
        } else {
            continue;
        }
        index.insert(file.relativePath, entry);
        if (entry.facts && entry.facts->kind == kind && file.info.fileName().contains(query, Qt::CaseInsensitive)) {
            const MediaFacts &facts = *entry.facts;
            found.append({StorageIds::idForRelativePath(file.relativePath), file.info.fileName(), facts.kind, size,
                          modifiedAtMillis, facts.mimeType, facts.size.width(), facts.size.height(),
                          facts.orientationDegrees, file.relativePath, facts.durationMillis});
        }
    }
    m_index = std::move(index);
    std::sort(found.begin(), found.end(), [](const ManagedMediaItem &left, const ManagedMediaItem &right) {
        if (left.modifiedAtMillis != right.modifiedAtMillis) {
            return left.modifiedAtMillis > right.modifiedAtMillis;
        }
        return left.relativePath < right.relativePath;
    });
    return found;
}
