#pragma once

#include "MediaFile.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The photos and videos anywhere in the storage folder, found by their contents. A walk never enters the
// phone's own folder nor follows a symbolic link, and stops after maximumWalkEntries entries or below
// maximumWalkDepth folders. Probing a file is costly, so the facts of every file are kept by its path, size
// and modification time and found again on the next walk; files that are no photo or video, or do not
// decode, are remembered as such and left out.
class MediaLibrary
{
public:
    static constexpr int maximumWalkEntries = 100'000;
    static constexpr int maximumWalkDepth = 64;

    explicit MediaLibrary(const QString &storageDirectory);

    // The items of `kind` whose name holds `query` (ignoring case), newest first, then by path; each id is the
    // file's storage id.
    QList<ManagedMediaItem> items(ManagedMediaKind kind, const QString &query);

    // How many files were probed so far; a file found again unchanged is not probed again.
    int probeCount() const { return m_probeCount; }

private:
    struct IndexEntry
    {
        qint64 size = 0;
        qint64 modifiedAtMillis = 0;
        std::optional<MediaFacts> facts;
    };

    QString m_storageDirectory;
    QHash<QString, IndexEntry> m_index; // by relative path
    int m_probeCount = 0;
};
