#pragma once

#include <QByteArray>
#include <QString>

class QSaveFile;

// Puts `bytes` in place of the file `file` was opened for, as one step. Every write, the flush and the sync to the
// disk are checked before the new file replaces the old: QSaveFile::commit() alone can report success after its last
// flush failed, and a full disk would then leave a cut file where a whole one was. On failure the old file stays as
// it was, the new one is dropped, and `errorMessage` (when given) says why.
bool commitWholeFile(QSaveFile &file, const QByteArray &bytes, QString *errorMessage);
