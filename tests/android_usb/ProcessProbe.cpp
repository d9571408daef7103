#include "ProcessProbe.h"

#include <QDir>
#include <QFile>

bool isProcessRunning(qint64 processId)
{
    QFile status(QStringLiteral("/proc/%1/stat").arg(processId));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    // "pid (name) S …": the state follows the name, which may itself hold parentheses.
    const QByteArray text = status.readAll();
    const qsizetype nameEnd = text.lastIndexOf(')');
    return nameEnd >= 0 && text.mid(nameEnd + 2, 1) != "Z";
}

QList<qint64> processIdsIn(const QString &path)
{
    QFile file(path);
    QList<qint64> processIds;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &word : file.readAll().simplified().split(' ')) {
            if (!word.isEmpty()) {
                processIds.append(word.toLongLong());
            }
        }
    }
    return processIds;
}

QStringList commandFoldersLeft()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("tavrine-command-*")}, QDir::AllEntries | QDir::Hidden);
}
