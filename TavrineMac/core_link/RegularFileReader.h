#pragma once

#include <QByteArray>
#include <QString>

// What stands at a path where the application keeps a file of its own, read whole.
struct RegularFileRead
{
    enum class Outcome
    {
        read,
        missing,   // nothing there (or no folder for it)
        folder,    // a folder in the file's place
        unreadable // a link, a pipe or a device, a file over the bound, or one that cannot be read
    };

    Outcome outcome = Outcome::missing;
    QByteArray contents; // set when read
    QString problem;     // why it is unreadable
};

// Reads the regular file at `path`, at most `maximumBytes`, opened without following a symbolic link and without
// waiting on a pipe.
RegularFileRead readRegularFile(const QString &path, qint64 maximumBytes);
