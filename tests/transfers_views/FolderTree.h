#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// A folder tree with every kind of item the file dialogs must tell apart:
//   file.txt, data.bin (regular files); sub/, Sub2/, Sub10/ (folders); .hidden/ (hidden folder);
//   link-to-folder -> sub, link-to-file -> file.txt, dangling -> missing (links); pipe (a FIFO);
//   empty/ (a folder without sub-folders); sub/inner/ (a folder inside sub).
struct FolderTree
{
    QTemporaryDir root;

    FolderTree()
    {
        QDir folder(root.path());
        for (const char *name : {"sub/inner", "Sub2", "Sub10", ".hidden", "empty"}) {
            folder.mkpath(QLatin1String(name));
        }
        for (const char *name : {"file.txt", "data.bin"}) {
            QFile file(folder.filePath(QLatin1String(name)));
            file.open(QIODevice::WriteOnly);
            file.write("content");
        }
        QFile::link(folder.filePath(QStringLiteral("sub")), folder.filePath(QStringLiteral("link-to-folder")));
        QFile::link(folder.filePath(QStringLiteral("file.txt")), folder.filePath(QStringLiteral("link-to-file")));
        QFile::link(folder.filePath(QStringLiteral("missing")), folder.filePath(QStringLiteral("dangling")));
        ::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("pipe"))).constData(), 0600);
    }

    QString path(const QString &relative = {}) const
    {
        return relative.isEmpty() ? root.path() : QDir(root.path()).filePath(relative);
    }
};
