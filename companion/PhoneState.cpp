#include "PhoneState.h"

#include "StorageLayout.h"
#include "WholeFileCommit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

namespace {

const QString connectionMaterialKey = QStringLiteral("connectionMaterial");
const QString peerNameKey = QStringLiteral("peerName");

std::optional<QString> requiredText(const QJsonObject &object, const QString &key, QString *errorMessage)
{
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        if (errorMessage) {
            *errorMessage = value.isUndefined() ? QStringLiteral("the key \"%1\" is missing").arg(key)
                                                : QStringLiteral("the key \"%1\" is not a text").arg(key);
        }
        return std::nullopt;
    }
    return value.toString();
}

} // namespace

QJsonObject PhoneState::toJson() const
{
    return QJsonObject{{connectionMaterialKey, connectionMaterial}, {peerNameKey, peerName}};
}

std::optional<PhoneState> PhoneState::fromJson(const QJsonObject &object, QString *errorMessage)
{
    const std::optional<QString> material = requiredText(object, connectionMaterialKey, errorMessage);
    if (!material) {
        return std::nullopt;
    }
    if (material->isEmpty()) {
        if (errorMessage) {
            *errorMessage = QStringLiteral("the connection material is empty");
        }
        return std::nullopt;
    }
    const std::optional<QString> peerName = requiredText(object, peerNameKey, errorMessage);
    if (!peerName) {
        return std::nullopt;
    }
    return PhoneState{*material, *peerName};
}

PhoneStateLoadResult PhoneState::load(const QString &storageDirectory)
{
    const QString path = StorageLayout::stateFilePath(storageDirectory);
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        return {PhoneStateLoadResult::Status::missing, {}, QStringLiteral("No pairing is stored in %1").arg(shownPath)};
    }
    const auto damaged = [&shownPath](const QString &reason) {
        return PhoneStateLoadResult{PhoneStateLoadResult::Status::damaged,
                                    {},
                                    QStringLiteral("The pairing state in %1 is damaged: %2").arg(shownPath, reason)};
    };

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return damaged(file.errorString());
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return damaged(parseError.errorString());
    }
    if (!document.isObject()) {
        return damaged(QStringLiteral("it is not a JSON object"));
    }
    QString reason;
    const std::optional<PhoneState> state = fromJson(document.object(), &reason);
    if (!state) {
        return damaged(reason);
    }
    return {PhoneStateLoadResult::Status::loaded, *state, {}};
}

bool PhoneState::save(const QString &storageDirectory, QString *errorMessage) const
{
    const auto fail = [errorMessage](const QString &message) {
        if (errorMessage) {
            *errorMessage = message;
        }
        return false;
    };

    const QString folder = StorageLayout::stateFolderPath(storageDirectory);
    if (!QDir().mkpath(folder)) {
        return fail(QStringLiteral("Could not create the folder %1").arg(QDir::toNativeSeparators(folder)));
    }
    const QString path = StorageLayout::stateFilePath(storageDirectory);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return fail(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    // The material lets anyone reconnect as this phone, so it is never readable by others, not even
    // while the file is being written.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return fail(QStringLiteral("Could not restrict the permissions of %1: %2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    QString reason;
    if (!commitWholeFile(file, QJsonDocument(toJson()).toJson(QJsonDocument::Compact), &reason)) {
        return fail(QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(path), reason));
    }
    return true;
}
