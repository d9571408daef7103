#include "CompanionAPKArtifact.h"

#include "APKArchiveInspector.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

constexpr qint64 digestChunkBytes = 1024 * 1024;
// The metadata is a few hundred bytes; anything far larger is not ours.
constexpr qint64 largestMetadataBytes = 1024 * 1024;

const QString resourceBaseName = QStringLiteral("Tavrine-Android");

std::optional<QString> stringValue(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

// A JSON number that is a whole 64-bit integer.
std::optional<qint64> integerValue(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    // toInteger answers its fallback for fractions and out-of-range values; two fallbacks tell them apart.
    const qint64 integer = value.toInteger(0);
    if (integer == 0 && value.toInteger(1) != 0)
        return std::nullopt;
    return integer;
}

bool isHexDigest(const QString &text)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("[0-9a-fA-F]{64}")));
    return pattern.match(text).hasMatch();
}

// The file's SHA-256 as 64 lower-case hexadecimal digits, read in chunks so memory stays flat; nothing when the
// file cannot be opened or read.
std::optional<QString> sha256Hex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(digestChunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(chunk.data(), chunk.size());
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        hash.addData(QByteArrayView(chunk.constData(), count));
    }
    return QString::fromLatin1(hash.result().toHex());
}

QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2); // without the brackets of the one-element array
}

} // namespace

CompanionAPKArtifactError::CompanionAPKArtifactError(Case errorCase, const QString &packageName)
    : m_case(errorCase), m_packageName(packageName), m_what(errorDescription().toUtf8())
{}

QString CompanionAPKArtifactError::errorDescription() const
{
    switch (m_case) {
    case Case::wrongPackage:
        return QStringLiteral("手机端安装包标识不正确（") + m_packageName + QStringLiteral("），Tavrine 已停止安装。");
    case Case::unavailable:
        return QStringLiteral("当前电脑版本未包含 Tavrine 手机端安装包，请使用扫码连接。");
    case Case::metadataMissing:
        return QStringLiteral("Tavrine 手机端安装信息不完整，请重新安装电脑版 Tavrine。");
    case Case::invalidMetadata:
        return QStringLiteral("Tavrine 手机端安装信息无效，请重新安装电脑版 Tavrine。");
    case Case::invalidVersion:
        return QStringLiteral("手机端安装包版本信息无效，Tavrine 已停止安装。");
    case Case::invalidSigningCertificate:
        return QStringLiteral("手机端安装包缺少可信签名信息，Tavrine 已停止安装。");
    case Case::checksumMismatch:
        return QStringLiteral("手机端安装包校验失败，Tavrine 已停止安装。");
    case Case::invalidAPK:
        return QStringLiteral("内置的手机端安装包已损坏，请重新安装电脑版 Tavrine。");
    }
    return {};
}

std::optional<CompanionAPKMetadata> CompanionAPKMetadata::fromJson(const QJsonObject &object)
{
    const auto schemaVersion = integerValue(object, "schema_version");
    const auto packageName = stringValue(object, "package_name");
    const auto versionName = stringValue(object, "version_name");
    const auto versionCode = integerValue(object, "version_code");
    const auto sha256 = stringValue(object, "sha256");
    const auto certificateDigest = stringValue(object, "signing_certificate_sha256");
    const auto certificateSubject = stringValue(object, "signing_certificate_subject");
    if (!schemaVersion || !packageName || !versionName || !versionCode || !sha256 || !certificateDigest ||
        !certificateSubject)
        return std::nullopt;
    return CompanionAPKMetadata{*schemaVersion, *packageName,       *versionName,       *versionCode,
                                *sha256,        *certificateDigest, *certificateSubject};
}

QJsonObject CompanionAPKMetadata::toJson() const
{
    return QJsonObject{
        {QStringLiteral("schema_version"), schemaVersion},
        {QStringLiteral("package_name"), packageName},
        {QStringLiteral("version_name"), versionName},
        {QStringLiteral("version_code"), versionCode},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("signing_certificate_sha256"), signingCertificateSHA256},
        {QStringLiteral("signing_certificate_subject"), signingCertificateSubject},
    };
}

