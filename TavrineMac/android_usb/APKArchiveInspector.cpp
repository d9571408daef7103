#include "APKArchiveInspector.h"

#include "LocalNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace {

enum class Signing
{
    none,
    legacy, // a JAR signature file under META-INF/
    modern, // an APK Signing Block (signature scheme v2 and later)
};

struct InspectedFile
{
    QString path;
    qint64 size = 0;
    Signing signing = Signing::none;
};

constexpr quint32 endOfCentralDirectorySignature = 0x06054b50;
constexpr quint32 centralDirectoryEntrySignature = 0x02014b50;
constexpr quint32 localHeaderSignature = 0x04034b50;
constexpr qint64 endRecordLength = 22;
constexpr qint64 centralEntryFixedLength = 46;
// The end record may be followed by a comment of up to 65535 bytes.
constexpr qint64 endRecordSearchLength = 65535 + endRecordLength;
// Packages up to this size are read into memory; larger ones are mapped, which keeps memory flat but lets a
// volume that disappears during the read end the process, so it is kept for the rare huge package.
constexpr qint64 largestReadPackageBytes = qint64(512) * 1024 * 1024;
constexpr QByteArrayView signingBlockMagic("APK Sig Block 42");

[[noreturn]] void fail(APKValidationError::Case errorCase)
{
    throw APKValidationError(errorCase);
}

// Little-endian fields of a buffer; every read outside the buffer is a corrupt archive.
class ArchiveReader
{
public:
    explicit ArchiveReader(QByteArrayView bytes) : m_bytes(bytes) {}

    qint64 length() const { return m_bytes.size(); }

    quint16 read16(qint64 offset) const { return quint16(read(offset, 2)); }
    quint32 read32(qint64 offset) const { return quint32(read(offset, 4)); }

    QByteArrayView slice(qint64 offset, qint64 count) const
    {
        if (offset < 0 || count < 0 || offset > length() || count > length() - offset)
            fail(APKValidationError::Case::corruptArchive);
        return m_bytes.sliced(offset, count);
    }

private:
    quint64 read(qint64 offset, int width) const
    {
        const QByteArrayView field = slice(offset, width);
        quint64 value = 0;
        for (int index = width - 1; index >= 0; --index)
            value = (value << 8) | quint8(field[index]);
        return value;
    }

    QByteArrayView m_bytes;
};

QString lastComponent(const QString &path)
{
    return QFileInfo(QDir::cleanPath(path)).fileName();
}

bool isLegacySignatureFile(const QString &entryName)
{
    const QString upper = entryName.toUpper();
    return upper.startsWith(QLatin1String("META-INF/")) &&
           (upper.endsWith(QLatin1String(".RSA")) || upper.endsWith(QLatin1String(".DSA")) ||
            upper.endsWith(QLatin1String(".EC")));
}

// The whole file; nothing when it cannot be read.
std::optional<QByteArray> readWholeFile(QFile &file)
{
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    if (size > largestReadPackageBytes) {
        if (uchar *mapped = file.map(0, size))
            return QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), size);
    }
    QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return contents;
}

InspectedFile inspect(const QString &path)
{
    const QFileInfo info(QDir::cleanPath(path));
    const QString extension = info.suffix().toLower();
    if (extension == QLatin1String("aab"))
        fail(APKValidationError::Case::unsupportedBundle);
    if (extension != QLatin1String("apk"))
        fail(APKValidationError::Case::notAPK);
    if (!info.exists())
        fail(APKValidationError::Case::missing);
    if (info.isDir())
        fail(APKValidationError::Case::directory);
    // Devices, pipes and sockets report no size, so they end here too.
    const qint64 size = info.size();
    if (size < 1)
        fail(APKValidationError::Case::empty);

    QFile file(info.filePath());
    const std::optional<QByteArray> contents = readWholeFile(file);
    if (!contents)
        fail(APKValidationError::Case::corruptArchive);

    const QStringList names = APKArchiveInspector::centralDirectoryEntryNames(*contents);
    if (!names.contains(QStringLiteral("AndroidManifest.xml")))
        fail(APKValidationError::Case::missingManifest);

    Signing signing = Signing::none;
    if (QByteArrayView(*contents).indexOf(signingBlockMagic) >= 0)
        signing = Signing::modern;
    else if (std::any_of(names.cbegin(), names.cend(), isLegacySignatureFile))
        signing = Signing::legacy;
    return {path, size, signing};
}

QString signatureSummary(const QList<InspectedFile> &files)
{
    const auto signedAs = [](Signing signing) {
        return [signing](const InspectedFile &file) {
            return file.signing == signing;
        };
    };
    if (std::all_of(files.cbegin(), files.cend(), signedAs(Signing::modern)))
        return QStringLiteral("已检测到 APK v2/v3 签名");
    if (std::none_of(files.cbegin(), files.cend(), signedAs(Signing::none)))
        return QStringLiteral("已检测到 APK 签名");
    return QStringLiteral("签名将由 Android 在安装时验证");
}

} // namespace

APKValidationError::APKValidationError(Case errorCase) : m_case(errorCase), m_what(errorDescription().toUtf8()) {}

