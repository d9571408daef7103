#pragma once

#include "TransferCredentialStore.h"
#include "TrustedDeviceRegistry.h"

#include <QByteArray>
#include <QString>

#include <exception>

class TrustedDeviceRegistryError : public std::exception
{
public:
    enum class Case
    {
        invalidRecord
    };

    static TrustedDeviceRegistryError invalidRecord() { return TrustedDeviceRegistryError(Case::invalidRecord); }

    Case errorCase() const { return m_case; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const TrustedDeviceRegistryError &left, const TrustedDeviceRegistryError &right)
    {
        return left.m_case == right.m_case;
    }

private:
    explicit TrustedDeviceRegistryError(Case errorCase);

    Case m_case;
    QByteArray m_what;
};

// Keeps the trusted-device registry as JSON text in one keychain item and moves the older
// single-phone items into a registry the first time no registry item exists.
class TrustedDeviceRegistryStore
{
public:
    explicit TrustedDeviceRegistryStore(TransferCredentialStore credentials);

    const TransferCredentialStore &credentials() const { return m_credentials; }

    // Throws TrustedDeviceRegistryError, TransferCredentialError or TrustedDeviceDecodingError.
    TrustedDeviceRegistry load() const;
    // Refuses, before writing anything, every registry that load would refuse.
    // Throws TrustedDeviceRegistryError or TransferCredentialError.
    void save(const TrustedDeviceRegistry &registry) const;
    // The text that save writes to the registry item; throws TrustedDeviceRegistryError for a registry that load
    // would refuse.
    static QString encode(const TrustedDeviceRegistry &registry);

private:
    TrustedDeviceRegistry migrateLegacyItems() const;

    TransferCredentialStore m_credentials;
};
