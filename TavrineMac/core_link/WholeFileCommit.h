#pragma once

#include <QByteArray>
#include <QString>

class QSaveFile;

// Puts `bytes` in place of the file `file` was opened for, as one step, and makes the step last: every write and the
// sync to the disk are checked before the new file replaces the old (QSaveFile::commit() alone can report success
// after its last flush failed, and a full disk would then leave a cut file where a whole one was), and the folder is
// synced after the replacement, so that a power cut cannot bring the old file back. On failure the old file stays as
// it was (unless only the folder's sync failed, after the new file took its place), the new one is dropped, and
// `errorMessage` (when given) has the system's words for why, `errorNumber` (when given) the error number of the call
// that failed, or 0 when the system gave none.
bool commitWholeFile(QSaveFile &file, const QByteArray &bytes, QString *errorMessage, int *errorNumber = nullptr);

// Forces what was written to the open file or folder `descriptor` onto the disk, again when a signal cut the call
// short. False, with errno set, when the system could not.
bool syncToDisk(int descriptor);

// The names in a folder reach the disk, so that a file placed, made or renamed there stays after a power cut. True too
// where nothing can be lost by not syncing: a file system that keeps no folder to sync, or a folder that may be written
// to but not read, whose names reach the disk with the system's next write-back. False, with errno set, otherwise.
bool syncFolderToDisk(int folder);
bool syncFolderToDisk(const QString &path);

// Removes what a process ended in the middle of a commit left beside `filePath`: the files QSaveFile writes under
// ("name.XXXXXX") before it moves a new file into place, each as large as the file. Links are left alone.
void removeLeftoverSaveFiles(const QString &filePath);
