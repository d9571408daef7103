#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

// The few operations the credential store needs from a keyring that keeps generic-password items
// keyed by service and account. Implementations never ask the user anything: where the keyring
// would have to prompt, they answer interactionNotAllowed.
class Keychain
{
public:
    static constexpr int32_t success = 0;
    static constexpr int32_t itemNotFound = -25300;
    static constexpr int32_t interactionNotAllowed = -25308;

    struct CopyResult
    {
        int32_t status = success;
        QByteArray data;
    };

    virtual ~Keychain() = default;

    virtual CopyResult copyMatching(const QString &service, const QString &account) = 0;
    virtual int32_t update(const QString &service, const QString &account, const QByteArray &data) = 0;
    virtual int32_t add(const QString &service, const QString &account, const QByteArray &data) = 0;
    // The keyring's own text for a failure status; empty when it has none.
    virtual QString messageForStatus(int32_t status) const = 0;
};

class TransferCredentialError : public std::exception
{
public:
    enum class Case
    {
        keychain,
        encoding,
        invalidRecord
    };

    static TransferCredentialError keychain(int32_t status, const QString &platformMessage = {});
    static TransferCredentialError encoding();
    static TransferCredentialError invalidRecord();

    Case errorCase() const { return m_case; }
    // The keychain status; 0 for the other cases.
    int32_t status() const { return m_status; }
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const TransferCredentialError &left, const TransferCredentialError &right)
    {
        return left.m_case == right.m_case && left.m_status == right.m_status &&
               left.m_platformMessage == right.m_platformMessage;
    }

private:
    TransferCredentialError(Case errorCase, int32_t status, const QString &platformMessage);

    Case m_case;
    int32_t m_status;
    QString m_platformMessage;
    QByteArray m_what;
};

// Keeps the system's secrets as UTF-8 text, one keychain item per account, without user interaction.
class TransferCredentialStore
{
public:
    enum class Account
    {
        hostIdentity,
        trustedPeerSecret,
        trustedPeerName,
        trustedDeviceRegistry
    };

    static QString accountName(Account account);
    // The Secret Service keychain of the user's session.
    static std::shared_ptr<Keychain> systemKeychain();

    explicit TransferCredentialStore(QString service, std::shared_ptr<Keychain> keychain = systemKeychain());

    const QString &service() const { return m_service; }

    // Nothing when no item exists. Throws TransferCredentialError.
    std::optional<QString> read(Account account) const;
    // Creates the item or replaces its value. Throws TransferCredentialError.
    void write(const QString &text, Account account) const;

private:
    TransferCredentialError keychainError(int32_t status) const;

    QString m_service;
    std::shared_ptr<Keychain> m_keychain;
};
