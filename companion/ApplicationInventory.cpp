#include "ApplicationInventory.h"

#include "FileDescriptor.h"
#include "StorageLayout.h"
#include "WholeFileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr qsizetype maximumPackageNameLength = 255;

void setError(QString *errorMessage, const QString &message)
{
    if (errorMessage) {
        *errorMessage = message;
    }
}

} // namespace

ApplicationInventory::ApplicationInventory(const QString &storageDirectory)
    : m_filePath(StorageLayout::applicationsFilePath(storageDirectory))
{}

std::optional<QList<ManagedApplication>> ApplicationInventory::parse(const QByteArray &bytes, QString *errorMessage)
{
    if (bytes.size() > maximumFileBytes) {
        setError(errorMessage, QStringLiteral("The applications file is larger than %1 bytes").arg(maximumFileBytes));
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        setError(errorMessage, QStringLiteral("The applications file is not a JSON array"));
        return std::nullopt;
    }
    const QJsonArray entries = document.array();
    QList<ManagedApplication> applications;
    QSet<QString> packageNames;
    for (qsizetype index = 0; index < entries.size(); ++index) {
        std::optional<ManagedApplication> application;
        try {
            application = decodeManaged<ManagedApplication>(entries.at(index));
        } catch (const ManagedDecodingError &) {
            // Refused below, by the entry's index.
        }
        if (!application || !isPackageName(application->packageName)) {
            setError(errorMessage,
                     QStringLiteral("Entry %1 of the applications file is not an application").arg(index));
            return std::nullopt;
        }
        if (packageNames.contains(application->packageName)) {
            setError(errorMessage,
                     QStringLiteral("The applications file holds %1 twice").arg(application->packageName));
            return std::nullopt;
        }
        packageNames.insert(application->packageName);
        applications.append(*application);
    }
    return applications;
}

bool ApplicationInventory::isPackageName(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z][A-Za-z0-9_]*(\\.[A-Za-z][A-Za-z0-9_]*)+")));
    return text.size() <= maximumPackageNameLength && pattern.match(text).hasMatch();
}

std::optional<QList<ManagedApplication>> ApplicationInventory::load(QString *errorMessage) const
{
    // Neither a link nor a pipe put in the file's place is read.
    const FileDescriptor descriptor(
        ::open(QFile::encodeName(m_filePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (descriptor.get() < 0) {
        if (errno == ENOENT) {
            return QList<ManagedApplication>();
        }
        setError(
            errorMessage,
            QStringLiteral("Cannot read the applications file: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return std::nullopt;
    }
    struct stat status = {};
    if (::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > maximumFileBytes) {
        setError(
            errorMessage,
            QStringLiteral("The applications file is not a regular file of at most %1 bytes").arg(maximumFileBytes));
        return std::nullopt;
    }
    QFile file;
    if (!file.open(descriptor.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        setError(errorMessage, QStringLiteral("Cannot read the applications file: %1").arg(file.errorString()));
        return std::nullopt;
    }
    // One byte more than allowed tells a file that grew since fstat.
    return parse(file.read(maximumFileBytes + 1), errorMessage);
}

bool ApplicationInventory::save(const QList<ManagedApplication> &applications, QString *errorMessage) const
{
    QJsonArray entries;
    for (const ManagedApplication &application : applications) {
        entries.append(encodeManaged(application));
    }
    QSaveFile file(m_filePath);
    if (!QDir().mkpath(QFileInfo(m_filePath).path()) || !file.open(QIODevice::WriteOnly)) {
        setError(errorMessage, QStringLiteral("Cannot write the applications file: %1").arg(file.errorString()));
        return false;
    }
    QString reason;
    if (!commitWholeFile(file, QJsonDocument(entries).toJson(QJsonDocument::Indented), &reason)) {
        setError(errorMessage, QStringLiteral("Cannot write the applications file: %1").arg(reason));
        return false;
    }
    return true;
}
