#include "ReceivedFileDelivery.h"

#include "FileNameRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Another process may take a free name between the check and the move; the move itself never replaces.
constexpr int moveAttempts = 5;

} // namespace

ReceivedFileDelivery::ReceivedFileDelivery(const QString &inboxDirectory) : m_inboxDirectory(inboxDirectory) {}

std::optional<QString> ReceivedFileDelivery::deliver(const QString &fileName, const QString &targetDirectory,
                                                     QString *errorMessage) const
{
    const auto fail = [errorMessage](const QString &message) -> std::optional<QString> {
        if (errorMessage) {
            *errorMessage = message;
        }
        return std::nullopt;
    };

    if (!FileNameRules::isSafeFileName(fileName)) {
        return fail(QStringLiteral("Refusing to deliver a received file with the unsafe name \"%1\"").arg(fileName));
    }
    const QString source = QDir(m_inboxDirectory).filePath(fileName);
    const QFileInfo sourceInfo(source);
    if (sourceInfo.isSymLink() || !sourceInfo.isFile()) {
        return fail(QStringLiteral("The inbox holds no received file named \"%1\"").arg(fileName));
    }

    const QDir target(targetDirectory);
    QString lastError;
    for (int attempt = 0; attempt < moveAttempts; ++attempt) {
        const QString name = FileNameRules::freeFileName(target, fileName);
        QFile file(source);
        if (file.rename(target.filePath(name))) {
            return name;
        }
        lastError = file.errorString();
        if (!QFileInfo::exists(source)) {
            break;
        }
    }
    return fail(QStringLiteral("Could not move the received file \"%1\" into %2: %3")
                    .arg(fileName, QDir::toNativeSeparators(targetDirectory), lastError));
}
