#pragma once

#include <QString>
#include <QStringList>

// Whether the process `processId` runs: it exists and is not a zombie waiting to be collected.
bool isProcessRunning(qint64 processId);

// The process ids written as text in the file at `path`, separated by white space.
QList<qint64> processIdsIn(const QString &path);

// The runner's command folders ("tavrine-command-…") left in the temporary directory.
QStringList commandFoldersLeft();