QString APKValidationError::errorDescription() const
{
    switch (m_case) {
    case Case::notAPK:
        return QStringLiteral("请选择 APK 安装包。");
    case Case::unsupportedBundle:
        return QStringLiteral("暂不支持 AAB。请先生成设备可安装的 APK 或 split APK。");
    case Case::missing:
        return QStringLiteral("所选安装包已不存在，请重新选择。");
    case Case::directory:
        return QStringLiteral("请选择 APK 文件，而不是文件夹。");
    case Case::empty:
        return QStringLiteral("所选 APK 是空文件。");
    case Case::corruptArchive:
        return QStringLiteral("安装包结构已损坏或不是有效的 APK。");
    case Case::missingManifest:
        return QStringLiteral("安装包缺少 AndroidManifest.xml，无法安装。");
    case Case::splitSetNeedsBase:
        return QStringLiteral("split APK 组合中必须且只能包含一个 base.apk。");
    case Case::duplicateFileName:
        return QStringLiteral("所选安装包中存在重名文件，请重新选择。");
    }
    return {};
}

QStringList APKArchiveInspector::centralDirectoryEntryNames(QByteArrayView archive)
{
    constexpr auto corrupt = APKValidationError::Case::corruptArchive;
    const ArchiveReader reader(archive);
    const qint64 length = reader.length();
    if (length < endRecordLength)
        fail(corrupt);

    // The nearest signature to the end wins, even when it lies inside the comment; there is no second try.
    qint64 end = -1;
    for (qint64 candidate = length - endRecordLength; candidate >= std::max<qint64>(0, length - endRecordSearchLength);
         --candidate) {
        if (reader.read32(candidate) == endOfCentralDirectorySignature) {
            end = candidate;
            break;
        }
    }
    if (end < 0)
        fail(corrupt);

    const quint16 thisDisk = reader.read16(end + 4);
    const quint16 directoryDisk = reader.read16(end + 6);
    const quint16 entriesOnDisk = reader.read16(end + 8);
    const quint16 entryCount = reader.read16(end + 10);
    const quint32 directorySize = reader.read32(end + 12);
    const quint32 directoryOffset = reader.read32(end + 16);
    const quint16 commentLength = reader.read16(end + 20);

    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != entryCount)
        fail(corrupt);
    // The ZIP64 markers: such archives are refused rather than followed to their second end record.
    if (directoryOffset == 0xFFFFFFFF || directorySize == 0xFFFFFFFF || entryCount == 0xFFFF)
        fail(corrupt);
    if (end + endRecordLength + commentLength != length)
        fail(corrupt);
    const qint64 directoryEnd = qint64(directoryOffset) + qint64(directorySize);
    if (directoryEnd > end)
        fail(corrupt);

    QStringList names;
    if (entryCount == 0) {
        if (directorySize != 0)
            fail(corrupt);
        return names;
    }

    names.reserve(entryCount);
    qint64 position = directoryOffset;
    for (int entry = 0; entry < entryCount; ++entry) {
        if (reader.read32(position) != centralDirectoryEntrySignature)
            fail(corrupt);
        const quint16 nameLength = reader.read16(position + 28);
        const quint16 extraLength = reader.read16(position + 30);
        const quint16 entryCommentLength = reader.read16(position + 32);
        const quint32 localHeaderOffset = reader.read32(position + 42);
        if (localHeaderOffset == 0xFFFFFFFF || reader.read32(localHeaderOffset) != localHeaderSignature)
            fail(corrupt);
        const qint64 next = position + centralEntryFixedLength + nameLength + extraLength + entryCommentLength;
        if (next > directoryEnd)
            fail(corrupt);

        // Names are UTF-8 whatever the entry's flags claim; a byte-order mark stays part of the name.
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        const QString name = decoder.decode(reader.slice(position + centralEntryFixedLength, nameLength));
        if (decoder.hasError() || name.isEmpty())
            fail(corrupt);
        names.append(name);
        position = next;
    }
    if (position != directoryEnd)
        fail(corrupt);
    return names;
}

APKInstallPlan APKArchiveInspector::plan(const QStringList &files)
{
    if (files.isEmpty())
        fail(APKValidationError::Case::notAPK);

    // Duplicates are refused before any file is opened.
    QSet<QString> lowerCaseNames;
    for (const QString &path : files) {
        const QString name = lastComponent(path).toLower();
        if (lowerCaseNames.contains(name))
            fail(APKValidationError::Case::duplicateFileName);
        lowerCaseNames.insert(name);
    }

    QList<InspectedFile> inspected;
    inspected.reserve(files.size());
    for (const QString &path : files)
        inspected.append(inspect(path));

    APKInstallPlan plan;
    if (inspected.size() == 1) {
        plan.files = files;
    } else {
        QString basePath;
        QStringList otherNames;
        QHash<QString, QString> pathByExactName;
        for (const InspectedFile &file : std::as_const(inspected)) {
            const QString name = lastComponent(file.path);
            if (name.toLower() == QLatin1String("base.apk")) {
                if (!basePath.isNull())
                    fail(APKValidationError::Case::splitSetNeedsBase);
                basePath = file.path;
            } else {
                otherNames.append(name);
                pathByExactName.insert(name, file.path);
            }
        }
        if (basePath.isNull())
            fail(APKValidationError::Case::splitSetNeedsBase);
        // Names differ even ignoring case (tested above), so each sorted name leads back to one path.
        sortByStandardName(otherNames);
        plan.kind = APKInstallPlan::Kind::split;
        plan.files.append(basePath);
        for (const QString &name : std::as_const(otherNames))
            plan.files.append(pathByExactName.value(name));
    }

    plan.signatureSummary = signatureSummary(inspected);
    for (const InspectedFile &file : std::as_const(inspected))
        plan.totalBytes += file.size;
    return plan;
}
