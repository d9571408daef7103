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
