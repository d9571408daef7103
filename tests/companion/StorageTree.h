#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes entries under root, parents as needed: "a/b/" a folder, "name -> target" a symbolic link to
// target as written, "name|" a named pipe, "name=text" a file holding text, any other name a file
// holding its own name.
inline bool makeEntries(const QString &root, const QStringList &entries)
{
    const QDir dir(root);
    for (const QString &entry : entries) {
        const QString name = entry.section(QStringLiteral(" -> "), 0, 0).section(u'=', 0, 0).remove(u'|');
        const QString path = dir.filePath(name);
        bool made = dir.mkpath(QFileInfo(name).path());
        if (entry.contains(QStringLiteral(" -> ")))
            made = made && QFile::link(entry.section(QStringLiteral(" -> "), 1), path);
        else if (entry.contains(u'='))
            made = made && writeFile(path, entry.section(u'=', 1).toUtf8());
        else if (entry.endsWith(u'/'))
            made = made && dir.mkpath(name);
        else if (entry.endsWith(u'|'))
            made = made && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        else
            made = made && writeFile(path, name.toUtf8());
        if (!made)
            return false;
    }
    return true;
}

// The folder a phone serves, root/storage, and beside it root/outside with what no storage id may reach.
inline const QStringList storageTree =
    QStringLiteral("storage/.tavrine/inbox/;storage/.tavrine/state.json;storage/notes.txt;storage/empty.txt=;"
                   "storage/.hidden;storage/Music/a.mp3;storage/Music/.tavrine/x;storage/照片/旅行/;"
                   "storage/照片/海边 1.jpg;storage/a/b/c/deep.txt;storage/pipe|;outside/secret.txt;"
                   "storage/link-to-outside-file -> ../outside/secret.txt;storage/link-to-outside-folder -> ../outside;"
                   "storage/link-to-parent -> ..;storage/link-to-private-folder -> .tavrine;"
                   "storage/link-to-state-file -> .tavrine/state.json;storage/link-to-music -> Music;"
                   "storage/link-to-song.mp3 -> Music/a.mp3;storage/dangling-link -> gone.txt")
        .split(u';');
