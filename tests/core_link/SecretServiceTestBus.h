#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace gio {
struct Connection;
struct Variant;
} // namespace gio

// Talks to the session's Secret Service directly, for what tests need beyond the keychain interface:
// a collection of their own that they can lock (created without a prompt through the keyring daemon's
// master-password call), and removing their items afterwards. Every call is bounded by callTimeout.
class SecretServiceTestBus
{
public:
    static constexpr std::chrono::milliseconds callTimeout{10000};

    SecretServiceTestBus();
    ~SecretServiceTestBus();
    SecretServiceTestBus(const SecretServiceTestBus &) = delete;
    SecretServiceTestBus &operator=(const SecretServiceTestBus &) = delete;

    bool isConnected() const { return m_connection != nullptr; }
    // The message of the latest failed call.
    const QString &lastError() const { return m_lastError; }

    // The new collection's object path; empty on failure.
    QString createCollection(const QString &label, const QByteArray &password);
    bool lockCollection(const QString &collectionPath);
    bool deleteCollection(const QString &collectionPath);
    QString defaultCollectionPath();
    // Deletes every unlocked item whose "service" attribute is service; the count, or -1 on failure.
    int deleteItems(const QString &service);

private:
    // Takes the parameters; the reply (to be released with release()) or nullptr on failure.
    gio::Variant *call(const QByteArray &objectPath, const char *interfaceName, const char *methodName,
                       gio::Variant *parameters);
    static void release(gio::Variant *reply);
    bool openPlainSession();

    gio::Connection *m_connection = nullptr;
    QByteArray m_sessionPath;
    QString m_lastError;
};
