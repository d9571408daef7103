#pragma once

#include "TransferCredentialStore.h"

#include <QString>

#include <mutex>

// The keychain of the desktop session: Secret Service items with the attributes "service" and
// "account" in one collection, the default one unless another is named. It never prompts: a locked
// collection or item answers interactionNotAllowed.
class SecretServiceKeychain : public Keychain
{
public:
    // No default collection exists in the Secret Service.
    static constexpr int32_t noDefaultCollection = -25307;
    // Any other Secret Service or D-Bus failure; messageForStatus gives the service's own text.
    static constexpr int32_t serviceFailure = -26000;

    // collectionPath: the D-Bus object path of the collection to use; empty for the default collection.
    explicit SecretServiceKeychain(QString collectionPath = {});

    CopyResult copyMatching(const QString &service, const QString &account) override;
    int32_t update(const QString &service, const QString &account, const QByteArray &data) override;
    int32_t add(const QString &service, const QString &account, const QByteArray &data) override;
    QString messageForStatus(int32_t status) const override;

private:
    // Keeps the message of a service failure for messageForStatus.
    int32_t statusOf(int32_t status, const QString &message);

    QString m_collectionPath;
    mutable std::mutex m_messageMutex;
    QString m_lastFailureMessage;
};
