#pragma once

#include <QString>
#include <QStringList>

// Rules for the names of local files that this computer and the phone hand each other.

// Whether `text` holds the character U+0000 anywhere.
bool containsNulScalar(const QString &text);

// A single file or folder name from outside the process that may be joined to a folder: not empty, neither
// "." nor "..", no "/", backslash or U+0000, and under 256 bytes in UTF-8.
bool isAcceptableItemName(const QString &name);

// Orders names as a person (and the desktop's file browser) would: letter case ignored, runs of digits by
// their value ("file2" before "file10"), in the interface's language. Stable.
void sortByStandardName(QStringList &names);

// A file size in decimal units, as file managers show it: "999 字节", "12 KB", "3.4 MB", "1.25 GB".
QString fileByteCount(qint64 bytes);
