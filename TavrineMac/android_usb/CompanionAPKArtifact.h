#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <exception>
#include <optional>

// Why the companion package that ships with the application cannot be offered for installation.
class CompanionAPKArtifactError : public std::exception
{
public:
    enum class Case
    {
        wrongPackage,
        unavailable,
        metadataMissing,
        invalidMetadata,
        invalidVersion,
        invalidSigningCertificate,
        checksumMismatch,
        invalidAPK,
    };

    static CompanionAPKArtifactError wrongPackage(const QString &packageName)
    {
        return CompanionAPKArtifactError(Case::wrongPackage, packageName);
    }
    explicit CompanionAPKArtifactError(Case errorCase, const QString &packageName = {});

    Case errorCase() const { return m_case; }
    // The package name found, for wrongPackage.
    const QString &packageName() const { return m_packageName; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const CompanionAPKArtifactError &left, const CompanionAPKArtifactError &right)
    {
        return left.m_case == right.m_case && left.m_packageName == right.m_packageName;
    }

private:
    Case m_case;
    QString m_packageName;
    QByteArray m_what;
};

// The metadata file beside the companion package ("Tavrine-Android.json").
struct CompanionAPKMetadata
{
    qint64 schemaVersion = 0;
    QString packageName;
    QString versionName;
    qint64 versionCode = 0;
    QString sha256;
    QString signingCertificateSHA256;
    QString signingCertificateSubject;

    bool operator==(const CompanionAPKMetadata &) const = default;

    // Every key is required and must have its JSON type; other keys are ignored. Nothing if not.
    static std::optional<CompanionAPKMetadata> fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
    // The seven keys in their documented order, compact.
    QByteArray encoded() const;
};

// The companion Android package shipped in "Resources/Android" beside the executable, proven complete and
// consistent with its metadata.
struct CompanionAPKArtifact
{
    QString apkURL; // absolute path of the package
    CompanionAPKMetadata metadata;
    qint64 sizeBytes = 0;

    bool operator==(const CompanionAPKArtifact &) const = default;

    // The application's own resources: "Resources/Android" beside the executable. Throws CompanionAPKArtifactError.
    static CompanionAPKArtifact load();
    // The pair "Tavrine-Android.apk" and "Tavrine-Android.json" in `androidResourceFolder`.
    static CompanionAPKArtifact load(const QString &androidResourceFolder);
    // Checks the pair in order; throws CompanionAPKArtifactError.
    static CompanionAPKArtifact validate(const QString &apkURL, const QString &metadataURL);

    // The folder load() looks in.
    static QString defaultResourceFolder();

    // The only package name the companion may have.
    static constexpr const char *expectedPackageName = "com.drovan.tavrine";
};
