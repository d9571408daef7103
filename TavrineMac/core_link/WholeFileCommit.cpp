#include "WholeFileCommit.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

bool commitWholeFile(QSaveFile &file, const QByteArray &bytes, QString *errorMessage)
{
    const auto fail = [&](const QString &reason) {
        file.cancelWriting();
        if (errorMessage) {
            *errorMessage = reason;
        }
        return false;
    };
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        return fail(file.errorString());
    }
    // Some file systems report a full disk only when the data is forced out.
    if (::fsync(file.handle()) != 0) {
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!file.commit()) {
        if (errorMessage) {
            *errorMessage = file.errorString();
        }
        return false;
    }
    return true;
}
