#pragma once

// Helpers that several of TransferStore's source files share; for those files only.

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QUuid>

#include <qcorotask.h>

#include <exception>
#include <limits>

namespace transferStorePrivate {

inline const QString defaultPhoneName = QStringLiteral("Android 手机");

inline QString describe(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

inline QString newLowerCaseUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

inline qint64 clampedByteCount(uint64_t count)
{
    return count > uint64_t(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(count);
}


// A bookmark is the file's absolute path.
inline QByteArray bookmarkFor(const QString &path)
{
    return QFileInfo(path).absoluteFilePath().toUtf8();
}

inline QString noSuchFileDescription(const QString &path)
{
    return QStringLiteral("“%1”不存在。").arg(QFileInfo(path).fileName());
}

} // namespace transferStorePrivate
