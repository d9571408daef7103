#include "StorageIds.h"

#include "StorageLayout.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

const QString StorageIds::rootId = QStringLiteral("root");

namespace {

constexpr auto idEncoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// The decoder accepts padding, spare bits and a dangling last character; only the one canonical spelling
// of a path is taken, so that no two ids name the same item.
std::optional<QString> decodedRelativePath(const QString &id)
{
    const QByteArray encoded = id.toLatin1();
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        encoded, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || QString::fromLatin1(decoded.decoded.toBase64(idEncoding)) != id) {
        return std::nullopt;
    }
    const QString path = QString::fromUtf8(decoded.decoded);
    if (path.toUtf8() != decoded.decoded) {
        return std::nullopt;
    }
    return path;
}

bool isPlainRelativePath(const QString &path)
{
    if (path.isEmpty()) {
        return false;
    }
    const QList<QStringView> components = QStringView(path).split(u'/');
    return std::all_of(components.cbegin(), components.cend(), [](QStringView component) {
        return !component.isEmpty() && component != u"." && component != u".." && !component.contains(QChar(u'\0'));
    });
}

bool isWithin(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

} // namespace

StorageIds::StorageIds(const QString &storageDirectory) : m_storageDirectory(QDir::cleanPath(storageDirectory)) {}

QString StorageIds::idForRelativePath(const QString &relativePath)
{
    return relativePath.isEmpty() ? rootId : QString::fromLatin1(relativePath.toUtf8().toBase64(idEncoding));
}

StorageIdResult StorageIds::resolve(const QString &id) const
{
    QString relativePath;
    if (id != rootId) {
        const std::optional<QString> decoded = decodedRelativePath(id);
        if (!decoded || !isPlainRelativePath(*decoded)) {
            return StorageIdError::malformed;
        }
        relativePath = *decoded;
    }

    const QString privateFolder = StorageLayout::stateFolderPath(m_storageDirectory);
    const QString path = relativePath.isEmpty() ? m_storageDirectory : QDir(m_storageDirectory).filePath(relativePath);
    if (isWithin(path, privateFolder)) {
        return StorageIdError::privateFolder;
    }

    const QString realStorage = QFileInfo(m_storageDirectory).canonicalFilePath();
    const QString realPath = QFileInfo(path).canonicalFilePath();
    if (realStorage.isEmpty() || realPath.isEmpty()) {
        return StorageIdError::missing;
    }
    if (!isWithin(realPath, realStorage)) {
        return StorageIdError::outsideStorage;
    }
    // A link elsewhere in the storage folder may lead into the private folder.
    const QString realPrivateFolder = QFileInfo(privateFolder).canonicalFilePath();
    if (!realPrivateFolder.isEmpty() && isWithin(realPath, realPrivateFolder)) {
        return StorageIdError::privateFolder;
    }
    return StorageItem{relativePath, path, realPath};
}