QByteArray CompanionAPKMetadata::encoded() const
{
    // QJsonDocument sorts keys, so the documented order is written by hand.
    return "{\"schema_version\":" + QByteArray::number(schemaVersion) + ",\"package_name\":" + jsonString(packageName) +
           ",\"version_name\":" + jsonString(versionName) + ",\"version_code\":" + QByteArray::number(versionCode) +
           ",\"sha256\":" + jsonString(sha256) +
           ",\"signing_certificate_sha256\":" + jsonString(signingCertificateSHA256) +
           ",\"signing_certificate_subject\":" + jsonString(signingCertificateSubject) + "}";
}

QString CompanionAPKArtifact::defaultResourceFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Resources/Android");
}

CompanionAPKArtifact CompanionAPKArtifact::load()
{
    return load(defaultResourceFolder());
}

CompanionAPKArtifact CompanionAPKArtifact::load(const QString &androidResourceFolder)
{
    const QDir folder(androidResourceFolder);
    const QString apkPath = folder.filePath(resourceBaseName + QStringLiteral(".apk"));
    const QString metadataPath = folder.filePath(resourceBaseName + QStringLiteral(".json"));
    if (!QFileInfo::exists(apkPath))
        throw CompanionAPKArtifactError(CompanionAPKArtifactError::Case::unavailable);
    if (!QFileInfo::exists(metadataPath))
        throw CompanionAPKArtifactError(CompanionAPKArtifactError::Case::metadataMissing);
    return validate(apkPath, metadataPath);
}

CompanionAPKArtifact CompanionAPKArtifact::validate(const QString &apkURL, const QString &metadataURL)
{
    using Case = CompanionAPKArtifactError::Case;
    if (!QFileInfo::exists(metadataURL))
        throw CompanionAPKArtifactError(Case::metadataMissing);

    QFile metadataFile(metadataURL);
    if (!metadataFile.open(QIODevice::ReadOnly))
        throw CompanionAPKArtifactError(Case::invalidMetadata);
    const QByteArray metadataBytes = metadataFile.read(largestMetadataBytes + 1);
    if (metadataFile.error() != QFileDevice::NoError || metadataBytes.size() > largestMetadataBytes)
        throw CompanionAPKArtifactError(Case::invalidMetadata);

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(metadataBytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        throw CompanionAPKArtifactError(Case::invalidMetadata);
    const std::optional<CompanionAPKMetadata> metadata = CompanionAPKMetadata::fromJson(document.object());
    if (!metadata || metadata->schemaVersion != 1)
        throw CompanionAPKArtifactError(Case::invalidMetadata);
    if (metadata->packageName != QLatin1String(expectedPackageName))
        throw CompanionAPKArtifactError::wrongPackage(metadata->packageName);
    if (metadata->versionName.isEmpty() || metadata->versionCode < 1)
        throw CompanionAPKArtifactError(Case::invalidVersion);
    if (!isHexDigest(metadata->sha256))
        throw CompanionAPKArtifactError(Case::invalidMetadata);
    if (!isHexDigest(metadata->signingCertificateSHA256) || metadata->signingCertificateSubject.trimmed().isEmpty())
        throw CompanionAPKArtifactError(Case::invalidSigningCertificate);

    const std::optional<QString> digest = sha256Hex(apkURL);
    if (!digest)
        throw CompanionAPKArtifactError(Case::invalidAPK);
    if (*digest != metadata->sha256.toLower())
        throw CompanionAPKArtifactError(Case::checksumMismatch);

    qint64 sizeBytes = 0;
    try {
        sizeBytes = APKArchiveInspector::plan({apkURL}).totalBytes;
    } catch (const std::exception &) {
        throw CompanionAPKArtifactError(Case::invalidAPK);
    }
    return {apkURL, *metadata, sizeBytes};
}
